#pragma once

#include "common/Checked.h"
#include "settings/modINI.h"

#include <QList>
#include <QMap>
#include <QString>

// quendra-bridge's settings file (--config FILE), read by the panel's
// settings reader's rules but strictly.
namespace bridge {

// The keys of section [Bridge], in small letters, and the option each
// stands for ("broker" -> "--broker").
const QMap<QString, QString>& bridgeKeys();

// A switch's value: yes, true or 1; no, false or 0.
bool isTrue(const QString& value);
bool isFalse(const QString& value);

// "bridge.ini:7", for a refusal that points into the settings file.
QString fileLine(const QString& path, int line);

// The settings file, each line checked: a section the bridge does not read,
// a key of [Bridge] it does not know, a line that is no section and no key,
// and a key given twice are refused, naming the line, so that a slip of the
// keyboard never leaves the bridge on its defaults without a word.
Checked<QList<modINI::IniLine>> configLines(const QString& path);

} // namespace bridge
