// quendra-send's script reader: a refused script names one of its lines; an
// accepted one gives, line by line, the frames the same words give on the
// command line, with the UID the script had reached there.
#include "fuzz/check.h"
#include "protocol/printable.h"
#include "tools/send/Script.h"
#include "tools/send/SendRequest.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString name = QStringLiteral("s");
    const send::UidDefault firstUid{QStringLiteral("1"), QStringLiteral("--uid")};
    const Checked<QList<send::ScriptStep>> steps = send::readScript(text, name, firstUid);

    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }

    if (!steps) {
        // "s:LINE: reason", LINE one of the script's.
        const QString& message = steps.message();
        check(message.startsWith(name + QLatin1Char(':')));
        const qsizetype colon = message.indexOf(QStringLiteral(": "), name.size() + 1);
        check(colon > name.size() + 1);
        bool isNumber = false;
        const int line = message.mid(name.size() + 1, colon - name.size() - 1).toInt(&isNumber);
        check(isNumber && line >= 1 && line <= lines.size());
        // Whatever it quotes from the script is escaped: one line, no control character.
        check(protocol::printable(message) == message);
        return 0;
    }

    QString uid = firstUid.text;
    int step = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const Checked<QStringList> words = send::splitWords(lines.at(i));
        check(bool(words)); // the script was taken, so every line splits

        // Each word in single quotes, as a shell would take it back, and split
        // again: the words come out as they went in.
        QStringList requoted;
        for (QString word : *words)
            requoted << QLatin1Char('\'') +
                            word.replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
                            QLatin1Char('\'');
        const Checked<QStringList> again = send::splitWords(requoted.join(QLatin1Char(' ')));
        check(again && *again == *words);

        if (words->isEmpty())
            continue;
        // What the line is, by its first word once the options are taken out.
        const Checked<send::Scan> scan =
            send::scanArguments(*words, send::programOptions() + send::commandOptions());
        check(bool(scan));
        const QString first = scan->positional.value(0);
        if (first == QLatin1String("uid")) {
            uid = scan->positional.at(1);
            continue;
        }
        check(step < steps->size());
        const send::ScriptStep& s = steps->at(step++);
        check(s.line == i + 1);
        if (first == QLatin1String("wait")) {
            check(s.isWait() && s.waitMs >= 0 && s.waitMs <= send::MaxWaitMs);
            continue;
        }
        // A line's own --uid stands in for the script's: given twice on the
        // command line, it would be refused.
        QStringList args{QStringLiteral("--dry-run")};
        if (!scan->has("--uid"))
            args << QStringLiteral("--uid") << uid;
        const Checked<send::Request> alone = send::parseArguments(args + *words, {});
        check(alone && alone->mode == send::Request::Frame && alone->frame == s.frame);
    }
    check(step == steps->size());
    return 0;
}
