// A script's run: reading its text, checking it whole, sending its frames
// through one port with their confirmations and progress, and saying where a
// stop or a failure left it.
#include "tools/send/SendScript.h"

#include "common/StopSignals.h"
#include "protocol/hex.h"
#include "protocol/printable.h"
#include "serial/LineSettings.h"
#include "serial/MSComm.h"
#include "tools/send/Progress.h"
#include "tools/send/Script.h"
#include "tools/send/SendFrame.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace send {

namespace {

// A script's frames go out this many at a time before the far end is asked
// to confirm them: one round trip each N frames rather than each frame (see
// docs/performance.md), and a failure still counted to within N frames.
constexpr int ConfirmEveryFrames = 16;

// Standard input as it comes, so that a stop signal is heard while a script
// is still being typed or piped in. At most limit + 1 bytes.
Checked<QByteArray> readStandardInput(qint64 limit)
{
    QByteArray bytes;
    char buffer[65536];
    while (bytes.size() <= limit) {
        if (!stop::awaitInput(0))
            return Refusal{QStringLiteral("interrupted")};
#ifdef Q_OS_WIN
        const int n = ::_read(0, buffer, sizeof buffer);
#else
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
#endif
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Refusal{QStringLiteral("<stdin>: ") +
                           QString::fromLocal8Bit(std::strerror(errno))};
        bytes.append(buffer, qsizetype(std::min<qint64>(n, limit + 1 - bytes.size())));
    }
    return bytes;
}

Checked<QString> readScriptText(const QString& path)
{
    // Far more than any test station's script; --script /dev/zero must not
    // fill the memory.
    constexpr qint64 MaxScriptMB = 64;
    constexpr qint64 MaxScriptBytes = MaxScriptMB * 1024 * 1024;
    QByteArray bytes;
    if (path == QLatin1String("-")) {
        const Checked<QByteArray> input = readStandardInput(MaxScriptBytes);
        if (!input)
            return Refusal{input.message()};
        bytes = *input;
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return Refusal{QStringLiteral("%1: %2").arg(scriptName(path), file.errorString())};
        bytes = file.read(MaxScriptBytes + 1);
        if (file.error() != QFileDevice::NoError)
            return Refusal{QStringLiteral("%1: %2").arg(scriptName(path), file.errorString())};
    }
    if (bytes.size() > MaxScriptBytes)
        return Refusal{QStringLiteral("%1: longer than %2 MB; split the script")
                           .arg(scriptName(path))
                           .arg(MaxScriptMB)};
    if (const std::optional<int> line = firstLineNotUtf8(bytes))
        return Refusal{QStringLiteral("%1:%2: not UTF-8; save the script as UTF-8")
                           .arg(scriptName(path))
                           .arg(*line)};
    return QString::fromUtf8(bytes);
}

QString countOf(qsizetype n, const char* what)
{
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(what)).arg(n == 1 ? "" : "s");
}

// The frames' own time on the line, on average, at its settings.
double lineMsPerFrame(const QList<ScriptStep>& steps, const QString& settings)
{
    qsizetype frames = 0;
    qsizetype bytes = 0;
    for (const ScriptStep& step : steps) {
        frames += step.isWait() ? 0 : 1;
        bytes += step.frame.size();
    }
    const std::optional<LineSettings> line = parseLineSettings(settings);
    if (frames == 0 || !line)
        return 0;
    return double(bytes) * bitsPerCharacter(*line) * 1000.0 / line->baudRate / double(frames);
}

} // namespace

// Every line is checked before the port opens: a script with a mistake
// anywhere sends nothing.
int sendScript(const Request& request, QTextStream& out, QTextStream& err, bool errIsTerminal)
{
    const QString name = scriptName(request.script);
    const Checked<QString> text = readScriptText(request.script);
    if (!text && stop::requested())
        return interrupted(err, QStringLiteral("while reading %1: nothing sent").arg(name));
    if (!text)
        return refuse(err, text.message(), BadUsage);
    const Checked<QList<ScriptStep>> steps = readScript(*text, name, request.uid);
    if (!steps)
        return refuse(err, steps.message(), BadUsage);

    const auto show = [&out](const ScriptStep& step) {
        if (step.isWait())
            out << step.line << ": wait " << step.waitMs << " ms\n";
        else
            out << step.line << ": " << protocol::hexText(step.frame) << '\n';
    };
    if (request.dryRun) {
        for (const ScriptStep& step : *steps)
            show(step);
        out.flush();
        return Sent;
    }

    qsizetype total = 0;
    qint64 waitsMs = 0;
    for (const ScriptStep& step : *steps) {
        total += step.isWait() ? 0 : 1;
        waitsMs += step.waitMs;
    }
    const QString allFrames = countOf(total, "frame");
    const QString beforeFirst =
        QStringLiteral("at %1, before its first frame: 0 of %2 sent").arg(name, allFrames);
    if (stop::requested())
        return interrupted(err, beforeFirst);
    MSComm port;
    port.setConfirmEvery(ConfirmEveryFrames);
    if (!openPort(port, request))
        return refuse(err, portFailure(request, port, nullptr), PortFailure);
    // Drawn where a person watches; --verbose shows every step already.
    Progress progress(err, errIsTerminal && !request.quiet && !request.verbose, total, waitsMs,
                      lineMsPerFrame(*steps, request.settings));
    const auto failed = [&](int line, const WriteResult* sent) {
        progress.finish(port.confirmedFrames());
        return refuse(
            err,
            QStringLiteral("%1:%2: %3; %4 confirmed before it")
                .arg(name)
                .arg(line)
                .arg(portFailure(request, port, sent), countOf(port.confirmedFrames(), "frame")),
            PortFailure);
    };
    qsizetype frames = 0;
    qsizetype bytes = 0;
    int lastLine = 0; // of the step under way when a stop came
    for (const ScriptStep& step : *steps) {
        if (stop::requested())
            break;
        lastLine = step.line;
        if (request.verbose) {
            show(step);
            out.flush();
        }
        if (step.isWait()) {
            // The frames before a pause are on show during it.
            if (!port.confirm())
                return failed(step.line, nullptr);
            if (!progress.pause(step.waitMs, port.confirmedFrames()))
                break;
            continue;
        }
        // The frame under way when a stop comes is finished: the stop is
        // heard between frames.
        const WriteResult sent = port.write(step.frame);
        if (!sent.ok())
            return failed(step.line, &sent);
        ++frames;
        bytes += step.frame.size();
        progress.frameSent(port.confirmedFrames());
    }
    const bool closed = port.close();
    progress.finish(port.confirmedFrames());
    if (stop::requested()) {
        if (lastLine == 0)
            return interrupted(err, beforeFirst);
        return interrupted(
            err, QStringLiteral("at %1:%2: %3 of %4 sent, %5 confirmed%6")
                     .arg(name)
                     .arg(lastLine)
                     .arg(frames)
                     .arg(allFrames)
                     .arg(port.confirmedFrames())
                     .arg(closed ? QString()
                                 : QStringLiteral(": ") + portFailure(request, port, nullptr)));
    }
    if (!closed)
        return refuse(err,
                      QStringLiteral("%1: %2; %3 of %4 confirmed")
                          .arg(name, portFailure(request, port, nullptr))
                          .arg(port.confirmedFrames())
                          .arg(countOf(frames, "frame")),
                      PortFailure);
    if (request.verbose) {
        out << "sent " << countOf(frames, "frame") << " (" << countOf(bytes, "byte") << ") to "
            << protocol::printable(request.device) << " at " << request.settings << '\n';
        out.flush();
    }
    return Sent;
}

} // namespace send
