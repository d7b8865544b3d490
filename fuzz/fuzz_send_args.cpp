// quendra-send's command line, the input split at zero bytes. A refused line
// says so in one line with status 2; a taken one gives the same frame with
// --dry-run in front, printed, and opens nothing.
#include "fuzz/check.h"
#include "protocol/hex.h"
#include "tools/send/SendRequest.h"

#include <QTextStream>

#include <cstddef>
#include <cstdint>

namespace {

// No port and no UID from a settings file: the line alone decides.
const send::Defaults NoDefaults{};

int runLine(const QStringList& args, QString& out, QString& err)
{
    QTextStream o(&out), e(&err);
    return send::run(args, NoDefaults, o, e);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QStringList args;
    for (const QByteArray& word :
         QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0'))
        args << QString::fromUtf8(word);
    QString out, err;
    const Checked<send::Request> parsed = send::parseArguments(args, NoDefaults);
    if (!parsed) {
        check(!parsed.message().contains(QLatin1Char('\n')));
        check(runLine(args, out, err) == send::BadUsage && out.isEmpty());
        check(err.startsWith(QLatin1String("quendra-send: ")));
        check(err.endsWith(QLatin1Char('\n')) && err.count(QLatin1Char('\n')) == 1);
        return 0;
    }
    // Help, a script or the port list: no frame of the line's own.
    if (parsed->mode != send::Request::Frame)
        return 0;
    check(!parsed->frame.isEmpty());
    const QStringList dry = QStringList{QStringLiteral("--dry-run")} + args;
    const Checked<send::Request> again = send::parseArguments(dry, NoDefaults);
    // --verbose sends what it prints, so it does not go with --dry-run.
    if (parsed->verbose) {
        check(!again);
        return 0;
    }
    check(again && again->mode == send::Request::Frame && again->frame == parsed->frame);
    check(runLine(dry, out, err) == send::Sent && err.isEmpty());
    check(out == protocol::hexText(parsed->frame) + QLatin1Char('\n'));
    return 0;
}
