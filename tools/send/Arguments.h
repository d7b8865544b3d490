#pragma once

#include "common/Checked.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// Reading quendra-send's words: options and their values, the words left
// over, and the numbers inside them. Nothing here knows a command.
namespace send {

// An option the scanner accepts. Help names what its value stands for and,
// when the option needs a line of its own in --help, what it does.
struct Option
{
    const char* name;                // "--uid"
    bool takesValue = false;         // the next word (or "=value") is its value
    const char* alias = nullptr;     // "-h"
    const char* valueName = nullptr; // "N", for --help
    const char* help = nullptr;      // one line for --help; none when a command's usage shows it
    const char* excludes = nullptr;  // an option that asks for the opposite: "--verbose"
};

// The words as scanned: options by their long names, the rest in order.
struct Scan
{
    QStringList positional;
    QHash<QString, QString> values; // option -> value, the last one given wins
    QSet<QString> given;

    bool has(const char* option) const { return given.contains(QLatin1String(option)); }
    QString value(const char* option) const { return values.value(QLatin1String(option)); }
};

// The options of quendra-send itself, besides those a command owns, in the
// order --help lists them.
const QList<Option>& programOptions();

// An entry of --help: the usage, then what it does from a common column on.
QString helpEntry(const QString& usage, const QStringList& about);
QString optionHelp(const Option& option, const QString& about);

// A hand-written scanner rather than QCommandLineParser, which would read a
// negative number such as "-1" as an option. "--" ends the options; "-" and
// "-<digit>..." are words. An option with a value given twice, and two
// options that exclude each other, are refused: neither can be guessed.
Checked<Scan> scanArguments(const QStringList& args, const QList<Option>& known);

// A whole number in decimal (a minus sign allowed) or in hexadecimal after
// "0x"; nothing else, not even a blank, around it. One too large for 64 bits
// is kept as the largest (or smallest) such number, so that it is refused as
// out of range rather than as no number.
struct Number
{
    qint64 value = 0;
    bool hex = false;
};
std::optional<Number> parseNumber(const QString& text);

// A whole number in low..high; what names the value in the refusal. Where
// low is not negative, no minus sign is taken, not even on "-0".
Checked<int> boundedNumber(const QString& what, const QString& text, int low, int high);

// A UID the operator wrote (--uid, a script's "uid" line): digits with an
// optional fraction, rounded as the panel rounds; no sign and no blanks.
std::optional<quint8> uidFromWord(const QString& text);

// A character that would reach the module as a command rather than as text.
inline bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7F;
}

// What the user gave, as a refusal quotes it: at most protocol::QuotedChars
// characters of it, control characters as escapes, so that the message stays
// one short line for a script reading standard error line by line.
QString quote(const QString& text);

// The number of the first line (from 1) of text that is not valid UTF-8;
// none when all of it is.
std::optional<int> firstLineNotUtf8(const QByteArray& text);

} // namespace send
