// Serial devices on Windows, opened for overlapped I/O and worked on
// through their HANDLE. Nothing here knows Qt, so that the file also builds
// alone into a small program that tries it on a real COM port.
#include "serial/DeviceLineIo.h"

#include <windows.h>

#include <algorithm>
#include <memory>

namespace DeviceLineIo {

struct Earlier
{
    DCB line;
    COMMTIMEOUTS timeouts;
};

namespace {

// Once a write is withdrawn the driver ends it at once; one that keeps it
// past this is left to finish on its own, with its buffer.
constexpr DWORD CancelGraceMs = 500;

std::string systemError(DWORD code)
{
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n > 0 ? std::string(text, n) : "system error " + std::to_string(code);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

std::string stalled(int limitMs, long long left)
{
    return "the line took no more of it in " + std::to_string(limitMs) + " ms; " +
           std::to_string(left) + " bytes discarded";
}

// A point in time that waits are measured against; what remains is never
// negative, and a limit of zero or less has passed at once.
class Deadline
{
public:
    explicit Deadline(int limitMs) : m_end(::GetTickCount64() + ULONGLONG(std::max(limitMs, 0))) {}

    DWORD remainingMs() const
    {
        const ULONGLONG now = ::GetTickCount64();
        return now >= m_end ? 0 : DWORD(std::min<ULONGLONG>(m_end - now, 0x7fffffff));
    }
    bool passed() const { return remainingMs() == 0; }

private:
    ULONGLONG m_end;
};

// What the driver still holds to send; -1 when it cannot say.
long long queuedBytes(HANDLE handle)
{
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle, &errors, &status))
        return -1;
    return status.cbOutQue;
}

// Waits until the driver's transmit queue is empty, looked at in steps of
// about a character's time, so that a stalled line can be given up on; then
// what the UART itself still holds, which the driver bounds on its own.
bool drainQueue(HANDLE handle, const DrainLimit& limit, const Deadline& deadline, int limitMs,
                std::string* reason, long long* left)
{
    for (;;) {
        const long long queued = queuedBytes(handle);
        if (queued < 0) {
            *left = 0;
            *reason = systemError(::GetLastError());
            return false;
        }
        if (queued == 0)
            break;
        if (deadline.passed()) {
            ::PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR);
            *left = queued;
            *reason = stalled(limitMs, queued);
            return false;
        }
        const DWORD stepMs = DWORD(std::clamp(limit(queued) - limit(0), 1, 20));
        ::Sleep(std::min(stepMs, std::max<DWORD>(deadline.remainingMs(), 1)));
    }
    if (!::FlushFileBuffers(handle)) {
        *left = 0;
        *reason = systemError(::GetLastError());
        return false;
    }
    return true;
}

struct EventCloser
{
    void operator()(HANDLE event) const { ::CloseHandle(event); }
};

} // namespace

Opening open(const std::string& path, const LineRequest& request)
{
    Opening result;
    // "COM10" and above open only by their full device name.
    const std::string name = path.rfind("\\\\.\\", 0) == 0 ? path : "\\\\.\\" + path;
    std::wstring wide(name.size(), L'\0');
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, name.data(), int(name.size()), wide.data(),
                                             int(wide.size()));
    wide.resize(size_t(std::max(length, 0)));
    // No sharing: a second program's open is refused while this one holds it.
    const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        result.error = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                           ? std::string(InUse)
                           : systemError(error);
        return result;
    }
    const auto refuse = [&](const std::string& why) {
        ::CloseHandle(handle);
        result.error = why;
        return result;
    };
    auto earlier = std::make_shared<Earlier>();
    earlier->line.DCBlength = sizeof earlier->line;
    if (!::GetCommState(handle, &earlier->line) || !::GetCommTimeouts(handle, &earlier->timeouts))
        return refuse(systemError(::GetLastError()));

    DCB line = earlier->line;
    line.BaudRate = request.rate;
    line.ByteSize = BYTE(request.dataBits);
    switch (request.parity) {
    case 'e':
        line.Parity = EVENPARITY;
        break;
    case 'o':
        line.Parity = ODDPARITY;
        break;
    case 'm':
        line.Parity = MARKPARITY;
        break;
    case 's':
        line.Parity = SPACEPARITY;
        break;
    default:
        line.Parity = NOPARITY;
        break;
    }
    line.fParity = line.Parity != NOPARITY;
    line.StopBits = request.stopBits == DriverStopBits::Two          ? TWOSTOPBITS
                    : request.stopBits == DriverStopBits::OneAndHalf ? ONE5STOPBITS
                                                                     : ONESTOPBIT;
    // Every byte value is data on this line: 0x11 and 0x13 must not stop
    // it, and no modem line holds it back. DTR and RTS are raised, as a
    // terminal's open raises them elsewhere.
    line.fBinary = TRUE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDsrSensitivity = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;
    line.fAbortOnError = FALSE;
    if (!::SetCommState(handle, &line))
        return refuse("settings refused: " + systemError(::GetLastError()));
    // No write time-outs: every wait on a write is bounded here.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!::SetCommTimeouts(handle, &timeouts))
        return refuse(systemError(::GetLastError()));
    result.device = Device{handle, std::move(earlier)};
    return result;
}

void close(Device& device)
{
    if (!device.isOpen())
        return;
    const HANDLE handle = device.handle;
    device.handle = NoDevice;
    if (device.earlier) {
        DCB line = device.earlier->line;
        COMMTIMEOUTS timeouts = device.earlier->timeouts;
        ::SetCommState(handle, &line);
        ::SetCommTimeouts(handle, &timeouts);
    }
    ::CloseHandle(handle);
    device.earlier.reset();
}

Outcome write(DeviceHandle handle, const char* data, long long size, const DrainLimit& limit)
{
    Outcome result;
    if (size <= 0)
        return result;
    if (size > static_cast<long long>(MAXDWORD)) {
        result.error = "a frame of " + std::to_string(size) + " bytes is more than one write takes";
        return result;
    }
    const int limitMs = limit(size);
    const Deadline deadline(limitMs);
    std::unique_ptr<void, EventCloser> event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        result.error = systemError(::GetLastError());
        return result;
    }
    auto request = std::make_unique<OVERLAPPED>();
    request->hEvent = event.get();
    DWORD written = 0;
    if (!::WriteFile(handle, data, DWORD(size), nullptr, request.get())) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            result.error = systemError(error);
            return result;
        }
        if (::WaitForSingleObject(event.get(), deadline.remainingMs()) != WAIT_OBJECT_0) {
            // Past the bound: the write is withdrawn, and what it had
            // handed on by then is what left.
            ::CancelIo(handle);
            if (::WaitForSingleObject(event.get(), CancelGraceMs) != WAIT_OBJECT_0) {
                // The driver still holds the request: its OVERLAPPED and event
                // must outlive it, so both are left to the system.
                request.release();
                event.release();
                result.error = stalled(limitMs, size);
                return result;
            }
            ::GetOverlappedResult(handle, request.get(), &written, FALSE);
            const long long queued = std::max(queuedBytes(handle), 0LL);
            ::PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR);
            result.sent = std::max(0LL, static_cast<long long>(written) - queued);
            result.error = stalled(limitMs, size - result.sent);
            return result;
        }
    }
    if (!::GetOverlappedResult(handle, request.get(), &written, FALSE)) {
        result.error = systemError(::GetLastError());
        return result;
    }
    result.sent = written;
    if (result.sent < size) {
        // A driver given write time-outs ends a write early on its own.
        result.error = stalled(limitMs, size - result.sent);
        return result;
    }
    // Done only once the frame is on the wire: a frame still queued when the
    // line changes would leave at another rate, or not at all.
    long long left = 0;
    if (!drainQueue(handle, limit, deadline, limitMs, &result.error, &left))
        result.sent -= left;
    return result;
}

std::string drain(DeviceHandle handle, const DrainLimit& limit)
{
    const long long queued = std::max(queuedBytes(handle), 0LL);
    const int limitMs = limit(queued);
    std::string reason;
    long long left = 0;
    drainQueue(handle, limit, Deadline(limitMs), limitMs, &reason, &left);
    return reason;
}

} // namespace DeviceLineIo

std::optional<DriverSettings> readDriverSettings(DeviceHandle handle)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle, &dcb))
        return std::nullopt;
    DriverSettings settings;
    settings.outputSpeed = dcb.BaudRate;
    settings.stopBits = dcb.StopBits == TWOSTOPBITS    ? DriverStopBits::Two
                        : dcb.StopBits == ONE5STOPBITS ? DriverStopBits::OneAndHalf
                                                       : DriverStopBits::One;
    return settings;
}
