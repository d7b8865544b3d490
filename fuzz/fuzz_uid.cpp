// The UID text the operator types into the list becomes the first byte of
// every frame. A text must give the module's address 0..255 or be refused:
// a wrong byte addresses another module on the line.
#include "fuzz/check.h"
#include "protocol/protocol.h"

#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// An independent answer for short plain texts: a sign, decimal digits and at
// most one point, blanks around them; the C library parses the number and
// rounds it to the nearest whole number, ties to the even one. Fifteen
// digits stay exact in a double, so a tie is a tie. None when the reference
// has no opinion (longer or other texts).
enum class Ref
{
    NoOpinion,
    Refused,
    Value
};
Ref reference(const std::string& raw, int& value)
{
    if (raw.size() > 24)
        return Ref::NoOpinion;
    std::size_t begin = 0, end = raw.size();
    for (char c : raw) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return Ref::NoOpinion; // the panel trims Unicode blanks too
    }
    while (begin < end && std::isspace(static_cast<unsigned char>(raw[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(raw[end - 1])))
        --end;
    const std::string text = raw.substr(begin, end - begin);
    int digits = 0, points = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.')
            ++points;
        else if (!((c == '+' || c == '-') && i == 0))
            return Ref::Refused;
    }
    if (digits == 0 || points > 1)
        return Ref::Refused;
    if (digits > 15)
        return Ref::NoOpinion;
    char* stop = nullptr;
    const double number = std::strtod(text.c_str(), &stop);
    check(stop == text.c_str() + text.size());
    const double rounded = std::nearbyint(number); // the default mode: ties to even
    if (rounded < 0 || rounded > 255)
        return Ref::Refused;
    value = static_cast<int>(rounded);
    return Ref::Value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const QString text = QString::fromUtf8(raw.data(), qsizetype(raw.size()));
    const std::optional<quint8> uid = protocol::uidFromText(text);

    // A refused text stays refused, an accepted one keeps its value, with
    // blanks around it: the field may hold them.
    check(protocol::uidFromText(QStringLiteral(" ") + text + QStringLiteral("\t")) == uid);

    if (uid) {
        // What is accepted is a number: its shortest form reads back the same.
        check(protocol::uidFromText(QString::number(*uid)) == uid);
    }

    if (QString::fromUtf8(raw.data(), qsizetype(raw.size())).toUtf8() !=
        QByteArray(raw.data(), qsizetype(raw.size())))
        return 0; // not valid UTF-8: the reference reads bytes, the panel characters
    int expected = -1;
    switch (reference(raw, expected)) {
    case Ref::NoOpinion:
        break;
    case Ref::Refused:
        check(!uid);
        break;
    case Ref::Value:
        check(uid && *uid == expected);
        break;
    }
    return 0;
}
