// quendra-bridge's settings file (--config): the keys of its [Bridge]
// section, its switches, and every line checked before any of it is used.
#include "tools/bridge/ConfigFile.h"

#include "protocol/printable.h"
#include "tools/bridge/Options.h"

#include <QFile>

namespace bridge {

const QMap<QString, QString>& bridgeKeys()
{
    static const QMap<QString, QString> keys = {
        {"broker", "--broker"},           {"cafile", "--cafile"},
        {"credentials", "--credentials"}, {"clientid", "--client-id"},
        {"prefix", "--prefix"},           {"discoveryprefix", "--discovery-prefix"},
        {"allowraw", "--allow-raw"},      {"allowconfig", "--allow-config"},
        {"discovery", "--discovery"},     {"web", "--web"},
        {"webbase", "--web-base"},        {"webtokenfile", "--web-token-file"}};
    return keys;
}

bool isTrue(const QString& value)
{
    return value == QLatin1String("1") ||
           value.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0 ||
           value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

bool isFalse(const QString& value)
{
    return value == QLatin1String("0") ||
           value.compare(QLatin1String("no"), Qt::CaseInsensitive) == 0 ||
           value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
}

QString fileLine(const QString& path, int line)
{
    return QStringLiteral("%1:%2").arg(path).arg(line);
}

Checked<QList<modINI::IniLine>> configLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Refusal{
            QStringLiteral("--config \"%1\": %2").arg(withoutSecret(path), f.errorString())};
    const QList<modINI::IniLine> lines = modINI::iniLines(f.read(1 << 20));
    static const QStringList sections = {"Bridge", "Lines", "Modules"};
    QMap<QString, int> seen; // "section/key" in small letters, and its line
    for (const modINI::IniLine& line : lines) {
        const QString at = fileLine(path, line.number);
        const QString section = line.section.value_or(QString());
        if (line.kind == modINI::IniLine::Other)
            return Refusal{QStringLiteral("%1: neither [SECTION] nor KEY=VALUE").arg(at)};
        if (line.kind == modINI::IniLine::Section) {
            if (!sections.contains(section, Qt::CaseInsensitive))
                return Refusal{
                    QStringLiteral("%1: unknown section [%2]; the bridge reads [Bridge], "
                                   "[Lines] and [Modules]")
                        .arg(at, protocol::printable(section, protocol::QuotedChars))};
            continue;
        }
        const QString key = protocol::printable(line.key, protocol::QuotedChars);
        if (!line.section)
            return Refusal{QStringLiteral("%1: \"%2\" stands before any section").arg(at, key)};
        if (section.compare(QLatin1String("Bridge"), Qt::CaseInsensitive) == 0 &&
            !bridgeKeys().contains(line.key.toLower()))
            return Refusal{QStringLiteral("%1: unknown key \"%2\" in [Bridge]").arg(at, key)};
        const QString id = section.toLower() + QLatin1Char('/') + line.key.toLower();
        if (seen.contains(id))
            return Refusal{QStringLiteral("%1: \"%2\" is given again in [%3] (first on line %4)")
                               .arg(at, key, section)
                               .arg(seen.value(id))};
        seen.insert(id, line.number);
    }
    return lines;
}

} // namespace bridge
