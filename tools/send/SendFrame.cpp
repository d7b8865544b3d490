// One frame from the command line, sent, and the steps a script's run shares
// with it (tools/send/SendFrame.h).
#include "tools/send/SendFrame.h"

#include "common/StopSignals.h"
#include "protocol/hex.h"
#include "protocol/printable.h"

namespace send {

QString portFailure(const Request& request, const MSComm& port, const WriteResult* sent)
{
    QString message;
    if (request.portName != request.device)
        message += request.portName + QStringLiteral(": ");
    if (sent)
        message += sent->summary() + QStringLiteral(": ");
    return message + port.errorString();
}

// The one way to standard error: names and what a server said may hold
// control characters, which a terminal would obey.
int refuse(QTextStream& err, const QString& message, int status)
{
    err << "quendra-send: " << protocol::printable(message) << '\n';
    err.flush();
    return status;
}

// What was done when a stop signal ended the run early, the signal named
// last: "interrupted at station.txt:7: 12 of 40 frames sent, 12 confirmed
// (SIGTERM)".
int interrupted(QTextStream& err, const QString& what)
{
    return refuse(
        err, QStringLiteral("interrupted %1 (%2)").arg(what, stop::signalName(stop::received())),
        stop::exitStatus(Sent));
}

bool openPort(MSComm& port, const Request& request)
{
    port.setDevice(request.device);
    port.setSettings(request.settings);
    return port.open();
}

int sendFrame(const Request& request, QTextStream& out, QTextStream& err)
{
    if (request.dryRun || request.verbose) {
        out << protocol::hexText(request.frame) << '\n';
        out.flush();
    }
    if (request.dryRun)
        return Sent;

    const QString nothingSent = QStringLiteral("before the frame was sent: nothing sent");
    if (stop::requested())
        return interrupted(err, nothingSent);
    MSComm port;
    if (!openPort(port, request))
        return refuse(err, portFailure(request, port, nullptr), PortFailure);
    // A stop that came while the port opened: it is let go unwritten.
    if (stop::requested()) {
        port.close();
        return interrupted(err, nothingSent);
    }
    const WriteResult sent = port.write(request.frame);
    if (!sent.ok())
        return refuse(err, portFailure(request, port, &sent), PortFailure);
    const bool confirmed = port.close();
    if (stop::requested())
        return interrupted(err, confirmed ? QStringLiteral("after the frame was sent and confirmed")
                                          : QStringLiteral("after the frame was sent; not "
                                                           "confirmed: ") +
                                                portFailure(request, port, nullptr));
    if (!confirmed)
        return refuse(err, portFailure(request, port, nullptr) + QStringLiteral("; not confirmed"),
                      PortFailure);
    if (request.verbose) {
        out << "sent " << request.frame.size() << " bytes to "
            << protocol::printable(request.device) << " at " << request.settings << '\n';
        out.flush();
    }
    return Sent;
}

} // namespace send
