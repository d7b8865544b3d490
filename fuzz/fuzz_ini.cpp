// The settings reader over a quendra.ini edited by hand, saved in another
// encoding or the wrong file: a value or nothing, never more than 254
// characters, and a value given back as it was written.
#include "fuzz/check.h"
#include "settings/modINI.h"

#include <cstddef>
#include <cstdint>

namespace {

const QString Section = QStringLiteral("Settings");

void valueIsBounded(const QString& value)
{
    check(value.size() <= modINI::MaxValueLength);
    // A value ends at its line: no line break may leak into it.
    check(!value.contains(QLatin1Char('\n')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    // Any file: the three keys the panel reads, and a key named by the file's
    // own first bytes, all come back bounded.
    for (const char* key : {"CommPort", "Setting", "SlaveID"})
        valueIsBounded(modINI::iniValue(bytes, Section, QLatin1String(key)));
    valueIsBounded(modINI::iniValue(bytes, Section, QString::fromUtf8(bytes.left(8))));
    valueIsBounded(modINI::iniValue(bytes, QString::fromUtf8(bytes.left(4)), Section));

    // A value in quotes comes back whole, inner blanks and all, cut to 254
    // characters (a line break would end it early).
    const QByteArray value = bytes.left(400).replace('\n', ' ');
    const QByteArray file = "[Settings]\nSetting=\"" + value + "\"\n" + bytes;
    const QString expected = QString::fromUtf8(value).left(modINI::MaxValueLength);
    check(modINI::iniValue(file, Section, QStringLiteral("Setting")) == expected);

    // The same value behind arbitrary bytes, in a section of its own that
    // those bytes do not name: the reader finds it past whatever came first.
    const QByteArray name("Quendra\x01"
                          "Fuzz");
    if (!bytes.toLower().contains(name.toLower())) {
        const QByteArray behind = bytes + "\n[" + name + "]\nSetting=\"" + value + "\"\n";
        check(modINI::iniValue(behind, QString::fromLatin1(name), QStringLiteral("Setting")) ==
              expected);
    }
    return 0;
}
