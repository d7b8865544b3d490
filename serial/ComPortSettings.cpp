// The settings an rfc2217:// line asks of its server: COM-PORT-OPTION's codes
// for parity and stop size beside the port's own, and each setting's name as
// messages quote it ("the server refused rate 19200").
#include "serial/ComPortSettings.h"

#include "serial/TelnetReader.h"

#include <array>
#include <utility>

namespace {

// COM-PORT-OPTION's values for parity and stop size, beside the port's.
constexpr std::array<std::pair<LineSettings::Parity, unsigned char>, 5> ParityCodes{{
    {LineSettings::NoParity, 1},
    {LineSettings::OddParity, 2},
    {LineSettings::EvenParity, 3},
    {LineSettings::MarkParity, 4},
    {LineSettings::SpaceParity, 5},
}};
constexpr std::array<std::pair<LineSettings::StopBits, unsigned char>, 3> StopCodes{{
    {LineSettings::OneStop, 1},
    {LineSettings::TwoStop, 2},
    {LineSettings::OneAndHalfStop, 3},
}};

QString rateText(qint32 rate)
{
    return QStringLiteral("rate %1").arg(rate);
}

QString dataBitsText(LineSettings::DataBits bits)
{
    return QStringLiteral("data bits %1").arg(int(bits));
}

QString parityText(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::NoParity:
        return QStringLiteral("parity none");
    case LineSettings::OddParity:
        return QStringLiteral("parity odd");
    case LineSettings::EvenParity:
        return QStringLiteral("parity even");
    case LineSettings::MarkParity:
        return QStringLiteral("parity mark");
    case LineSettings::SpaceParity:
        return QStringLiteral("parity space");
    }
    return QStringLiteral("parity %1").arg(int(parity));
}

QString stopBitsText(LineSettings::StopBits stop)
{
    return stop == LineSettings::OneAndHalfStop ? QStringLiteral("stop bits 1.5")
                                                : QStringLiteral("stop bits %1").arg(int(stop));
}

} // namespace

std::vector<ComPortSetting> comPortSettings(const LineSettings& settings)
{
    using namespace telnet;
    const auto rate = quint32(settings.baudRate);
    const char rateBytes[] = {char(rate >> 24), char(rate >> 16), char(rate >> 8), char(rate)};
    std::vector<ComPortSetting> asked = {
        {SetBaudRate, QByteArray(rateBytes, sizeof rateBytes), rateText(settings.baudRate)},
        {SetDataSize, QByteArray(1, char(settings.dataBits)), dataBitsText(settings.dataBits)},
        {SetParity, {}, parityText(settings.parity)},
        {SetStopSize, {}, stopBitsText(settings.stopBits)},
        // As the local line runs: the module never holds the line back.
        {SetControl, QByteArray(1, char(NoFlowControl)), QStringLiteral("flow control none")},
    };
    for (const auto& [parity, code] : ParityCodes) {
        if (parity == settings.parity)
            asked[2].asked = QByteArray(1, char(code));
    }
    for (const auto& [stop, code] : StopCodes) {
        if (stop == settings.stopBits)
            asked[3].asked = QByteArray(1, char(code));
    }
    return asked;
}
