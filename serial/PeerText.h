#pragma once

#include <QByteArray>
#include <QString>

// What a terminal server (or anything else across the network) said, made
// fit to quote in a message: read as UTF-8 with U+FFFD for what is not,
// runs of white space as one blank, every other control or format character
// written as \xNN or \uNNNN (a backslash as \\), and cut to maxChars
// characters with "..." after it. Nothing in it can colour a terminal, ring
// its bell or turn into markup that means anything but itself.
QString peerText(const QByteArray& said, int maxChars = 80);
