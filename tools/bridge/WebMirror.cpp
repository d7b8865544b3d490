#include "tools/bridge/WebMirror.h"

#include "common/Version.h"
#include "protocol/decode.h"
#include "protocol/hex.h"
#include "protocol/protocol.h"
#include "tools/emulator/SegmentFont.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace bridge {

namespace {

// The segments' names as every seven-segment drawing gives them, in the
// order the page draws them; the point is ".".
constexpr struct
{
    quint8 bit;
    char name;
} SegmentNames[] = {{segment::A, 'a'}, {segment::B, 'b'}, {segment::C, 'c'}, {segment::D, 'd'},
                    {segment::E, 'e'}, {segment::F, 'f'}, {segment::G, 'g'}};

QString segmentNames(quint8 pattern)
{
    QString names;
    for (const auto& s : SegmentNames) {
        if (pattern & s.bit)
            names += QLatin1Char(s.name);
    }
    if (pattern & segment::DP)
        names += QLatin1Char('.');
    return names;
}

// A payload as the page reads it: JSON where the bridge publishes JSON.
QJsonValue pagePayload(const QString& topic, const QByteArray& payload)
{
    if (topic == QLatin1String("error") || topic == QLatin1String("status/detail")) {
        const QJsonDocument json = QJsonDocument::fromJson(payload);
        if (json.isObject())
            return json.object();
    }
    return QString::fromUtf8(payload);
}

QString lineTopic(const QString& line, const QString& rest)
{
    return line + QLatin1Char('/') + rest;
}

} // namespace

QString webMessage(const QString& topic, const QJsonValue& payload)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"topic", topic}, {"payload", payload}})
                                 .toJson(QJsonDocument::Compact));
}

Checked<PageMessage> readPageMessage(const QString& text)
{
    const QJsonDocument json = QJsonDocument::fromJson(text.toUtf8());
    const QJsonObject object = json.object();
    const QJsonValue topic = object.value(QLatin1String("topic"));
    const QJsonValue payload = object.value(QLatin1String("payload"));
    if (!json.isObject() || !topic.isString() || topic.toString().isEmpty())
        return Refusal{
            QStringLiteral("a message is a JSON object {\"topic\": ..., \"payload\": ...}")};
    PageMessage message{topic.toString(), QByteArray(), payload};
    if (payload.isString()) {
        message.payload = payload.toString().toUtf8();
    } else if (payload.isDouble()) {
        // JSON numbers are doubles: only whole ones within 2^53 are exact.
        const double value = payload.toDouble();
        if (value != std::floor(value) || std::fabs(value) > 9007199254740992.0)
            return Refusal{QStringLiteral("%1: a number payload must be a whole number")
                               .arg(message.topic.left(80))};
        message.payload = QByteArray::number(qint64(value));
    } else if (!payload.isObject() && !payload.isUndefined()) {
        return Refusal{QStringLiteral("%1: the payload is a string, a number or an object")
                           .arg(message.topic.left(80))};
    }
    return message;
}

QString shownCharacters(const ModuleState& module)
{
    // Built from the module's own font, so that the page reads what the
    // font draws: digits first, so 0 and 5 win over O and S.
    static const QHash<quint8, QChar> characters = [] {
        QHash<quint8, QChar> table;
        for (const char c : QByteArrayLiteral("0123456789-_AbCcdEFGHhIiJLnoPqrtUuy"))
            table.insert(segment::glyph(quint8(c)), QLatin1Char(c));
        table.insert(0, QLatin1Char(' '));
        return table;
    }();
    QString text;
    for (int i = 0; i < protocol::DisplayPositions; ++i) {
        const quint8 shown = module.shown(i);
        text += characters.value(shown & ~segment::DP, QLatin1Char('?'));
        if (shown & segment::DP)
            text += QLatin1Char('.');
    }
    return text.trimmed();
}

WebMirror::WebMirror(const Config& config)
{
    QJsonArray lines;
    for (const NamedLine& line : config.lines) {
        lines.append(
            QJsonObject{{"name", line.name}, {"port", line.port}, {"settings", line.settings}});
        Line& view = m_lines[line.name];
        for (const int uid : config.modules.value(line.name))
            module(view, uid);
    }
    QJsonArray rates;
    for (const protocol::BaudOption& option : protocol::BaudOptions)
        rates.append(option.rate);
    const QJsonValue broker = config.broker
                                  ? QJsonValue(QStringLiteral("%1://%2:%3")
                                                   .arg(config.tls ? "mqtts" : "mqtt", config.host)
                                                   .arg(config.port))
                                  : QJsonValue(QJsonValue::Null);
    m_info = webMessage(QStringLiteral("bridge/info"),
                        QJsonObject{{"version", QLatin1String(QuendraVersion)},
                                    {"prefix", config.prefix},
                                    {"broker", broker},
                                    {"allowRaw", config.allowed.raw},
                                    {"allowConfig", config.allowed.config},
                                    {"rates", rates},
                                    {"lines", lines}});
}

WebMirror::Module& WebMirror::module(Line& line, int uid)
{
    auto it = line.modules.find(uid);
    if (it == line.modules.end())
        it = line.modules.insert(uid, Module{ModuleState(quint8(uid)), {}});
    return *it;
}

QString WebMirror::display(const QString& line, int uid, const Module& module)
{
    QJsonArray digits;
    for (int i = 0; i < protocol::DisplayPositions; ++i)
        digits.append(segmentNames(module.state.shown(i)));
    return webMessage(lineTopic(line, QStringLiteral("%1/display").arg(uid)),
                      QJsonObject{{"digits", digits},
                                  {"dim", module.state.isDim()},
                                  {"shows", shownCharacters(module.state)}});
}

QList<QString> WebMirror::published(const QString& line, const QString& topic,
                                    const QByteArray& payload)
{
    const auto found = m_lines.find(line);
    if (found == m_lines.end())
        return {};
    Line& view = *found;
    if (topic == QLatin1String("status"))
        view.status = payload;
    else if (topic == QLatin1String("status/detail"))
        view.detail = payload;
    // "5/text": a module's value, once its frame has left.
    const int slash = topic.indexOf(QLatin1Char('/'));
    bool isUid = false;
    const int uid = topic.left(slash).toInt(&isUid);
    if (isUid && slash > 0 && uid >= 0 && uid <= 255)
        module(view, uid).values.insert(topic.mid(slash + 1), payload);
    return {webMessage(lineTopic(line, topic), pagePayload(topic, payload))};
}

QList<QString> WebMirror::frameSent(const QString& line, const QByteArray& frame)
{
    const auto found = m_lines.find(line);
    if (found == m_lines.end())
        return {};
    QList<QString> messages;
    QStringList meanings;
    for (const protocol::ReceivedFrame& f : protocol::decodeBurst(frame)) {
        switch (f.kind) {
        case protocol::ReceivedFrame::Kind::Command: {
            Module& m = module(*found, f.uid);
            meanings << QStringLiteral("UID %1 %2").arg(f.uid).arg(m.state.take(f));
            messages << display(line, f.uid, m);
            break;
        }
        case protocol::ReceivedFrame::Kind::Configuration: {
            const std::optional<int> rate = protocol::baudRateForCode(f.baudCode);
            meanings << (rate ? QStringLiteral("configuration: every module on the line takes UID "
                                               "%1 and %2 baud")
                                    .arg(f.newUid)
                                    .arg(*rate)
                              : QStringLiteral("configuration with unknown baud code %1")
                                    .arg(protocol::hexByte(f.baudCode)));
            break;
        }
        case protocol::ReceivedFrame::Kind::Malformed:
            meanings << QStringLiteral("malformed: ") + f.problem;
            break;
        }
    }
    messages.prepend(webMessage(lineTopic(line, QStringLiteral("frame")),
                                QJsonObject{{"bytes", protocol::hexText(frame)},
                                            {"meaning", meanings.join(QStringLiteral("; "))}}));
    return messages;
}

QList<QString> WebMirror::brokerChanged(bool connected, const QString& why)
{
    m_broker = webMessage(QStringLiteral("bridge/broker"),
                          QJsonObject{{"connected", connected}, {"detail", why}});
    return {m_broker};
}

QList<QString> WebMirror::snapshot() const
{
    QList<QString> messages{m_info};
    if (!m_broker.isEmpty())
        messages << m_broker;
    for (auto line = m_lines.cbegin(); line != m_lines.cend(); ++line) {
        messages << webMessage(lineTopic(line.key(), QStringLiteral("status")),
                               QString::fromUtf8(line->status));
        if (!line->detail.isEmpty())
            messages << webMessage(lineTopic(line.key(), QStringLiteral("status/detail")),
                                   pagePayload(QStringLiteral("status/detail"), line->detail));
        for (auto m = line->modules.cbegin(); m != line->modules.cend(); ++m) {
            messages << display(line.key(), m.key(), *m);
            for (auto v = m->values.cbegin(); v != m->values.cend(); ++v)
                messages << webMessage(
                    lineTopic(line.key(), QStringLiteral("%1/%2").arg(m.key()).arg(v.key())),
                    QString::fromUtf8(v.value()));
        }
    }
    return messages;
}

} // namespace bridge
