#include "tools/emulator/ModuleBus.h"

#include "protocol/printable.h"
#include "protocol/protocol.h"

#include <QMap>

ModuleBus::ModuleBus(const QList<std::optional<quint8>>& uids, int baudRate)
{
    for (const std::optional<quint8>& uid : uids)
        m_modules.append(ModuleState(uid, baudRate));
    if (m_modules.isEmpty())
        m_modules.append(ModuleState(1, baudRate));
}

ModuleBus::Outcome ModuleBus::apply(const ReceivedFrame& frame)
{
    Outcome outcome;
    // A lone module speaks as it always has: its log lines stay as they were.
    if (m_modules.size() == 1) {
        outcome.meanings << m_modules.first().apply(frame);
        return outcome;
    }
    if (frame.kind == ReceivedFrame::Kind::Malformed) {
        // Every module reads the same bytes and none can act on them: the
        // line says it once.
        outcome.meanings << QStringLiteral("malformed: ") + frame.problem;
        return outcome;
    }

    QList<int> takers;
    for (int i = 0; i < m_modules.size(); ++i) {
        if (m_modules[i].takes(frame))
            takers << i;
    }
    const bool command = frame.kind == ReceivedFrame::Kind::Command;
    if (takers.isEmpty()) {
        outcome.meanings << QStringLiteral("%1 for UID %2: no module has UID %2")
                                .arg(
                                    protocol::commandName(frame.code).value_or(QStringLiteral("?")))
                                .arg(frame.uid);
        return outcome;
    }
    for (int i : std::as_const(takers)) {
        ModuleState& module = m_modules[i];
        // Named by the UID it had when the frame came, before taking it.
        QString line = QStringLiteral("module %1 (UID %2): ").arg(i + 1).arg(module.uidText());
        line += module.take(frame);
        // Real modules that share a UID all act on its frames; the operator
        // cannot tell from the panel, so each line says so.
        if (command && takers.size() > 1)
            line += QStringLiteral(" (%1 modules share UID %2: each took it)")
                        .arg(takers.size())
                        .arg(frame.uid);
        outcome.meanings << line;
    }
    // A configuration the modules refused changed no UID.
    if (!command && protocol::baudRateForCode(frame.baudCode))
        outcome.warnings = sharedUids();
    return outcome;
}

QStringList ModuleBus::sharedUids() const
{
    QMap<int, int> holders;
    for (const ModuleState& module : m_modules) {
        if (module.uid())
            ++holders[*module.uid()];
    }
    QStringList shared;
    for (auto it = holders.cbegin(); it != holders.cend(); ++it) {
        if (it.value() > 1)
            shared << QStringLiteral("%1 modules now share UID %2").arg(it.value()).arg(it.key());
    }
    return shared;
}

Checked<QList<std::optional<quint8>>> ModuleBus::parseUids(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("any"), Qt::CaseInsensitive) == 0)
        return QList<std::optional<quint8>>{std::nullopt};

    QList<std::optional<quint8>> uids;
    for (const QString& part : trimmed.split(QLatin1Char(','))) {
        bool ok = false;
        const uint value = part.trimmed().toUInt(&ok);
        if (!ok || value > 255)
            return Refusal{
                QStringLiteral("--uid \"%1\" is neither 0..255, a list like 1,2,5, nor any")
                    .arg(protocol::printable(text, protocol::QuotedChars))};
        // Two modules that start with one UID could never be told apart.
        if (uids.contains(quint8(value)))
            return Refusal{QStringLiteral("--uid \"%1\" gives UID %2 twice")
                               .arg(protocol::printable(text, protocol::QuotedChars))
                               .arg(value)};
        uids << quint8(value);
    }
    if (uids.size() > MaxModules)
        return Refusal{QStringLiteral("--uid \"%1\" names %2 modules; at most %3")
                           .arg(protocol::printable(text, protocol::QuotedChars))
                           .arg(uids.size())
                           .arg(MaxModules)};
    return uids;
}

Checked<QList<std::optional<quint8>>> ModuleBus::numberedUids(const QString& count)
{
    bool ok = false;
    const int n = count.trimmed().toInt(&ok);
    if (!ok || n < 1 || n > MaxModules)
        return Refusal{QStringLiteral("--modules \"%1\" is not 1..%2")
                           .arg(protocol::printable(count, protocol::QuotedChars))
                           .arg(MaxModules)};
    QList<std::optional<quint8>> uids;
    for (int uid = 1; uid <= n; ++uid)
        uids << quint8(uid);
    return uids;
}
