#pragma once

#include "common/Checked.h"

#include <QString>

#include <memory>
#include <optional>

class Line;

// The one home for port names. A name is read by its scheme, as a table:
//   rfc2217://HOST:PORT   a terminal server: Telnet with serial-port control
//   socket://HOST:PORT    a terminal server: the frame's bytes over plain TCP
//   anything else         a serial device of this machine
// and a port number n (the "Comm Port" menu's COMn, a key of "Ports", a
// --port COMn) stands for one such name.

// A port reached through a terminal server: "rfc2217://HOST:PORT" (Telnet
// with serial-port control, so the line settings are set from here) or
// "socket://HOST:PORT" (the frame's bytes over plain TCP; the server's own
// settings hold).
struct NetworkAddress
{
    enum class Kind
    {
        Rfc2217,
        Socket
    };
    Kind kind = Kind::Rfc2217;
    QString host;
    quint16 port = 0;

    // "HOST:PORT", an IPv6 host in brackets: how every message names the port.
    QString display() const;
};

// Whether the name is meant as a network address (it holds "://"), and so is
// never a device path.
bool isNetworkPortName(const QString& name);

// The address a "rfc2217://HOST:PORT" or "socket://HOST:PORT" name stands for,
// scheme in any letter case, port 1..65535. Anything else is refused with a
// message for the operator that names it ("ftp://x:1: unknown kind of port
// \"ftp\"; use rfc2217:// or socket://").
Checked<NetworkAddress> parseNetworkPortName(const QString& name);

// The line a port name stands for, not yet open; a name that looks like a
// network address but is none is refused with the reason, which names it.
Checked<std::unique_ptr<Line>> lineFor(const QString& name);

// The number n of "COMn" (any letter case); with bareNumber, a plain "n"
// too. None for a text of another shape; a port exists for 1 to MaxComPort
// only, which the caller checks, so that it can say "no such port".
inline constexpr int MaxComPort = 255;
std::optional<int> comPortNumber(const QString& text, bool bareNumber = false);

// The port of this machine that COMn stands for when "Ports" names none:
// COMn on Windows (\\.\COMn past COM9), /dev/ttyS(n-1) elsewhere.
QString platformPortName(int n);

// Whether a "Ports" value is a name the system knows as it is (a network
// address; on Windows COM7 or \\.\COM12), and so is never taken as a path
// relative to the program's folder.
bool isSystemPortName(const QString& name);
