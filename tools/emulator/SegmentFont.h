#pragma once

#include <QtGlobal>

// The module's segment bits, as a pattern byte carries them: bit 7..0 are
// f, c, g, b, dp, e, d, a (the "Bit Position" caption on the panel).
namespace segment {

inline constexpr quint8 A = 1 << 0;
inline constexpr quint8 D = 1 << 1;
inline constexpr quint8 E = 1 << 2;
inline constexpr quint8 DP = 1 << 3;
inline constexpr quint8 B = 1 << 4;
inline constexpr quint8 G = 1 << 5;
inline constexpr quint8 C = 1 << 6;
inline constexpr quint8 F = 1 << 7;

// The pattern that shows one character of text: digits, the letters a
// seven-segment digit can draw (in whichever case it draws them: "b" for
// both B and b, "C" and "c" apart), blank, minus and underscore. Anything
// else shows blank. Never lights the decimal point.
quint8 glyph(quint8 character);

} // namespace segment
