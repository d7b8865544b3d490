#include "tools/emulator/ModuleState.h"

#include "protocol/ansi.h"
#include "protocol/hex.h"
#include "protocol/numbers.h"
#include "protocol/printable.h"
#include "protocol/protocol.h"
#include "tools/emulator/SegmentFont.h"

namespace {

// Text as it came, one byte per character in the module's code page; bytes
// that would not print appear as escapes so that a log line stays one line.
QString quotedText(const QByteArray& bytes)
{
    return QLatin1Char('\'') + protocol::printable(protocol::fromAnsi(bytes)) + QLatin1Char('\'');
}

} // namespace

ModuleState::ModuleState(std::optional<quint8> uid, int baudRate) : m_uid(uid), m_baudRate(baudRate)
{
}

QString ModuleState::uidText() const
{
    return m_uid ? QString::number(*m_uid) : QStringLiteral("any");
}

quint8 ModuleState::shown(int position) const
{
    const bool point = m_decimalPoints & (1 << (protocol::DisplayPositions - 1 - position));
    return m_patterns[size_t(position)] | (point ? segment::DP : 0);
}

QString ModuleState::numberText(qint64 value)
{
    QString text = QString::number(value);
    if (text.size() > protocol::DisplayPositions)
        text = value < 0 ? QStringLiteral("-OFL") : QStringLiteral("OFL");
    return text.rightJustified(protocol::DisplayPositions, QLatin1Char(' '));
}

void ModuleState::showText(const QByteArray& characters)
{
    for (int i = 0; i < protocol::DisplayPositions; ++i)
        m_patterns[size_t(i)] = segment::glyph(quint8(characters[i]));
}

bool ModuleState::takes(const ReceivedFrame& frame) const
{
    switch (frame.kind) {
    case ReceivedFrame::Kind::Malformed:
        return false;
    case ReceivedFrame::Kind::Configuration:
        return true;
    case ReceivedFrame::Kind::Command:
        break;
    }
    return !m_uid || *m_uid == frame.uid;
}

QString ModuleState::take(const ReceivedFrame& frame)
{
    return frame.kind == ReceivedFrame::Kind::Configuration ? applyConfiguration(frame)
                                                            : applyCommand(frame);
}

QString ModuleState::apply(const ReceivedFrame& frame)
{
    switch (frame.kind) {
    case ReceivedFrame::Kind::Malformed:
        return QStringLiteral("malformed: ") + frame.problem;
    case ReceivedFrame::Kind::Configuration:
        return applyConfiguration(frame);
    case ReceivedFrame::Kind::Command:
        break;
    }
    if (!takes(frame)) {
        return QStringLiteral("%1 for UID %2, ignored")
            .arg(protocol::commandName(frame.code).value_or(QStringLiteral("?")))
            .arg(frame.uid);
    }
    return QStringLiteral("UID %1 ").arg(frame.uid) + applyCommand(frame);
}

QString ModuleState::applyConfiguration(const ReceivedFrame& frame)
{
    const std::optional<int> rate = protocol::baudRateForCode(frame.baudCode);
    if (!rate) {
        // Taking the UID alone would leave the module half-configured.
        return QStringLiteral("configuration with unknown baud code %1, ignored")
            .arg(protocol::hexByte(frame.baudCode));
    }
    const QString before = uidText();
    m_uid = frame.newUid;
    m_baudRate = *rate;
    return QStringLiteral("configuration: UID %1 -> %2, %3 baud")
        .arg(before)
        .arg(frame.newUid)
        .arg(*rate);
}

QString ModuleState::applyCommand(const ReceivedFrame& frame)
{
    using protocol::Command;
    QString prefix = protocol::commandName(frame.code).value_or(QStringLiteral("?"));
    const QByteArray& payload = frame.payload;
    auto showNumber = [&](qint64 value) {
        const QString text = numberText(value);
        showText(text.toLatin1());
        const bool overflow = text.trimmed() != QString::number(value);
        return prefix + QLatin1Char(' ') + QString::number(value) +
               (overflow ? QStringLiteral(", overflow: shows ") + text.trimmed() : QString());
    };

    switch (static_cast<Command>(frame.code)) {
    case Command::Text:
        showText(payload);
        return prefix + QLatin1Char(' ') + quotedText(payload);
    case Command::Segments:
        for (int i = 0; i < protocol::DisplayPositions; ++i)
            m_patterns[size_t(i)] = quint8(payload[i]);
        return prefix;
    case Command::DecimalPoints: {
        const auto value = quint8(payload[0]);
        if (value > protocol::DecimalPointsMax) {
            // Bits beyond the six positions would light nothing; the whole
            // value is kept out rather than shown in part.
            return QStringLiteral("%1 %2, beyond %3, ignored")
                .arg(prefix)
                .arg(value)
                .arg(protocol::DecimalPointsMax);
        }
        m_decimalPoints = value;
        return prefix + QLatin1Char(' ') + QString::number(value);
    }
    case Command::LongUnsigned:
    case Command::ShortUnsigned:
        return showNumber(qint64(protocol::unsignedFromPayload(payload)));
    case Command::LongSigned:
    case Command::ShortSigned:
        return showNumber(protocol::signedFromPayload(payload));
    case Command::Brightness: {
        m_dim = !m_dim;
        QString meaning = prefix + (m_dim ? QStringLiteral(": dim") : QStringLiteral(": full"));
        if (!payload.isEmpty())
            meaning += QStringLiteral(" (%1 payload bytes ignored)").arg(payload.size());
        return meaning;
    }
    }
    return prefix;
}
