// Runs under wine, built with mingw-w64: opens a COM port as the serial
// library does on Windows (overlapped I/O, no write time-outs), sets the
// line, then hands it to the Windows line code and writes frames of
// consecutive byte values. Reports each step on standard output for
// tst_wine to check against what arrived on the far end.
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

    HANDLE h = ::CreateFileA(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return fail(5, "cannot open " + port + ": error " + std::to_string(::GetLastError()));

    // What the serial library does before the line is handed on; software
    // flow control is left on, so that only the line code can clear it.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(h, &dcb);
    dcb.BaudRate = rate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = stop == "2" ? TWOSTOPBITS : stop == "1.5" ? ONE5STOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    if (!::SetCommState(h, &dcb))
        return fail(5, "SetCommState refused: error " + std::to_string(::GetLastError()));
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    ::SetCommTimeouts(h, &timeouts);

    const std::string prepared = DeviceLineIo::prepare(h);
    if (!prepared.empty())
        return fail(3, "refused: " + prepared);
    const std::string mismatch = driverMismatch(
        DriverSettings{rate, dcb.StopBits == TWOSTOPBITS    ? DriverStopBits::Two
                             : dcb.StopBits == ONE5STOPBITS ? DriverStopBits::OneAndHalf
                                                            : DriverStopBits::One},
        readDriverSettings(h));
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
    ::CloseHandle(h);
    return fail(0, "done");
}
