#include "serial/PortName.h"

#include "serial/DeviceLine.h"
#include "serial/NetworkLineEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QMutex>
#include <QUrl>

#include <algorithm>

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

// Whether the text is an IPv6 address, with or without a zone ("fe80::1%eth0").
// Read with Qt Core's URL parser, so that reading a port name maps no
// network library.
bool isIpv6Address(const QString& text)
{
    const qsizetype percent = text.indexOf(QLatin1Char('%'));
    const QString address = text.left(percent);
    if (!address.contains(QLatin1Char(':')) || address.contains(QLatin1Char('[')))
        return false;
    if (percent >= 0) {
        const QString zone = text.mid(percent + 1);
        if (zone.isEmpty() || !std::all_of(zone.begin(), zone.end(), [](QChar c) {
                return c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') ||
                       c == QLatin1Char('_');
            }))
            return false;
    }
    QUrl url;
    url.setHost(address, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty();
}

#ifdef QUENDRA_NETWORK_LINE_LINKED

// Linked into the program itself: a Windows program is one file.
Checked<NewNetworkLine> networkLineMaker()
{
    return &quendraNewNetworkLine;
}

#else

// The network line's library, loaded the first time a network port is
// named; a program that only ever opens devices never maps it, nor Qt
// Network. It lies in lib/ in the program's own folder (the real one, behind
// the launcher links). Kept loaded for the rest of the run.
Checked<NewNetworkLine> networkLineMaker()
{
    static QMutex guard;
    static NewNetworkLine maker = nullptr;
    const QMutexLocker lock(&guard);
    if (maker)
        return maker;
    const QString file = QLatin1String(QUENDRA_NETWORK_LINE_FILE);
    if (!QCoreApplication::instance())
        return Refusal{
            QStringLiteral("the network line (%1) is loaded by a running program only").arg(file)};
    const QDir folder(QCoreApplication::applicationDirPath() + QLatin1String("/lib"));
    const QString path = folder.filePath(file);
    // Asked for a file that is not there, QLibrary tries other names and
    // reports the last of those; the operator is better told which file.
    if (!QFileInfo::exists(path))
        return Refusal{QStringLiteral("the network line could not be loaded: %1 is missing")
                           .arg(QDir::toNativeSeparators(path))};
    QLibrary library(path);
    if (!library.load())
        return Refusal{
            QStringLiteral("the network line could not be loaded: %1").arg(library.errorString())};
    maker = reinterpret_cast<NewNetworkLine>(library.resolve(NewNetworkLineName));
    if (!maker)
        return Refusal{QStringLiteral("the network line could not be loaded: %1 offers no %2")
                           .arg(library.fileName(), QLatin1String(NewNetworkLineName))};
    return maker;
}

#endif

} // namespace

Checked<NetworkAddress> parseNetworkPortName(const QString& name)
{
    const qsizetype mark = name.indexOf(QLatin1String("://"));
    if (mark < 0)
        return Refusal{QStringLiteral("%1: not a network address").arg(name)};
    const QString scheme = name.left(mark).toLower();
    NetworkAddress address;
    const auto known =
        std::find_if(std::begin(NetworkSchemes), std::end(NetworkSchemes),
                     [&scheme](const Scheme& s) { return scheme == QLatin1String(s.name); });
    if (known != std::end(NetworkSchemes)) {
        address.kind = known->kind;
    } else {
        return Refusal{
            QStringLiteral("%1: unknown kind of port \"%2\"; use rfc2217:// or socket://")
                .arg(name, name.left(mark))};
    }

    const QString rest = name.mid(mark + 3);
    QString host;
    QString port;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0 || rest.mid(close + 1, 1) != QLatin1String(":")) {
            return Refusal{
                QStringLiteral("%1: write the address as %2://HOST:PORT").arg(name, scheme)};
        }
        host = rest.mid(1, close - 1);
        port = rest.mid(close + 2);
        if (!isIpv6Address(host))
            return Refusal{QStringLiteral("%1: \"%2\" is not an IPv6 address").arg(name, host)};
    } else {
        const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) {
            return Refusal{
                QStringLiteral("%1: no port number; write %2://HOST:PORT").arg(name, scheme)};
        }
        host = rest.left(colon);
        port = rest.mid(colon + 1);
        for (const QChar c : host) {
            if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') ||
                  c == QLatin1Char('_'))) {
                return Refusal{
                    QStringLiteral("%1: \"%2\" is not a host name or address").arg(name, host)};
            }
        }
    }
    if (host.isEmpty())
        return Refusal{QStringLiteral("%1: no host; write %2://HOST:PORT").arg(name, scheme)};
    bool digits = !port.isEmpty() && port.size() <= 5;
    for (const QChar c : port)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int number = digits ? port.toInt() : 0;
    if (number < 1 || number > 65535)
        return Refusal{QStringLiteral("%1: port number \"%2\" is not 1 to 65535").arg(name, port)};
    address.host = host;
    address.port = quint16(number);
    return address;
}

QString NetworkAddress::display() const
{
    const QString h = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(h).arg(port);
}

bool isNetworkPortName(const QString& name)
{
    return name.contains(QLatin1String("://"));
}

Checked<std::unique_ptr<Line>> lineFor(const QString& name)
{
    if (!isNetworkPortName(name))
        return std::unique_ptr<Line>(std::make_unique<DeviceLine>(name));
    const Checked<NetworkAddress> address = parseNetworkPortName(name);
    if (!address)
        return Refusal{address.message()};
    const Checked<NewNetworkLine> make = networkLineMaker();
    if (!make)
        return Refusal{QStringLiteral("%1: %2").arg(name, make.message())};
    return std::unique_ptr<Line>((*make)(*address));
}

std::optional<int> comPortNumber(const QString& text, bool bareNumber)
{
    // Read by hand: the only pattern matching a start needs, and the
    // expression engine would be loaded for it alone.
    QStringView digits(text);
    if (digits.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        digits = digits.mid(3);
    else if (!bareNumber)
        return std::nullopt;
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        }))
        return std::nullopt;
    bool ok = false;
    const int n = digits.toInt(&ok);
    return ok ? n : 0; // a number too long for an int is no port either
}

QString platformPortName(int n)
{
#ifdef Q_OS_WIN
    // The device name, which every COMn has (COM10 and above have no other).
    return QStringLiteral("\\\\.\\COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

bool isSystemPortName(const QString& name)
{
    if (isNetworkPortName(name))
        return true;
#ifdef Q_OS_WIN
    return comPortNumber(name).has_value() ||
           (name.startsWith(QLatin1String("\\\\.\\")) && name.size() > 4);
#else
    return false;
#endif
}
