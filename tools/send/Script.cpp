#include "tools/send/Script.h"

#include <algorithm>
#include <optional>

namespace send {

Checked<QStringList> splitWords(const QString& line)
{
    QStringList words;
    QString word;
    bool inWord = false; // also for a word that is only "" or ''
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else if (c == QLatin1Char('#') && !inWord) {
            break;
        } else if (c == QLatin1Char('\'')) {
            const qsizetype end = line.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0)
                return Refusal{QStringLiteral("a single quote is not closed")};
            word += line.mid(i + 1, end - i - 1);
            inWord = true;
            i = end;
        } else if (c == QLatin1Char('"')) {
            inWord = true;
            for (++i;; ++i) {
                if (i >= line.size())
                    return Refusal{QStringLiteral("a double quote is not closed")};
                const QChar q = line.at(i);
                if (q == QLatin1Char('"'))
                    break;
                const QChar next = i + 1 < line.size() ? line.at(i + 1) : QChar();
                if (q == QLatin1Char('\\') && !next.isNull() &&
                    QStringLiteral("\"\\$`").contains(next)) {
                    word += next;
                    ++i;
                } else {
                    word += q;
                }
            }
        } else if (c == QLatin1Char('\\')) {
            if (i + 1 >= line.size())
                return Refusal{QStringLiteral("a backslash ends the line")};
            word += line.at(++i);
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}

namespace {

// What one line does, refused without its place; the caller names it.
struct LineReader
{
    UidDefault uid;
    QList<Option> known = programOptions() + commandOptions();

    // The line's step; none for a blank line, a comment or a "uid" line.
    Checked<std::optional<ScriptStep>> read(const QString& text, int line)
    {
        // A tab separates words; any other control character, even inside
        // quotes or a comment, is a damaged or binary file, and raw is the
        // way to send such bytes.
        const auto control = std::find_if(text.cbegin(), text.cend(), [](QChar c) {
            return isControl(c) && c != QLatin1Char('\t');
        });
        if (control != text.cend())
            return Refusal{*control == QLatin1Char('\r')
                               ? QStringLiteral("a carriage return \\x0d inside the line (a "
                                                "line ends with LF or CR LF)")
                               : QStringLiteral("the control character %1; send such bytes "
                                                "with raw")
                                     .arg(quote(QString(*control)))};
        const Checked<QStringList> words = splitWords(text);
        if (!words)
            return Refusal{words.message()};
        if (words->isEmpty())
            return std::optional<ScriptStep>();
        const Checked<Scan> scan = scanArguments(*words, known);
        if (!scan)
            return Refusal{scan.message()};
        // The port, its settings and the way of sending are the script's;
        // only the UID may change from line to line.
        for (const Option& option : programOptions()) {
            if (scan->has(option.name) && qstrcmp(option.name, "--uid") != 0)
                return Refusal{QStringLiteral("%1 applies to the whole script: give it to "
                                              "quendra-send itself")
                                   .arg(QLatin1String(option.name))};
        }
        const QString first = scan->positional.value(0);
        if (first == QLatin1String("wait") || first == QLatin1String("uid")) {
            if (!scan->given.isEmpty())
                return Refusal{QStringLiteral("%1 takes no options").arg(first)};
            if (scan->positional.size() != 2)
                return Refusal{first == QLatin1String("wait")
                                   ? QStringLiteral("wait takes one number of milliseconds, "
                                                    "0 to %1")
                                         .arg(MaxWaitMs)
                                   : QStringLiteral("uid takes one UID 0 to 255")};
            const QString& value = scan->positional.at(1);
            if (first == QLatin1String("uid")) {
                if (!uidFromWord(value))
                    return Refusal{
                        QStringLiteral("uid: \"%1\" is not a UID 0 to 255").arg(quote(value))};
                uid = UidDefault{value, QStringLiteral("uid")};
                return std::optional<ScriptStep>();
            }
            const Checked<int> ms = boundedNumber(QStringLiteral("wait"), value, 0, MaxWaitMs);
            if (!ms)
                return Refusal{ms.message()};
            return std::optional<ScriptStep>(ScriptStep{line, QByteArray(), *ms});
        }
        const Checked<QByteArray> frame = commandFrame(*scan, uid);
        if (!frame)
            return Refusal{frame.message()};
        return std::optional<ScriptStep>(ScriptStep{line, *frame, 0});
    }
};

} // namespace

Checked<QList<ScriptStep>> readScript(const QString& text, const QString& name,
                                      const UidDefault& uid)
{
    QList<ScriptStep> steps;
    LineReader reader{uid};
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        if (line.endsWith(QLatin1Char('\r'))) // written on Windows: CR LF ends the line
            line.chop(1);
        const Checked<std::optional<ScriptStep>> step = reader.read(line, i + 1);
        if (!step)
            return Refusal{QStringLiteral("%1:%2: %3").arg(name).arg(i + 1).arg(step.message())};
        if (*step)
            steps.append(**step);
    }
    return steps;
}

} // namespace send
