#pragma once

#include <string>
#include <vector>

// Who really holds a serial device. The terminal's exclusive-use flag
// outlives the program that set it wherever the device stays open (a
// pseudo-terminal whose other end is still held), so the flag alone says
// nothing: what counts is a live process with the device open, as fuser
// finds it in /proc/PID/fd by the device itself (its device number, and for
// a pseudo-terminal its instance), whatever path it was opened by. No
// Qt here: the device's own calls use it as they are.
namespace DeviceHolders {

struct Holder
{
    long pid = 0;
    std::string name; // the program, as its command line names it
};

// The live processes that have the device open, other than through the
// descriptor given (this program's own, or -1). The program at a
// pseudo-terminal's other end, which keeps one descriptor of the device
// open so that it can read the line (quendra-emulator, a test), is not
// counted for that one. Empty where the system shows no such list.
std::vector<Holder> holding(int fd);
// The same for a device this program could not open.
std::vector<Holder> holding(const std::string& path);

// The process holding the advisory lock (flock) on the device open at fd,
// from /proc/locks; none when it cannot be told.
std::vector<Holder> lockHolder(int fd);

// "quendra-panel, pid 1234", "... and 2 more", for the reason an open
// gives.
std::string describe(const std::vector<Holder>& holders);

} // namespace DeviceHolders
