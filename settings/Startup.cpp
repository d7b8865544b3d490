#include "settings/Startup.h"

#include "serial/PortName.h"
#include "settings/modINI.h"

#include <QDir>
#include <QFileInfo>

namespace modINI {

namespace {

// Network ports ("rfc2217://host:port"), the system's port names and
// absolute paths stand as written; anything else lies in the program's
// folder.
QString portName(const QString& written)
{
    if (isSystemPortName(written) || QDir::isAbsolutePath(written))
        return written;
    return AppFolder() + written;
}

} // namespace

StartupSettings ReadStartupSettings()
{
    const QString section = QStringLiteral("Settings");
    StartupSettings settings;
    settings.filePath = AppFolder() + QLatin1String(FileName);
    settings.fileFound = QFileInfo(settings.filePath).isFile();
    settings.commPort = ReadINI(section, QStringLiteral("CommPort"));
    settings.settings = ReadINI(section, QStringLiteral("Setting"));
    settings.slaveId = ReadINI(section, QStringLiteral("SlaveID"));

    for (const auto& [key, value] : ReadSection(QStringLiteral("Ports"))) {
        const int n = comPortNumber(key).value_or(0);
        if (n >= 1 && n <= MaxComPort && !value.isEmpty() && !settings.ports.contains(n))
            settings.ports.insert(n, portName(value));
    }
    return settings;
}

Checked<int> configuredCommPort(const StartupSettings& settings, int highest)
{
    bool isNumber = false;
    const int number = settings.commPort.toInt(&isNumber);
    if (isNumber && number >= 1 && number <= highest)
        return number;
    if (!settings.fileFound)
        return Refusal{
            QStringLiteral("%1 is missing; the README (\"Settings\") has a sample to put there")
                .arg(QDir::toNativeSeparators(settings.filePath))};
    return Refusal{QStringLiteral("%1: CommPort \"%2\" is not a port from 1 to %3")
                       .arg(QDir::toNativeSeparators(settings.filePath), settings.commPort)
                       .arg(highest)};
}

QString missingFileNote(const StartupSettings& settings)
{
    return settings.fileFound ? QString()
                              : QStringLiteral(" (%1 is missing; the README has a sample)")
                                    .arg(QDir::toNativeSeparators(settings.filePath));
}

} // namespace modINI
