#pragma once

#include <QtGlobal>

class Line;
struct NetworkAddress;

// The one function the network line's library offers: a line for the
// address, not yet open, owned by the caller. Its name has C linkage, so
// that lineFor finds it by this name once the library is loaded; linked into
// the program (on Windows), it is called directly and exported by no one.
#ifdef QUENDRA_NETWORK_LINE_LINKED
#define QUENDRA_NETWORK_LINE_EXPORT
#else
#define QUENDRA_NETWORK_LINE_EXPORT Q_DECL_EXPORT
#endif
extern "C" QUENDRA_NETWORK_LINE_EXPORT Line* quendraNewNetworkLine(const NetworkAddress& address);
inline constexpr char NewNetworkLineName[] = "quendraNewNetworkLine";
using NewNetworkLine = decltype(&quendraNewNetworkLine);
