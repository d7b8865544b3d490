#pragma once

#include "serial/LineSettings.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The line settings an rfc2217:// line asks of its terminal server, each as
// one COM-PORT-OPTION command.

// One port setting asked of the server: its COM-PORT-OPTION command, the
// value asked (which the server's answer must repeat), and its name for
// messages.
struct ComPortSetting
{
    unsigned char command = 0;
    QByteArray asked;
    QString name;
    bool agreed = false;
};

// Rate, data bits, parity, stop bits and flow control, in the order they are
// asked and a server answers them.
std::vector<ComPortSetting> comPortSettings(const LineSettings& settings);
