#include "tools/emulator/SegmentFont.h"

namespace segment {

namespace {

constexpr quint8 Digits[10] = {
    A | B | C | D | E | F,     // 0
    B | C,                     // 1
    A | B | G | E | D,         // 2
    A | B | G | C | D,         // 3
    F | G | B | C,             // 4
    A | F | G | C | D,         // 5
    A | F | G | E | D | C,     // 6
    A | B | C,                 // 7
    A | B | C | D | E | F | G, // 8
    A | B | C | D | F | G,     // 9
};

} // namespace

quint8 glyph(quint8 character)
{
    if (character >= '0' && character <= '9')
        return Digits[character - '0'];
    switch (character) {
    case 'A':
    case 'a':
        return A | B | C | E | F | G;
    case 'B':
    case 'b':
        return F | E | D | C | G;
    case 'C':
        return A | F | E | D;
    case 'c':
        return G | E | D;
    case 'D':
    case 'd':
        return B | C | D | E | G;
    case 'E':
    case 'e':
        return A | F | G | E | D;
    case 'F':
    case 'f':
        return A | F | G | E;
    case 'G':
    case 'g':
        return A | F | E | D | C;
    case 'H':
        return F | E | G | B | C;
    case 'h':
        return F | E | G | C;
    case 'I':
        return F | E;
    case 'i':
        return E;
    case 'J':
    case 'j':
        return B | C | D | E;
    case 'L':
    case 'l':
        return F | E | D;
    case 'N':
    case 'n':
        return E | G | C;
    case 'O':
        return A | B | C | D | E | F;
    case 'o':
        return G | C | D | E;
    case 'P':
    case 'p':
        return A | B | F | G | E;
    case 'Q':
    case 'q':
        return A | B | F | G | C;
    case 'R':
    case 'r':
        return E | G;
    case 'S':
    case 's':
        return A | F | G | C | D;
    case 'T':
    case 't':
        return F | E | D | G;
    case 'U':
        return F | E | D | C | B;
    case 'u':
        return E | D | C;
    case 'Y':
    case 'y':
        return F | G | B | C | D;
    case '-':
        return G;
    case '_':
        return D;
    default:
        return 0;
    }
}

} // namespace segment
