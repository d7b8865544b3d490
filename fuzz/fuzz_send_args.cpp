// quendra-send's command line. Scripts build it from whatever they have at
// hand: a line that is refused must say so in one line with status 2 and
// send nothing, and a line that is taken must give exactly the frame the
// panel's own frame functions build for the same values.
//
// Two halves, chosen by the first byte. Odd: the rest, split at zero bytes,
// is the argument list as it comes. Even: the rest gives the values of one
// well-formed request in one of the written forms the sender takes, and the
// frame it gives is checked against the frame functions.
#include "fuzz/check.h"
#include "protocol/hex.h"
#include "protocol/numbers.h"
#include "protocol/protocol.h"
#include "tools/send/SendRequest.h"

#include <QTextStream>

#include <cstddef>
#include <cstdint>

namespace {

// No port and no UID from a settings file: the line alone decides.
const send::Defaults NoDefaults{};

struct Outcome
{
    int status = -1;
    QString out;
    QString err;
};

// The whole program as a script sees it, for a line that cannot reach a port.
Outcome runLine(const QStringList& args)
{
    Outcome o;
    QTextStream out(&o.out);
    QTextStream err(&o.err);
    o.status = send::run(args, NoDefaults, out, err);
    return o;
}

// A refused line: one line naming what was wrong, status 2, nothing else.
void checkRefused(const QStringList& args)
{
    const Outcome o = runLine(args);
    check(o.status == send::BadUsage);
    check(o.out.isEmpty());
    check(o.err.startsWith(QLatin1String("quendra-send: ")));
    check(o.err.endsWith(QLatin1Char('\n')) && o.err.count(QLatin1Char('\n')) == 1);
}

// What the line gives: a frame, or none when it is refused. A taken line
// without --dry-run would open a port, so it is only parsed; with --dry-run
// in front it must give the same frame, printed, and open nothing.
std::optional<QByteArray> frameOf(const QStringList& args)
{
    const Checked<send::Request> parsed = send::parseArguments(args, NoDefaults);
    if (!parsed) {
        check(!parsed.message().contains(QLatin1Char('\n')));
        checkRefused(args);
        return std::nullopt;
    }
    // Help, a script or the port list: no frame of the line's own.
    if (parsed->mode != send::Request::Frame)
        return std::nullopt;
    const QByteArray frame = parsed->frame;
    check(!frame.isEmpty());

    const QStringList dry = QStringList{QStringLiteral("--dry-run")} + args;
    const Checked<send::Request> again = send::parseArguments(dry, NoDefaults);
    check(again && again->mode == send::Request::Frame);
    check(again->frame == frame);
    const Outcome o = runLine(dry);
    check(o.status == send::Sent && o.err.isEmpty());
    check(o.out == protocol::hexText(frame) + QLatin1Char('\n'));
    return frame;
}

// Reads the fuzzer's bytes in order; zeros once they run out.
struct Bytes
{
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    quint8 next() { return pos < size ? data[pos++] : 0; }
    quint64 number(int bytes)
    {
        quint64 value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | next();
        return value;
    }
};

// The bytes as hex text with the separator the line uses.
QString hexBytes(const QByteArray& bytes, QChar separator)
{
    return protocol::hexText(bytes).replace(QLatin1Char(' '), separator);
}

void wellFormed(Bytes in)
{
    const quint8 uid = in.next();
    const quint8 kind = in.next();
    const quint8 form = in.next();
    // No port is known: the request is only printed.
    const QStringList dryRun{QStringLiteral("--dry-run")};
    QStringList args = dryRun + QStringList{QStringLiteral("--uid"), QString::number(uid)};
    QByteArray expected;
    switch (kind % 6) {
    case 0: { // text: up to six characters the module's code page has
        QString text;
        const int length = 1 + in.next() % 6;
        for (int i = 0; i < length; ++i)
            text += QChar(0x20 + in.next() % 0x5F); // printable ASCII
        // After "--": a text may start with a dash.
        args << QStringLiteral("text") << QStringLiteral("--") << text;
        expected = protocol::commandFrame(uid, quint8(protocol::Command::Text),
                                          protocol::textPayload(text));
        check(expected.size() == 8);
        break;
    }
    case 1: { // decimal points
        const int value = in.next() % (protocol::DecimalPointsMax + 1);
        args << QStringLiteral("dp")
             << (form & 1 ? QStringLiteral("0x%1").arg(value, 0, 16) : QString::number(value));
        expected = protocol::commandFrame(uid, quint8(protocol::Command::DecimalPoints),
                                          QByteArray(1, char(value)));
        break;
    }
    case 2:
    case 3: { // long or short, signed or not, in each written form
        const bool isLong = kind % 6 == 2;
        const int width = isLong ? 4 : 2;
        const bool isSigned = form & 1;
        const quint64 raw = in.number(width);
        const qint64 value = isSigned && (raw >> (8 * width - 1))
                                 ? qint64(raw) - (qint64(1) << (8 * width))
                                 : qint64(raw);
        args << (isLong ? QStringLiteral("long") : QStringLiteral("short"));
        if (isSigned)
            args << QStringLiteral("--signed");
        switch ((form >> 1) % 3) {
        case 0:
            args << QString::number(value);
            break;
        case 1:
            args << QStringLiteral("0x%1").arg(raw, 0, 16);
            break;
        default:
            args << hexBytes(*protocol::numberPayload(qint64(raw), width, false), QLatin1Char(' '));
            break;
        }
        const protocol::Command code =
            isLong ? (isSigned ? protocol::Command::LongSigned : protocol::Command::LongUnsigned)
                   : (isSigned ? protocol::Command::ShortSigned : protocol::Command::ShortUnsigned);
        const std::optional<QByteArray> payload =
            protocol::numberPayload(isSigned ? value : qint64(raw), width, isSigned);
        // The same bytes as the bit pattern read as an unsigned number.
        check(payload && *payload == protocol::numberPayload(qint64(raw), width, false));
        expected = protocol::commandFrame(uid, quint8(code), *payload);
        break;
    }
    case 4: { // segments, or raw bytes
        QByteArray bytes;
        for (int i = 0; i < protocol::DisplayPositions; ++i)
            bytes += char(in.next());
        if (form & 1) {
            args << QStringLiteral("seg") << hexBytes(bytes, QLatin1Char(' ')).split(' ');
            expected = protocol::commandFrame(uid, quint8(protocol::Command::Segments), bytes);
        } else {
            args = dryRun + QStringList{QStringLiteral("raw"), hexBytes(bytes, QLatin1Char(':'))};
            expected = bytes;
        }
        break;
    }
    default: { // configuration: no UID byte of its own
        const protocol::BaudOption& option =
            protocol::BaudOptions[form % std::size(protocol::BaudOptions)];
        args = dryRun + QStringList{QStringLiteral("config"), QStringLiteral("--baud"),
                                    QString::number(option.rate),
                                    QStringLiteral("--new-uid=%1").arg(int(uid))};
        expected = protocol::configFrame(protocol::configPayload(option.baud, uid));
        break;
    }
    }
    const std::optional<QByteArray> frame = frameOf(args);
    check(frame && *frame == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0) {
        wellFormed(Bytes{data + 1, size - 1});
        return 0;
    }
    QStringList args;
    QByteArray current;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            args << QString::fromUtf8(current);
            current.clear();
        } else {
            current += char(data[i]);
        }
    }
    args << QString::fromUtf8(current);
    frameOf(args);
    return 0;
}
