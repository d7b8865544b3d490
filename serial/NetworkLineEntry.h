#pragma once

#include <QtGlobal>

class Line;
struct NetworkAddress;

// The one function the network line's library offers: a line for the
// address, not yet open, owned by the caller. Its name has C linkage, so
// that lineFor finds it by this name once the library is loaded.
extern "C" Q_DECL_EXPORT Line* quendraNewNetworkLine(const NetworkAddress& address);
inline constexpr char NewNetworkLineName[] = "quendraNewNetworkLine";
using NewNetworkLine = decltype(&quendraNewNetworkLine);
