#include "serial/LineSettings.h"

#include <QStringList>

#include <array>

namespace {

// Parity letters in the order of QSerialPort::Parity's values that have one.
constexpr std::array<std::pair<QSerialPort::Parity, char>, 5> ParityLetters{{
    {QSerialPort::NoParity, 'n'},
    {QSerialPort::EvenParity, 'e'},
    {QSerialPort::OddParity, 'o'},
    {QSerialPort::MarkParity, 'm'},
    {QSerialPort::SpaceParity, 's'},
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
        settings.dataBits = QSerialPort::Data5;
    else if (data == QLatin1String("6"))
        settings.dataBits = QSerialPort::Data6;
    else if (data == QLatin1String("7"))
        settings.dataBits = QSerialPort::Data7;
    else if (data == QLatin1String("8"))
        settings.dataBits = QSerialPort::Data8;
    else
        return std::nullopt;

    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        settings.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        settings.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        settings.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;

    return settings;
}

QString formatLineSettings(const LineSettings& settings)
{
    char parity = '?';
    for (const auto& [value, letter] : ParityLetters) {
        if (value == settings.parity)
            parity = letter;
    }
    const QString stop = settings.stopBits == QSerialPort::OneStop          ? QStringLiteral("1")
                         : settings.stopBits == QSerialPort::OneAndHalfStop ? QStringLiteral("1.5")
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

Checked<void> applyLineSettings(QSerialPort& port, const LineSettings& settings)
{
    const auto refused = [&](const QString& field) {
        return Refusal{QStringLiteral("%1 refused: %2").arg(field, port.errorString())};
    };
    if (!port.setBaudRate(settings.baudRate))
        return refused(QStringLiteral("rate %1").arg(settings.baudRate));
    if (!port.setParity(settings.parity))
        return refused(QStringLiteral("parity"));
    if (!port.setDataBits(settings.dataBits))
        return refused(QStringLiteral("data bits %1").arg(int(settings.dataBits)));
    if (!port.setStopBits(settings.stopBits))
        return refused(QStringLiteral("stop bits"));
    if (!port.setFlowControl(QSerialPort::NoFlowControl))
        return refused(QStringLiteral("flow control"));
    return {};
}

int bitsPerCharacter(const LineSettings& settings)
{
    return 1 + int(settings.dataBits) + (settings.parity == QSerialPort::NoParity ? 0 : 1) +
           (settings.stopBits == QSerialPort::OneStop ? 1 : 2);
}
