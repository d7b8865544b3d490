// Stand-ins for the C library's terminal calls. Each one passes the call on
// to the real function; for the watched device it first records it and may
// answer as a faulty line would. Settings come from the environment (a child
// process) or from the functions of LineTrace.h (the test's own process).
#include "tests/support/LineTrace.h"

#include <QFile>

#include <algorithm>
#include <asm/termbits.h>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <iterator>
#include <mutex>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

// <termios.h> clashes with the kernel's header above; these are all that
// is needed of it.
struct termios;
extern "C" int tcdrain(int fd);
extern "C" int tcflush(int fd, int queue);
extern "C" int tcsetattr(int fd, int actions, const struct termios* t);

namespace {

struct State
{
    std::mutex lock;
    std::string device; // real path of the watched device
    std::string logPath;
    std::vector<std::string> calls;
    int stalledQueue = 0;
    long writeLimit = -1;
    long written = 0;
    unsigned speed = 0;
};

template <typename F> F real(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

using WriteFn = ssize_t (*)(int, const void*, size_t);
using CloseFn = int (*)(int); // and tcdrain
using IoctlFn = int (*)(int, unsigned long, void*);
using FlushFn = int (*)(int, int);
using SetAttrFn = int (*)(int, int, const struct termios*);

std::string realPath(const char* path)
{
    char buffer[PATH_MAX];
    return ::realpath(path, buffer) ? std::string(buffer) : std::string(path);
}

State& state()
{
    static State* s = [] {
        auto* made = new State; // never destroyed: calls come until the very end
        if (const char* device = std::getenv("QUENDRA_LINETRACE_DEVICE"))
            made->device = realPath(device);
        if (const char* log = std::getenv("QUENDRA_LINETRACE_LOG"))
            made->logPath = log;
        if (const char* limit = std::getenv("QUENDRA_LINETRACE_WRITE_LIMIT"))
            made->writeLimit = std::strtol(limit, nullptr, 10);
        return made;
    }();
    return *s;
}

bool watched(int fd)
{
    State& s = state();
    if (fd < 0 || s.device.empty())
        return false;
    char link[64];
    char target[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 && s.device == std::string(target, size_t(n));
}

void record(const std::string& call)
{
    State& s = state();
    const std::lock_guard<std::mutex> guard(s.lock);
    s.calls.push_back(call);
    if (s.logPath.empty())
        return;
    static const auto realWrite = real<WriteFn>("write");
    const int fd = ::open(s.logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const std::string line = call + "\n";
    realWrite(fd, line.data(), line.size());
    static const auto realClose = real<CloseFn>("close");
    realClose(fd);
}

// Records name for the watched device and calls the C library's own.
template <typename F, typename... Args> int passOn(const char* name, int fd, Args... args)
{
    if (watched(fd))
        record(name);
    return real<F>(name)(fd, args...);
}

} // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size)
{
    static const auto realWrite = real<WriteFn>("write");
    if (!watched(fd))
        return realWrite(fd, data, size);
    State& s = state();
    size_t allowed = size;
    if (s.writeLimit >= 0) {
        const long room = s.writeLimit - s.written;
        if (room <= 0) {
            record("write " + std::to_string(size) + " EIO");
            errno = EIO;
            return -1;
        }
        allowed = std::min(size, size_t(room));
    }
    const ssize_t n = realWrite(fd, data, allowed);
    if (n > 0)
        s.written += n;
    record("write " + std::to_string(n));
    return n;
}

// The calls that only need recording.
int close(int fd)
{
    return passOn<CloseFn>("close", fd);
}

int tcdrain(int fd)
{
    return passOn<CloseFn>("tcdrain", fd);
}

int tcflush(int fd, int queue)
{
    return passOn<FlushFn>("tcflush", fd, queue);
}

int tcsetattr(int fd, int actions, const struct termios* t)
{
    return passOn<SetAttrFn>("tcsetattr", fd, actions, t);
}

int ioctl(int fd, unsigned long request, ...)
{
    static const auto realIoctl = real<IoctlFn>("ioctl");
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (!watched(fd))
        return realIoctl(fd, request, arg);
    State& s = state();
    // Any call that sets the terminal: the C library's, or the ioctl for any rate.
    static const unsigned long sets[] = {TCSETS, TCSETSW, TCSETSF, TCSETS2, TCSETSW2, TCSETSF2};
    if (request == TIOCOUTQ) {
        record("TIOCOUTQ");
        if (s.stalledQueue > 0) {
            *static_cast<int*>(arg) = s.stalledQueue;
            return 0;
        }
    } else if (request == TCGETS2) {
        const int result = realIoctl(fd, request, arg);
        if (result == 0 && s.speed > 0)
            static_cast<struct termios2*>(arg)->c_ospeed = s.speed;
        return result;
    } else if (request == TCFLSH) {
        record("tcflush");
    } else if (std::find(std::begin(sets), std::end(sets), request) != std::end(sets)) {
        record("tcsetattr");
    }
    return realIoctl(fd, request, arg);
}

} // extern "C"

namespace LineTrace {

void watch(const QString& device)
{
    State& s = state();
    const std::lock_guard<std::mutex> guard(s.lock);
    s.device = realPath(QFile::encodeName(device).constData());
    s.calls.clear();
    s.stalledQueue = 0;
    s.writeLimit = -1;
    s.written = 0;
    s.speed = 0;
}

QStringList calls()
{
    State& s = state();
    const std::lock_guard<std::mutex> guard(s.lock);
    QStringList out;
    for (const std::string& call : s.calls)
        out.append(QString::fromStdString(call));
    return out;
}

void stallOutput(int queued)
{
    state().stalledQueue = queued;
}

void failWritesAfter(int bytes)
{
    state().writeLimit = bytes;
    state().written = 0;
}

void reportSpeed(unsigned rate)
{
    state().speed = rate;
}

QProcessEnvironment environment(const QString& libraryPath, const QString& device,
                                const QString& logPath)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), libraryPath);
    env.insert(QStringLiteral("QUENDRA_LINETRACE_DEVICE"), device);
    env.insert(QStringLiteral("QUENDRA_LINETRACE_LOG"), logPath);
    // A sanitizer build wants its runtime first; the preloaded recorder
    // only passes calls on, so the order does not matter here.
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               asan + (asan.isEmpty() ? "" : ":") + QStringLiteral("verify_asan_link_order=0"));
    return env;
}

QStringList callsIn(const QString& logPath)
{
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace LineTrace
