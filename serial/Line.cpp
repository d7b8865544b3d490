#include "serial/Line.h"

#include "serial/DeviceLine.h"
#include "serial/NetworkLine.h"

#include <utility>

namespace {

// A name that looks like a network address but is none: every open fails
// with the reason, as opening a missing device would.
class UnusableLine : public Line
{
public:
    explicit UnusableLine(QString reason) : m_reason(std::move(reason)) {}

    bool open(const LineSettings&, QString* error) override
    {
        if (error)
            *error = m_reason;
        return false;
    }
    WriteResult write(const QByteArray& frame) override { return {0, frame.size(), m_reason}; }
    bool confirm(QString* error) override
    {
        if (error)
            *error = m_reason;
        return false;
    }
    bool close(QString*) override { return true; }
    bool isOpen() const override { return false; }
    std::optional<LineSettings> activeSettings() const override { return std::nullopt; }

private:
    QString m_reason;
};

} // namespace

QString WriteResult::summary() const
{
    if (size > 0 && sent == size && !ok())
        return QStringLiteral("Frame not confirmed: the far end was not seen to take it; the port "
                              "failed and was closed");
    if (sent == 0)
        return QStringLiteral("Frame not sent: the port failed and was closed");
    return QStringLiteral("Frame cut short: %1 of %2 bytes sent; the port failed and was closed")
        .arg(sent)
        .arg(size);
}

std::unique_ptr<Line> lineFor(const QString& name)
{
    if (!isNetworkPortName(name))
        return std::make_unique<DeviceLine>(name);
    if (const std::optional<NetworkAddress> address = parseNetworkPortName(name))
        return std::make_unique<NetworkLine>(*address);
    return std::make_unique<UnusableLine>(networkPortNameProblem(name));
}
