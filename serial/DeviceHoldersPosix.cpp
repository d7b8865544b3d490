#include "serial/DeviceHolders.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace DeviceHolders {

namespace {

// Pseudo-terminal devices: each instance of /dev/pts numbers its own from
// 0 under this major, so the instance (st_dev) tells two apart.
constexpr unsigned PtySlaveMajor = 136;

struct Identity
{
    dev_t device = 0; // st_rdev
    dev_t instance = 0;
    bool isPty = false;

    bool matches(const struct stat& st) const
    {
        return S_ISCHR(st.st_mode) && st.st_rdev == device && (!isPty || st.st_dev == instance);
    }
};

bool identify(const struct stat& st, Identity* identity)
{
    if (!S_ISCHR(st.st_mode))
        return false;
    identity->device = st.st_rdev;
    identity->instance = st.st_dev;
    identity->isPty = major(st.st_rdev) == PtySlaveMajor;
    return true;
}

bool isNumber(const char* text)
{
    if (!*text)
        return false;
    for (; *text; ++text) {
        if (!std::isdigit(static_cast<unsigned char>(*text)))
            return false;
    }
    return true;
}

std::string readText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The program's name: the last part of its first word, as ps shows it.
std::string programName(long pid)
{
    const std::string base = "/proc/" + std::to_string(pid);
    std::string name = readText(base + "/cmdline");
    if (const std::size_t end = name.find('\0'); end != std::string::npos)
        name.resize(end);
    if (const std::size_t slash = name.rfind('/'); slash != std::string::npos)
        name.erase(0, slash + 1);
    if (name.empty()) {
        name = readText(base + "/comm");
        while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
            name.pop_back();
    }
    return name.empty() ? "a program" : name;
}

// Whether the descriptor is the master of pseudo-terminal number index: the
// master's own details name the terminal it serves.
bool isMasterOf(const std::string& fdinfo, unsigned index)
{
    std::istringstream text(readText(fdinfo));
    std::string key;
    while (text >> key) {
        if (key == "tty-index:") {
            unsigned long value = 0;
            return (text >> value) && value == index;
        }
    }
    return false;
}

std::vector<Holder> scan(const Identity& device, int ownFd)
{
    std::vector<Holder> holders;
    DIR* processes = ::opendir("/proc");
    if (!processes)
        return holders;
    const long self = long(::getpid());
    while (const dirent* process = ::readdir(processes)) {
        if (!isNumber(process->d_name))
            continue;
        const long pid = std::strtol(process->d_name, nullptr, 10);
        const std::string base = std::string("/proc/") + process->d_name;
        // Another user's process is not shown to this one; the system keeps
        // such a holder's claim for it.
        DIR* fds = ::opendir((base + "/fd").c_str());
        if (!fds)
            continue;
        int held = 0;
        bool otherEnd = false;
        while (const dirent* entry = ::readdir(fds)) {
            if (!isNumber(entry->d_name))
                continue;
            const int fd = int(std::strtol(entry->d_name, nullptr, 10));
            if (pid == self && fd == ownFd)
                continue;
            char target[256];
            const ssize_t n = ::readlinkat(::dirfd(fds), entry->d_name, target, sizeof target - 1);
            if (n <= 0)
                continue;
            const std::string path(target, std::size_t(n));
            if (device.isPty && (path == "/dev/ptmx" || path == "/dev/pts/ptmx")) {
                otherEnd = otherEnd || isMasterOf(base + "/fdinfo/" + entry->d_name,
                                                  unsigned(minor(device.device)));
                continue;
            }
            // Devices only: a file on a network share that has gone away
            // could hold the look-up for ever.
            if (path.compare(0, 5, "/dev/") != 0)
                continue;
            struct stat st;
            if (::fstatat(::dirfd(fds), entry->d_name, &st, 0) == 0 && device.matches(st))
                ++held;
        }
        ::closedir(fds);
        if (otherEnd && held > 0)
            --held;
        if (held > 0)
            holders.push_back(Holder{pid, programName(pid)});
    }
    ::closedir(processes);
    return holders;
}

} // namespace

std::vector<Holder> holding(int fd)
{
    struct stat st;
    Identity device;
    if (::fstat(fd, &st) != 0 || !identify(st, &device))
        return {};
    return scan(device, fd);
}

std::vector<Holder> holding(const std::string& path)
{
    struct stat st;
    Identity device;
    if (::stat(path.c_str(), &st) != 0 || !identify(st, &device))
        return {};
    return scan(device, -1);
}

std::vector<Holder> lockHolder(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return {};
    std::istringstream locks(readText("/proc/locks"));
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:05:88 0 EOF"; a waiter's line
        // has "->" after the number.
        char kind[16] = {};
        long pid = 0;
        unsigned devMajor = 0;
        unsigned devMinor = 0;
        unsigned long inode = 0;
        if (std::sscanf(line.c_str(), "%*d: %15s %*s %*s %ld %x:%x:%lu", kind, &pid, &devMajor,
                        &devMinor, &inode) == 5 &&
            std::string(kind) == "FLOCK" && pid > 0 && inode == st.st_ino &&
            devMajor == major(st.st_dev) && devMinor == minor(st.st_dev))
            return {Holder{pid, programName(pid)}};
    }
    return {};
}

std::string describe(const std::vector<Holder>& holders)
{
    if (holders.empty())
        return {};
    std::string text = holders.front().name + ", pid " + std::to_string(holders.front().pid);
    if (holders.size() > 1)
        text += " and " + std::to_string(holders.size() - 1) + " more";
    return text;
}

} // namespace DeviceHolders
