#include "tools/bridge/WebAccess.h"

#include "protocol/printable.h"

#include <QFile>
#include <QRegularExpression>
#include <QUrl>

namespace bridge {

namespace {

QString quoted(const QString& text)
{
    return protocol::printable(text, protocol::QuotedChars);
}

// "8080", "127.0.0.1:8080", "[::1]:8080", "localhost:8080".
Checked<void> listenOption(WebConfig& web, const QString& text)
{
    const Refusal refusal{QStringLiteral("--web \"%1\": give ADDRESS:PORT, such as 127.0.0.1:8080")
                              .arg(quoted(text))};
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QStringLiteral("127.0.0.1") : text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        host = QStringLiteral("127.0.0.1");
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const QString port = text.mid(colon + 1);
    const QHostAddress address(host);
    if (address.isNull() || !digits.match(port).hasMatch() || port.toInt() > 65535)
        return refusal;
    web.address = address;
    web.port = quint16(port.toInt());
    return {};
}

// "/displays" and "/displays/" both serve the page at /displays/.
Checked<void> baseOption(WebConfig& web, QString text)
{
    if (!text.endsWith(QLatin1Char('/')))
        text += QLatin1Char('/');
    static const QRegularExpression path(QStringLiteral("^(/[A-Za-z0-9._~-]+)*/$"));
    if (!path.match(text).hasMatch() || text.contains(QLatin1String("/./")) ||
        text.contains(QLatin1String("/../")))
        return Refusal{QStringLiteral("--web-base \"%1\": give a path such as /displays/, in "
                                      "letters, digits and . _ ~ -")
                           .arg(quoted(text))};
    web.base = text;
    return {};
}

} // namespace

Checked<void> webOptions(WebConfig& web, const QMap<QString, QString>& values)
{
    const QString listen = values.value(QStringLiteral("--web"));
    const QString base = values.value(QStringLiteral("--web-base"));
    web.tokenFile = values.value(QStringLiteral("--web-token-file"));
    if (listen.isEmpty()) {
        if (!base.isEmpty() || !web.tokenFile.isEmpty())
            return Refusal{
                QStringLiteral("--web-base and --web-token-file need --web ADDRESS:PORT")};
        return {};
    }
    if (Checked<void> ok = listenOption(web, listen); !ok)
        return ok;
    if (!base.isEmpty())
        return baseOption(web, base);
    return {};
}

Checked<QByteArray> readToken(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Refusal{
            QStringLiteral("--web-token-file \"%1\": %2").arg(quoted(path), file.errorString())};
    const QByteArray token = file.readLine(4096).trimmed();
    const auto bad = [&](const QString& why) {
        return Refusal{QStringLiteral("--web-token-file \"%1\": %2").arg(quoted(path), why)};
    };
    if (token.size() < MinTokenLength)
        return bad(QStringLiteral("the token on its first line has fewer than %1 characters "
                                  "(openssl rand -hex 16 makes one)")
                       .arg(MinTokenLength));
    for (const char c : token) {
        if (uchar(c) < 0x21 || uchar(c) == 0x7F)
            return bad(QStringLiteral("the token holds a blank or a control character"));
    }
    return token;
}

bool sameToken(const QByteArray& given, const QByteArray& token)
{
    // Every byte is looked at whatever the first difference, so the time
    // taken tells nothing of how much of a guess was right.
    unsigned char difference = given.size() == token.size() ? 0 : 1;
    for (qsizetype i = 0; i < given.size(); ++i)
        difference |= uchar(given[i]) ^ uchar(token[i % qMax<qsizetype>(1, token.size())]);
    return difference == 0 && !token.isEmpty();
}

bool authorizes(const QByteArray& header, const QByteArray& token)
{
    const QByteArray value = header.trimmed();
    const int space = value.indexOf(' ');
    if (space <= 0)
        return false;
    const QByteArray scheme = value.left(space).toLower();
    const QByteArray credentials = value.mid(space + 1).trimmed();
    if (scheme == "bearer")
        return sameToken(credentials, token);
    if (scheme != "basic")
        return false;
    const auto decoded =
        QByteArray::fromBase64Encoding(credentials, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    const int colon = decoded.decoded.indexOf(':');
    return colon >= 0 && sameToken(decoded.decoded.mid(colon + 1), token);
}

bool sameOrigin(const QByteArray& origin, const QByteArray& host)
{
    if (origin.isEmpty())
        return true;
    const QUrl from(QString::fromLatin1(origin), QUrl::StrictMode);
    const QString scheme = from.scheme();
    if (!from.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false; // "null", a file or an extension's page
    const int defaultPort = scheme == QLatin1String("https") ? 443 : 80;
    const QUrl to(QStringLiteral("%1://%2/").arg(scheme, QString::fromLatin1(host)),
                  QUrl::StrictMode);
    return to.isValid() && !to.host().isEmpty() &&
           from.host().compare(to.host(), Qt::CaseInsensitive) == 0 &&
           from.port(defaultPort) == to.port(defaultPort);
}

} // namespace bridge
