#pragma once

#include "common/Checked.h"

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QString>

// Who may reach the operator's page: where it listens, under which path, the
// token it asks for, and the checks every request and WebSocket pass.
namespace bridge {

struct WebConfig
{
    QHostAddress address; // null: no page
    quint16 port = 0;     // 0: one the system picks (said at start)
    QString base = QStringLiteral("/");
    QString tokenFile;
};

// --web, --web-base and --web-token-file from the options' values.
Checked<void> webOptions(WebConfig& web, const QMap<QString, QString>& values);

// The token in a token file: its first line without blanks around it, at
// least MinTokenLength characters.
inline constexpr int MinTokenLength = 16;
Checked<QByteArray> readToken(const QString& path);

// Whether an Authorization header carries the token: "Bearer TOKEN", or
// Basic with the token as the password and any user, so that a browser's
// own login dialog works. Compared in constant time.
bool authorizes(const QByteArray& header, const QByteArray& token);
bool sameToken(const QByteArray& given, const QByteArray& token);

// Whether a WebSocket's Origin is the page's own: the same host and port as
// the Host the request was sent to (what a reverse proxy passes on). No
// Origin at all is a program, not a browser, and passes: a page on another
// site cannot leave it out.
bool sameOrigin(const QByteArray& origin, const QByteArray& host);

} // namespace bridge
