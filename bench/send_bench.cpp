// quendra-bench-send: what a test station gains by sending from one script
// through one open port rather than starting quendra-send once per frame.
// Prints figures; asserts nothing.
//
// Both ways send the same frames to a pseudo-terminal whose other end a
// thread of the bench reads, counting bytes; a run ends when its process has
// exited and the last byte has been read. The script is 10,000 lines in one
// quendra-send process; the separate calls start the built quendra-send once
// per frame (posix_spawn, as a shell does), by default 1,000 of them, scaled
// to 10,000. The script's own cost per frame is measured in this process:
// send::run on the same script, the pty drained concurrently, less a run of a
// one-line script (the port's open and close), divided by the frames.
#include "bench/BenchSupport.h"
#include "serial/PseudoTerminal.h"
#include "tools/send/Script.h"
#include "tools/send/SendRequest.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace bench;

constexpr int ScriptFrames = 10000;
constexpr int InProcessRuns = 5;
constexpr qint64 RunDeadlineNs = 600'000'000'000;

// The lines the runs send, in turn, and the length of each one's frame.
struct Line
{
    const char* words;
    int bytes;
};
constexpr Line Lines[] = {
    {"text HI", 8},
    {"dp 5", 3},
    {"long 305419896", 6},
    {"short --signed -300", 4},
    {"seg 3F 06 5B 4F 66 6D", 8},
};
constexpr int LineCount = int(std::size(Lines));

// A raw pseudo-terminal whose other end a thread reads and counts.
class CountingPty
{
public:
    CountingPty()
    {
        if (!m_pty.isValid())
            fatal(m_pty.errorString());
    }

    QString path() const { return m_pty.path(); }
    qint64 bytes() { return m_far.count(); }
    // Until count bytes have arrived in all; false at the deadline.
    bool waitFor(qint64 count, qint64 deadlineNs)
    {
        return m_far.waitForCount(count, deadlineNs) != 0;
    }

private:
    PseudoTerminal m_pty;
    FarEnd m_far{m_pty.master(), false};
};

// Runs the program to its end; its processor time (user and system) in ns.
qint64 runProcess(const QStringList& args)
{
    std::vector<QByteArray> storage;
    for (const QString& a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (QByteArray& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        fatal(QStringLiteral("cannot start %1").arg(args.front()));
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fatal(QStringLiteral("%1 failed (status %2)").arg(args.join(' ')).arg(status));
    const auto ns = [](const timeval& t) {
        return qint64(t.tv_sec) * 1'000'000'000 + t.tv_usec * 1000;
    };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

QString writeScript(const QTemporaryDir& dir, const QString& name, int frames, qint64* bytes)
{
    QByteArray text;
    *bytes = 0;
    for (int i = 0; i < frames; ++i) {
        text += Lines[i % LineCount].words;
        text += '\n';
        *bytes += Lines[i % LineCount].bytes;
    }
    QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        fatal(QStringLiteral("cannot write %1").arg(path));
    return path;
}

// send::run in this process on a script; wall time in ns once every byte is read.
qint64 runInProcess(CountingPty& pty, const QStringList& args, qint64 bytes)
{
    QString out, err;
    QTextStream o(&out), e(&err);
    const qint64 before = pty.bytes();
    const qint64 start = nowNs();
    if (send::run(args, send::Defaults{}, o, e) != send::Sent)
        fatal(QStringLiteral("send::run failed: %1").arg(err.trimmed()));
    if (!pty.waitFor(before + bytes, start + RunDeadlineNs))
        fatal(QStringLiteral("the pty did not get every byte"));
    return nowNs() - start;
}

} // namespace

int main(int argc, char* argv[])
{
    bench::setProgramName("quendra-bench-send");
    QCoreApplication app(argc, argv);
    // quendra-bench-send [CALLS]: how many separate calls to time.
    const int calls = std::max(1, app.arguments().value(1, QStringLiteral("1000")).toInt());
    const QString program = QStringLiteral(QUENDRA_SEND_PATH);
    QTemporaryDir dir;
    if (!dir.isValid())
        fatal(QStringLiteral("no temporary folder"));
    CountingPty pty;
    const QStringList common = {QStringLiteral("--port"),     pty.path(),
                                QStringLiteral("--settings"), QStringLiteral("38400,n,8,1"),
                                QStringLiteral("--uid"),      QStringLiteral("5")};

    qint64 scriptBytes = 0;
    const QString script =
        writeScript(dir, QStringLiteral("frames.txt"), ScriptFrames, &scriptBytes);
    qint64 oneBytes = 0;
    const QString oneLine = writeScript(dir, QStringLiteral("one.txt"), 1, &oneBytes);

    std::printf("quendra-bench-send (%s build), %ld cores, load average at the start: %s\n",
                QUENDRA_BUILD_TYPE, sysconf(_SC_NPROCESSORS_ONLN), qPrintable(loadAverage()));

    // One process, one script.
    qint64 before = pty.bytes();
    qint64 start = nowNs();
    const qint64 scriptCpu =
        runProcess(QStringList{program} + common + QStringList{QStringLiteral("--script"), script});
    if (!pty.waitFor(before + scriptBytes, start + RunDeadlineNs))
        fatal(QStringLiteral("the script's bytes did not all arrive"));
    const double scriptMs = double(nowNs() - start) / 1e6;

    // One process per frame.
    before = pty.bytes();
    qint64 callBytes = 0;
    qint64 callsCpu = 0;
    start = nowNs();
    for (int i = 0; i < calls; ++i) {
        const Line& line = Lines[i % LineCount];
        callsCpu += runProcess(QStringList{program} + common +
                               QString::fromLatin1(line.words).split(QLatin1Char(' ')));
        callBytes += line.bytes;
    }
    if (!pty.waitFor(before + callBytes, nowNs() + RunDeadlineNs))
        fatal(QStringLiteral("the calls' bytes did not all arrive"));
    const double callsMs = double(nowNs() - start) / 1e6 * double(ScriptFrames) / calls;

    // The script's own code, in this process.
    std::vector<double> fullRuns, oneRuns, checkRuns;
    QFile scriptFile(script);
    if (!scriptFile.open(QIODevice::ReadOnly))
        fatal(QStringLiteral("cannot read %1").arg(script));
    const QString scriptText = QString::fromUtf8(scriptFile.readAll());
    for (int run = 0; run < InProcessRuns; ++run) {
        fullRuns.push_back(double(runInProcess(
            pty, common + QStringList{QStringLiteral("--script"), script}, scriptBytes)));
        oneRuns.push_back(double(runInProcess(
            pty, common + QStringList{QStringLiteral("--script"), oneLine}, oneBytes)));
        const qint64 t0 = nowNs();
        const auto steps = send::readScript(scriptText, script, send::UidDefault{"5", "--uid"});
        if (!steps || steps->size() != ScriptFrames)
            fatal(QStringLiteral("the script was not taken"));
        checkRuns.push_back(double(nowNs() - t0));
    }
    const double perFrameUs = (median(fullRuns) - median(oneRuns)) / (ScriptFrames - 1) / 1e3;
    const double checkUs = median(checkRuns) / ScriptFrames / 1e3;

    std::printf("\n%d frames to a pty at 38400,n,8,1, %lld bytes, to the last byte read\n",
                ScriptFrames, static_cast<long long>(scriptBytes));
    std::printf("  %-44s %10.1f ms %8.1f us/frame\n", "one script (one quendra-send process)",
                scriptMs, scriptMs * 1e3 / ScriptFrames);
    std::printf(
        "  %-44s %10.1f ms %8.1f us/frame\n",
        qPrintable(
            QStringLiteral("separate calls (%1 timed, scaled to %2)").arg(calls).arg(ScriptFrames)),
        callsMs, callsMs * 1e3 / ScriptFrames);
    std::printf("  %-44s %10.1fx\n", "script faster by", callsMs / scriptMs);
    std::printf("\nProcessor time (user + system) of quendra-send itself\n");
    std::printf("  %-44s %10.1f us/frame\n", "the script process",
                double(scriptCpu) / 1e3 / ScriptFrames);
    std::printf("  %-44s %10.1f us/frame\n", "a separate call", double(callsCpu) / 1e3 / calls);
    std::printf("\nThe script's own code, in this process (median of %d runs, pty drained by a "
                "thread)\n",
                InProcessRuns);
    std::printf("  %-44s %10.2f us/frame\n", "read, check and send, less open and close",
                perFrameUs);
    std::printf("  %-44s %10.2f us/frame\n", "of which reading and checking the lines", checkUs);
    std::printf("\nload average at the end: %s\n", qPrintable(loadAverage()));
    std::printf("\nTargets\n");
    std::printf("  script at least 50x faster than calls:  %8.1fx     %s\n", callsMs / scriptMs,
                verdict(callsMs / scriptMs >= 50));
    std::printf("  script's own cost under 20 us/frame:    %8.2f us  %s\n", perFrameUs,
                verdict(perFrameUs < 20));
    return 0;
}
