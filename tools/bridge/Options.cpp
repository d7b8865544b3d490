#include "tools/bridge/Options.h"

#include "protocol/printable.h"
#include "serial/LineSettings.h"
#include "settings/modINI.h"
#include "common/CommandLine.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace bridge {

namespace {

Checked<NamedLine> namedLine(const QString& text, const QString& defaultSettings)
{
    const int equals = text.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return Refusal{QStringLiteral("--line \"%1\": give NAME=PORT[@SETTINGS]").arg(text)};
    NamedLine line{text.left(equals).trimmed(), text.mid(equals + 1).trimmed(), defaultSettings};
    if (!isTopicLevel(line.name) || line.name == QLatin1String("bridge"))
        return Refusal{QStringLiteral("--line \"%1\": the name must be one topic level other than "
                                      "\"bridge\", without / + #")
                           .arg(text)};
    // Settings go after the last '@': a URL's user part may hold one too.
    const int at = line.port.lastIndexOf(QLatin1Char('@'));
    if (at >= 0 && !line.port.mid(at + 1).contains(QLatin1Char('/'))) {
        line.settings = line.port.mid(at + 1).trimmed();
        line.port = line.port.left(at).trimmed();
    }
    if (line.port.isEmpty())
        return Refusal{QStringLiteral("--line \"%1\": no port").arg(text)};
    if (!parseLineSettings(line.settings))
        return Refusal{QStringLiteral("--line \"%1\": \"%2\" is not line settings such as %3")
                           .arg(text, line.settings, QLatin1String(DefaultLineSettings))};
    return line;
}

Checked<bool> modulesOption(Config& config, const QString& text)
{
    // LINE:1,2,5
    const int colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return Refusal{QStringLiteral("--modules \"%1\": give LINE:UID,UID...").arg(text)};
    const QString line = text.left(colon).trimmed();
    QList<int> uids;
    for (const QString& word : text.mid(colon + 1).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int uid = word.trimmed().toInt(&ok);
        if (!ok || uid < 0 || uid > 255)
            return Refusal{QStringLiteral("--modules \"%1\": \"%2\" is not a UID 0 to 255")
                               .arg(text, word.trimmed())};
        if (!uids.contains(uid))
            uids.append(uid);
    }
    config.modules[line] = uids;
    return true;
}

Checked<bool> brokerOption(Config& config, const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
        !url.userInfo().isEmpty() || (!url.path().isEmpty() && url.path() != QLatin1String("/")))
        return Refusal{QStringLiteral("--broker \"%1\": give mqtt://HOST[:PORT] or "
                                      "mqtts://HOST[:PORT] (a login goes in --credentials)")
                           .arg(text)};
    config.tls = scheme == QLatin1String("mqtts");
    config.host = url.host();
    config.port = url.port(config.tls ? 8883 : 1883);
    return true;
}

bool isTrue(const QString& value)
{
    return value == QLatin1String("1") ||
           value.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0 ||
           value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

} // namespace

Checked<Config> parseOptions(const QStringList& args, const QString& defaultSettings)
{
    Config config;
    QStringList lines;
    QStringList modules;
    QString broker;
    QString configFile;
    QMap<QString, bool> flags;
    QMap<QString, QString> values;
    static const QStringList valued = {"--broker",    "--cafile",   "--credentials",
                                       "--client-id", "--prefix",   "--line",
                                       "--modules",   "--config",   "--discovery-prefix",
                                       "--web",       "--web-base", "--web-token-file"};
    static const QStringList switches = {"--allow-raw", "--allow-config", "--discovery", "--help",
                                         "--version"};
    for (int i = 0; i < args.size(); ++i) {
        QString name = args[i];
        QString value;
        const int equals = name.indexOf(QLatin1Char('='));
        const bool inline_ = name.startsWith(QLatin1String("--")) && equals > 0;
        if (inline_) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        }
        if (name == QLatin1String("-h"))
            name = QStringLiteral("--help");
        if (switches.contains(name) && !inline_) {
            flags[name] = true;
            continue;
        }
        if (!valued.contains(name))
            return Refusal{QStringLiteral("unknown option \"%1\". %2")
                               .arg(protocol::printable(args[i], protocol::QuotedChars),
                                    cli::tryHelp("quendra-bridge"))};
        if (!inline_) {
            if (i + 1 >= args.size())
                return Refusal{QStringLiteral("%1 needs a value").arg(name)};
            value = args[++i];
        }
        if (name == QLatin1String("--line"))
            lines << value;
        else if (name == QLatin1String("--modules"))
            modules << value;
        else
            values[name] = value;
    }
    if (flags.value(QStringLiteral("--help"))) {
        config.help = true;
        return config;
    }
    if (flags.value(QStringLiteral("--version"))) {
        config.version = true;
        return config;
    }

    // The settings file fills in what the command line leaves out.
    configFile = values.value(QStringLiteral("--config"));
    QByteArray file;
    if (!configFile.isEmpty()) {
        QFile f(configFile);
        if (!f.open(QIODevice::ReadOnly))
            return Refusal{QStringLiteral("--config \"%1\": %2").arg(configFile, f.errorString())};
        file = f.read(1 << 20);
        const auto section = modINI::iniSection(file, QStringLiteral("Bridge"));
        const QMap<QString, QString> keys = {{"broker", "--broker"},
                                             {"cafile", "--cafile"},
                                             {"credentials", "--credentials"},
                                             {"clientid", "--client-id"},
                                             {"prefix", "--prefix"},
                                             {"discoveryprefix", "--discovery-prefix"},
                                             {"web", "--web"},
                                             {"webbase", "--web-base"},
                                             {"webtokenfile", "--web-token-file"}};
        for (const auto& [key, value] : section) {
            const QString k = key.toLower();
            if (keys.contains(k) && !values.contains(keys[k]))
                values[keys[k]] = value;
            else if (k == QLatin1String("allowraw") && isTrue(value))
                flags[QStringLiteral("--allow-raw")] = true;
            else if (k == QLatin1String("allowconfig") && isTrue(value))
                flags[QStringLiteral("--allow-config")] = true;
            else if (k == QLatin1String("discovery") && isTrue(value))
                flags[QStringLiteral("--discovery")] = true;
        }
        QStringList named;
        for (const QString& line : lines)
            named << line.section(QLatin1Char('='), 0, 0).trimmed();
        for (const auto& [name, port] : modINI::iniSection(file, QStringLiteral("Lines"))) {
            if (!named.contains(name))
                lines << name + QLatin1Char('=') + port;
        }
        for (const auto& [name, uids] : modINI::iniSection(file, QStringLiteral("Modules")))
            modules.prepend(name + QLatin1Char(':') + uids);
    }

    broker = values.value(QStringLiteral("--broker"));
    if (!broker.isEmpty()) {
        const Checked<bool> ok = brokerOption(config, broker);
        if (!ok)
            return Refusal{ok.message()};
    }
    config.caFile = values.value(QStringLiteral("--cafile"));
    config.credentialsFile = values.value(QStringLiteral("--credentials"));
    config.clientId = values.value(QStringLiteral("--client-id"));
    config.prefix = values.value(QStringLiteral("--prefix"), config.prefix);
    config.discoveryPrefix =
        values.value(QStringLiteral("--discovery-prefix"), config.discoveryPrefix);
    config.allowed.raw = flags.value(QStringLiteral("--allow-raw"));
    config.allowed.config = flags.value(QStringLiteral("--allow-config"));
    config.discovery = flags.value(QStringLiteral("--discovery"));
    for (const QString& level : config.prefix.split(QLatin1Char('/'))) {
        if (!isTopicLevel(level))
            return Refusal{QStringLiteral("--prefix \"%1\": not a topic without wildcards")
                               .arg(config.prefix)};
    }
    for (const QString& text : lines) {
        const Checked<NamedLine> line = namedLine(text, defaultSettings);
        if (!line)
            return Refusal{line.message()};
        for (const NamedLine& other : config.lines) {
            if (other.name == line->name)
                return Refusal{QStringLiteral("line \"%1\" is named twice").arg(line->name)};
            // One writer per line: two would interleave their frames' bytes.
            if (other.port == line->port)
                return Refusal{QStringLiteral("lines \"%1\" and \"%2\" are both on %3")
                                   .arg(other.name, line->name, line->port)};
        }
        config.lines << *line;
    }
    if (config.lines.isEmpty())
        return Refusal{QStringLiteral("no line: give --line NAME=PORT[@SETTINGS]")};
    for (const QString& text : modules) {
        const Checked<bool> ok = modulesOption(config, text);
        if (!ok)
            return Refusal{ok.message()};
    }
    for (auto it = config.modules.cbegin(); it != config.modules.cend(); ++it) {
        const bool known = std::any_of(config.lines.cbegin(), config.lines.cend(),
                                       [&](const NamedLine& l) { return l.name == it.key(); });
        if (!known)
            return Refusal{QStringLiteral("--modules: no line named \"%1\"").arg(it.key())};
    }
    if (const Checked<void> web = webOptions(config.web, values); !web)
        return Refusal{web.message()};
    // The page drives the lines on its own when no broker is named.
    config.broker = !broker.isEmpty() || config.web.address.isNull();
    if (config.tls && config.caFile.isEmpty())
        return Refusal{QStringLiteral("mqtts:// needs --cafile FILE")};
    if (!config.caFile.isEmpty() && !QFileInfo(config.caFile).isReadable())
        return Refusal{QStringLiteral("--cafile \"%1\": cannot be read").arg(config.caFile)};
    return config;
}

Checked<Credentials> readCredentials(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Refusal{QStringLiteral("--credentials \"%1\": %2").arg(path, file.errorString())};
    const QByteArray content = file.read(1 << 16);
    Credentials c{
        modINI::iniValue(content, QStringLiteral("Credentials"), QStringLiteral("User")),
        modINI::iniValue(content, QStringLiteral("Credentials"), QStringLiteral("Password"))};
    if (c.user.isEmpty())
        return Refusal{
            QStringLiteral("--credentials \"%1\": no User in section [Credentials]").arg(path)};
    return c;
}

QString defaultClientId(const Config& config, const QString& hostName)
{
    QStringList names;
    for (const NamedLine& line : config.lines)
        names << line.name;
    names.sort();
    return QStringLiteral("quendra-bridge-%1-%2").arg(hostName, names.join(QLatin1Char('-')));
}

QString helpText()
{
    return QStringLiteral(
        "Usage: quendra-bridge --line NAME=PORT[@SETTINGS]... [OPTIONS]\n"
        "Drives Quendra LED modules from an MQTT broker: PREFIX/LINE/UID/COMMAND/set\n"
        "puts one frame on the line; PREFIX/LINE/UID/COMMAND (retained) then holds the\n"
        "value the line took. COMMAND is text, dp, long, short, segments or brightness.\n"
        "\n"
        "Options:\n"
        "  --line NAME=PORT[@SETTINGS]  a line: COMn, a device, rfc2217:// or socket://;\n"
        "                               settings such as 9600,n,8,1 (repeat for more lines)\n"
        "  --broker URL                 mqtt://HOST[:PORT] (default mqtt://127.0.0.1:1883)\n"
        "                               or mqtts://HOST[:PORT] with --cafile\n"
        "  --cafile FILE                certificate authority for mqtts://\n"
        "  --credentials FILE           [Credentials] User= and Password= for the broker\n"
        "  --client-id ID               the bridge's session at the broker\n"
        "  --prefix TOPIC               topic prefix (default quendra)\n"
        "  --allow-raw                  accept PREFIX/LINE/raw/set (a hex frame)\n"
        "  --allow-config               accept PREFIX/LINE/config/set (\"RATE NEWUID\")\n"
        "  --discovery                  announce modules to Home Assistant\n"
        "  --discovery-prefix TOPIC     discovery prefix (default homeassistant)\n"
        "  --modules LINE:UID,UID...    the modules to announce on a line\n"
        "  --web ADDRESS:PORT           serve the operator's page there (127.0.0.1 when\n"
        "                               only a port is given); no broker unless --broker\n"
        "  --web-base PATH              serve the page under PATH, such as /displays/\n"
        "  --web-token-file FILE        the page and its WebSocket need the token in FILE\n"
        "  --config FILE                read [Bridge], [Lines] and [Modules] from FILE\n"
        "  -h, --help                   show this help\n"
        "  --version                    show the version\n");
}

} // namespace bridge
