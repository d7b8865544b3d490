#include "serial/PortName.h"

#include "serial/DeviceLine.h"
#include "serial/NetworkLine.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {

// Each scheme and the line that serves it; a name with no "://" is a device.
struct Scheme
{
    const char* name;
    NetworkAddress::Kind kind;
};
constexpr Scheme NetworkSchemes[] = {
    {"rfc2217", NetworkAddress::Kind::Rfc2217},
    {"socket", NetworkAddress::Kind::Socket},
};

// The parsed address, or why there is none.
std::optional<NetworkAddress> parseAddress(const QString& name, QString* problem)
{
    const qsizetype mark = name.indexOf(QLatin1String("://"));
    if (mark < 0) {
        *problem = QStringLiteral("%1: not a network address").arg(name);
        return std::nullopt;
    }
    const QString scheme = name.left(mark).toLower();
    NetworkAddress address;
    const auto known =
        std::find_if(std::begin(NetworkSchemes), std::end(NetworkSchemes),
                     [&scheme](const Scheme& s) { return scheme == QLatin1String(s.name); });
    if (known != std::end(NetworkSchemes)) {
        address.kind = known->kind;
    } else {
        *problem = QStringLiteral("%1: unknown kind of port \"%2\"; use rfc2217:// or socket://")
                       .arg(name, name.left(mark));
        return std::nullopt;
    }

    const QString rest = name.mid(mark + 3);
    QString host;
    QString port;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0 || rest.mid(close + 1, 1) != QLatin1String(":")) {
            *problem = QStringLiteral("%1: write the address as %2://HOST:PORT").arg(name, scheme);
            return std::nullopt;
        }
        host = rest.mid(1, close - 1);
        port = rest.mid(close + 2);
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol) {
            *problem = QStringLiteral("%1: \"%2\" is not an IPv6 address").arg(name, host);
            return std::nullopt;
        }
    } else {
        const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) {
            *problem = QStringLiteral("%1: no port number; write %2://HOST:PORT").arg(name, scheme);
            return std::nullopt;
        }
        host = rest.left(colon);
        port = rest.mid(colon + 1);
        for (const QChar c : host) {
            if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') ||
                  c == QLatin1Char('_'))) {
                *problem =
                    QStringLiteral("%1: \"%2\" is not a host name or address").arg(name, host);
                return std::nullopt;
            }
        }
    }
    if (host.isEmpty()) {
        *problem = QStringLiteral("%1: no host; write %2://HOST:PORT").arg(name, scheme);
        return std::nullopt;
    }
    bool digits = !port.isEmpty() && port.size() <= 5;
    for (const QChar c : port)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int number = digits ? port.toInt() : 0;
    if (number < 1 || number > 65535) {
        *problem = QStringLiteral("%1: port number \"%2\" is not 1 to 65535").arg(name, port);
        return std::nullopt;
    }
    address.host = host;
    address.port = quint16(number);
    problem->clear();
    return address;
}

} // namespace

QString NetworkAddress::display() const
{
    const QString h = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(h).arg(port);
}

bool isNetworkPortName(const QString& name)
{
    return name.contains(QLatin1String("://"));
}

std::optional<NetworkAddress> parseNetworkPortName(const QString& name)
{
    QString problem;
    return parseAddress(name, &problem);
}

QString networkPortNameProblem(const QString& name)
{
    QString problem;
    parseAddress(name, &problem);
    return problem;
}

Checked<std::unique_ptr<Line>> lineFor(const QString& name)
{
    if (!isNetworkPortName(name))
        return std::unique_ptr<Line>(std::make_unique<DeviceLine>(name));
    QString problem;
    if (const std::optional<NetworkAddress> address = parseAddress(name, &problem))
        return std::unique_ptr<Line>(std::make_unique<NetworkLine>(*address));
    return Refusal{problem};
}

std::optional<int> comPortNumber(const QString& text, bool bareNumber)
{
    static const QRegularExpression com(QStringLiteral("^COM([0-9]+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression bare(QStringLiteral("^(?:COM)?([0-9]+)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = (bareNumber ? bare : com).match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const int n = match.captured(1).toInt(&ok);
    return ok ? n : 0; // a number too long for an int is no port either
}

QString platformPortName(int n)
{
#ifdef Q_OS_WIN
    // Past COM9 the system knows the port only by its device name.
    return n > 9 ? QStringLiteral("\\\\.\\COM%1").arg(n) : QStringLiteral("COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

bool isSystemPortName(const QString& name)
{
    if (isNetworkPortName(name))
        return true;
#ifdef Q_OS_WIN
    static const QRegularExpression systemPort(QStringLiteral(R"(^(COM[0-9]+|\\\\\.\\.+)$)"),
                                               QRegularExpression::CaseInsensitiveOption);
    return systemPort.match(name).hasMatch();
#else
    return false;
#endif
}
