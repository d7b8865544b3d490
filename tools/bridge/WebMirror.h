#pragma once

#include "common/Checked.h"
#include "tools/bridge/Options.h"
#include "tools/emulator/ModuleState.h"

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>

// What the page's WebSocket says. Every message, both ways, is one JSON
// object {"topic": T, "payload": P}, T a topic under the bridge's prefix as
// on the broker ("desk/5/text", "desk/status"), P a string for a plain
// payload and an object for a JSON one. A few topics exist only here:
// bridge/hello (the page's first message), bridge/info, bridge/broker,
// bridge/error, LINE/frame and LINE/UID/display (what the module shows, as
// the emulator draws it).
namespace bridge {

// {"topic": topic, "payload": payload} as compact JSON text.
QString webMessage(const QString& topic, const QJsonValue& payload);

// A message from a page: its topic, its payload as the broker would carry it
// (a string as UTF-8, a whole number in decimal) and the payload as sent.
struct PageMessage
{
    QString topic;
    QByteArray payload;
    QJsonValue json;
};
Checked<PageMessage> readPageMessage(const QString& text);

// The characters a module's display reads as ("HI", "12.5", "" when dark):
// each position's segments matched to the character that lights exactly
// those, "?" for a pattern no character makes.
QString shownCharacters(const ModuleState& module);

// Every line and module as the bridge last told of them: the page's state on
// connect, and the messages that tell the pages of each change. Lives on the
// server's thread.
class WebMirror
{
public:
    explicit WebMirror(const Config& config);

    // Each gives the messages for the pages; none for what they need not hear.
    QList<QString> published(const QString& line, const QString& topic, const QByteArray& payload);
    QList<QString> frameSent(const QString& line, const QByteArray& frame);
    QList<QString> brokerChanged(bool connected, const QString& why);

    // Everything, in order: bridge/info, bridge/broker, then each line's
    // status and each module's display and values.
    QList<QString> snapshot() const;

private:
    struct Module
    {
        ModuleState state;
        QMap<QString, QByteArray> values; // command -> the state topic's value
    };
    struct Line
    {
        QByteArray status = QByteArrayLiteral("offline");
        QByteArray detail;
        QMap<int, Module> modules;
    };

    Module& module(Line& line, int uid);
    static QString display(const QString& line, int uid, const Module& module);

    QString m_info;
    QString m_broker; // the last bridge/broker message; empty before the first
    QMap<QString, Line> m_lines;
};

} // namespace bridge
