// Runs under wine, built with mingw-w64: opens a COM port with the Windows
// line code (after another program left XON/XOFF on), then writes frames of
// consecutive byte values. Reports each step on standard output for tst_wine
// to check against what arrived on the far end.
//   line-probe PORT RATE STOPBITS(1|1.5|2) LIMIT_MS FRAME_SIZE FRAMES
#include "serial/DeviceLineIo.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int fail(int code, const std::string& what)
{
    std::printf("%s\n", what.c_str());
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 7)
        return fail(2, "usage: line-probe PORT RATE STOPBITS LIMIT_MS FRAME_SIZE FRAMES");
    const std::string port = std::string("\\\\.\\") + argv[1];
    const unsigned rate = unsigned(std::strtoul(argv[2], nullptr, 10));
    const std::string stop = argv[3];
    const int limitMs = std::atoi(argv[4]);
    const long long frameSize = std::atoll(argv[5]);
    const int frames = std::atoi(argv[6]);

    const DriverStopBits stopBits = stop == "2"     ? DriverStopBits::Two
                                    : stop == "1.5" ? DriverStopBits::OneAndHalf
                                                    : DriverStopBits::One;
    // Another program leaves software flow control on, so that only the
    // line's own open can clear it.
    HANDLE before = ::CreateFileA(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (before == INVALID_HANDLE_VALUE)
        return fail(5, "cannot open " + port + ": error " + std::to_string(::GetLastError()));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(before, &dcb);
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    ::SetCommState(before, &dcb);
    ::CloseHandle(before);

    DeviceLineIo::LineRequest request;
    request.rate = rate;
    request.stopBits = stopBits;
    DeviceLineIo::Opening opening = DeviceLineIo::open(argv[1], request);
    if (!opening.device.isOpen())
        return fail(5, "cannot open " + port + ": " + opening.error);
    DeviceLineIo::Device& device = opening.device;
    const HANDLE h = device.handle;
    // The line as the device now runs it; closing puts the earlier one back.
    DCB now{};
    now.DCBlength = sizeof now;
    ::GetCommState(h, &now);
    std::printf("line: rate %lu, XON/XOFF %s\n", static_cast<unsigned long>(now.BaudRate),
                now.fOutX || now.fInX ? "on" : "off");
    const std::string mismatch =
        driverMismatch(DriverSettings{rate, stopBits}, readDriverSettings(h));
    if (!mismatch.empty())
        return fail(3, "refused: " + mismatch);

    const DeviceLineIo::DrainLimit limit = [limitMs](long long) { return limitMs; };
    std::vector<char> frame(static_cast<size_t>(frameSize));
    unsigned value = 0;
    for (int i = 0; i < frames; ++i) {
        for (char& byte : frame)
            byte = char(value++ & 0xff);
        const ULONGLONG start = ::GetTickCount64();
        const DeviceLineIo::Outcome sent = DeviceLineIo::write(h, frame.data(), frameSize, limit);
        std::printf("frame %d: %lld of %lld sent in %llu ms\n", i, sent.sent, frameSize,
                    ::GetTickCount64() - start);
        if (!sent.error.empty())
            return fail(4, "error: " + sent.error);
    }
    DeviceLineIo::drain(h, limit);
    DeviceLineIo::close(device);
    return fail(0, "done");
}
