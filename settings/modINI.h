#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// The settings file "quendra.ini" that lies beside the program. It is read
// anew on every call and never written.
namespace modINI {

inline constexpr char FileName[] = "quendra.ini";

// Longest value handed back: longer values are cut to this many characters,
// as the settings have always been read.
inline constexpr int MaxValueLength = 254;

// The folder that holds the running program's executable, ending in exactly
// one separator. A launcher symlink is followed to the real executable.
QString AppFolder();

// The value stored under key in section of AppFolder() + "quendra.ini", or an
// empty text when the file, the section or the key is missing.
QString ReadINI(const QString& section, const QString& key);

// The same lookup over the file's bytes; ReadINI is this over the file.
QString iniValue(const QByteArray& content, const QString& section, const QString& key);

// Every key of a section with its value, in the order of the file, each key
// once (the first line with it decides), read by the same rules as ReadINI.
QList<QPair<QString, QString>> ReadSection(const QString& section);
QList<QPair<QString, QString>> iniSection(const QByteArray& content, const QString& section);

// One line of a settings file as the reader sees it, for a reader that
// checks every line instead of looking keys up: its number (from 1), what
// it is, the section it lies in (none before the first), and for a key its
// name and value.
struct IniLine
{
    enum Kind
    {
        Section, // "[Name]": section is the name it opens
        Key,     // "Key=Value"
        Other    // anything else that is not a comment: the reader skips it
    };
    int number = 0;
    Kind kind = Other;
    std::optional<QString> section;
    QString key;
    QString value;
};
QList<IniLine> iniLines(const QByteArray& content);

// Appends one separator unless the path already ends in one.
QString withTrailingSeparator(const QString& folder);

// Makes AppFolder() answer folder instead of the executable's folder, for
// tests and tools that keep their settings elsewhere; an empty text undoes it.
void setAppFolderOverride(const QString& folder);

} // namespace modINI
