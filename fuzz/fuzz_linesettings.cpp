// The line-settings text comes from the settings file, where anyone may have
// typed anything. An accepted text must stand for settings a serial port can
// take, and the same settings written out again must read back unchanged.
#include "fuzz/check.h"
#include "serial/LineSettings.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<LineSettings> parsed = parseLineSettings(text);
    if (!parsed)
        return 0;

    check(parsed->baudRate > 0);
    check(parsed->dataBits >= LineSettings::Data5 && parsed->dataBits <= LineSettings::Data8);
    // Exactly four fields, so exactly three commas.
    check(text.count(QLatin1Char(',')) == 3);

    const QString again = formatLineSettings(*parsed);
    const std::optional<LineSettings> reparsed = parseLineSettings(again);
    check(reparsed && *reparsed == *parsed);
    // Upper-case letters and blanks around the fields mean the same settings.
    check(parseLineSettings(QStringLiteral(" ") +
                            again.toUpper().replace(QLatin1Char(','), QStringLiteral(" , "))) ==
          parsed);
    return 0;
}
