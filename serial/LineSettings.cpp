#include "serial/LineSettings.h"

#include <QStringList>

#include <array>

namespace {

// Parity letters in the order of LineSettings::Parity's values that have one.
constexpr std::array<std::pair<LineSettings::Parity, char>, 5> ParityLetters{{
    {LineSettings::NoParity, 'n'},
    {LineSettings::EvenParity, 'e'},
    {LineSettings::OddParity, 'o'},
    {LineSettings::MarkParity, 'm'},
    {LineSettings::SpaceParity, 's'},
}};

} // namespace

std::optional<LineSettings> parseLineSettings(const QString& text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return std::nullopt;

    LineSettings settings;
    const QString baud = fields[0].trimmed();
    bool ok = false;
    settings.baudRate = baud.toInt(&ok);
    if (!ok || settings.baudRate <= 0 || baud.startsWith(QLatin1Char('+')))
        return std::nullopt;

    const QString parity = fields[1].trimmed().toLower();
    bool parityKnown = false;
    for (const auto& [value, letter] : ParityLetters) {
        if (parity == QLatin1Char(letter)) {
            settings.parity = value;
            parityKnown = true;
        }
    }
    if (!parityKnown)
        return std::nullopt;

    const QString data = fields[2].trimmed();
    if (data == QLatin1String("5"))
        settings.dataBits = LineSettings::Data5;
    else if (data == QLatin1String("6"))
        settings.dataBits = LineSettings::Data6;
    else if (data == QLatin1String("7"))
        settings.dataBits = LineSettings::Data7;
    else if (data == QLatin1String("8"))
        settings.dataBits = LineSettings::Data8;
    else
        return std::nullopt;

    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        settings.stopBits = LineSettings::OneStop;
    else if (stop == QLatin1String("1.5"))
        settings.stopBits = LineSettings::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        settings.stopBits = LineSettings::TwoStop;
    else
        return std::nullopt;

    return settings;
}

char parityLetter(LineSettings::Parity parity)
{
    for (const auto& [value, letter] : ParityLetters) {
        if (value == parity)
            return letter;
    }
    return '?';
}

QString formatLineSettings(const LineSettings& settings)
{
    const char parity = parityLetter(settings.parity);
    const QString stop = settings.stopBits == LineSettings::OneStop          ? QStringLiteral("1")
                         : settings.stopBits == LineSettings::OneAndHalfStop ? QStringLiteral("1.5")
                                                                             : QStringLiteral("2");
    return QStringLiteral("%1,%2,%3,%4")
        .arg(settings.baudRate)
        .arg(QLatin1Char(parity))
        .arg(int(settings.dataBits))
        .arg(stop);
}

LineSettings moduleLineSettings(int baudRate)
{
    LineSettings settings;
    settings.baudRate = baudRate;
    return settings;
}

int bitsPerCharacter(const LineSettings& settings)
{
    return 1 + int(settings.dataBits) + (settings.parity == LineSettings::NoParity ? 0 : 1) +
           (settings.stopBits == LineSettings::OneStop ? 1 : 2);
}
