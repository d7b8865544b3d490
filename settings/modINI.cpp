#include "settings/modINI.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <optional>

#ifdef Q_OS_WIN
#include <windows.h>

#include <iterator>
#endif

namespace modINI {

namespace {

QString& folderOverride()
{
    static QString folder;
    return folder;
}

QString executableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
        // Tools that run before (or without) an application object still find
        // their folder: from the kernel's link to the running executable, or on
        // Windows from the module the process was started from.
#ifdef Q_OS_WIN
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
    return QFileInfo(QString::fromWCharArray(path, int(n))).path();
#else
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).path();
#endif
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArray trimmed(const QByteArray& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

bool sameName(const QByteArray& raw, const QString& name)
{
    return QString::fromUtf8(raw).compare(name, Qt::CaseInsensitive) == 0;
}

QString valueText(QByteArray raw)
{
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front())
        raw = raw.mid(1, raw.size() - 2);
    return QString::fromUtf8(raw).left(MaxValueLength);
}

} // namespace

QString withTrailingSeparator(const QString& folder)
{
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')))
        return folder;
    return folder + QLatin1Char('/');
}

void setAppFolderOverride(const QString& folder)
{
    folderOverride() = folder;
}

QString AppFolder()
{
    const QString& forced = folderOverride();
    return withTrailingSeparator(forced.isEmpty() ? executableFolder() : forced);
}

namespace {

// Walks the lines that open a section, hold a key or hold neither (comments
// and blank lines left out), handing each to take with its number from 1
// and the section it lies in (its name, or none before the first), until
// take answers false.
template <typename Take> void forEachLine(const QByteArray& content, Take take)
{
    static const QByteArray bom("\xEF\xBB\xBF");
    qsizetype pos = content.startsWith(bom) ? bom.size() : 0;
    int number = 0;
    std::optional<QByteArray> section;
    while (pos <= content.size()) {
        qsizetype end = content.indexOf('\n', pos);
        if (end < 0)
            end = content.size();
        const QByteArray line = trimmed(content.mid(pos, end - pos));
        pos = end + 1;
        ++number;

        if (line.isEmpty() || line.front() == ';' || line.front() == '#')
            continue;
        IniLine::Kind kind = IniLine::Other;
        QByteArray key;
        QByteArray raw;
        if (line.front() == '[') {
            const qsizetype close = line.indexOf(']');
            section = close > 0 ? std::optional(trimmed(line.mid(1, close - 1))) : std::nullopt;
            kind = close > 0 ? IniLine::Section : IniLine::Other;
        } else if (const qsizetype equals = line.indexOf('='); equals > 0) {
            kind = IniLine::Key;
            key = trimmed(line.left(equals));
            raw = trimmed(line.mid(equals + 1));
        }
        if (!take(number, kind, section, key, raw))
            return;
    }
}

// Walks the keys of one section, handing each key and raw value to take
// until it answers false.
template <typename Take>
void forEachKey(const QByteArray& content, const QString& section, Take take)
{
    forEachLine(content, [&](int, IniLine::Kind kind, const std::optional<QByteArray>& in,
                             const QByteArray& key, const QByteArray& raw) {
        if (kind != IniLine::Key || !in || !sameName(*in, section))
            return true;
        return take(key, raw);
    });
}

QByteArray fileContent()
{
    QFile file(AppFolder() + QLatin1String(FileName));
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

QString iniValue(const QByteArray& content, const QString& section, const QString& key)
{
    QString value;
    forEachKey(content, section, [&](const QByteArray& name, const QByteArray& raw) {
        if (!sameName(name, key))
            return true;
        // The first line with the key decides, even when its value is empty.
        value = valueText(raw);
        return false;
    });
    return value;
}

QList<QPair<QString, QString>> iniSection(const QByteArray& content, const QString& section)
{
    QList<QPair<QString, QString>> pairs;
    forEachKey(content, section, [&](const QByteArray& name, const QByteArray& raw) {
        const QString key = QString::fromUtf8(name);
        for (const auto& pair : pairs) {
            if (pair.first.compare(key, Qt::CaseInsensitive) == 0)
                return true;
        }
        pairs.append({key, valueText(raw)});
        return true;
    });
    return pairs;
}

QList<IniLine> iniLines(const QByteArray& content)
{
    QList<IniLine> lines;
    forEachLine(content, [&](int number, IniLine::Kind kind, const std::optional<QByteArray>& in,
                             const QByteArray& key, const QByteArray& raw) {
        lines.append({number, kind, in ? std::optional(QString::fromUtf8(*in)) : std::nullopt,
                      QString::fromUtf8(key), kind == IniLine::Key ? valueText(raw) : QString()});
        return true;
    });
    return lines;
}

QList<QPair<QString, QString>> ReadSection(const QString& section)
{
    return iniSection(fileContent(), section);
}

QString ReadINI(const QString& section, const QString& key)
{
    return iniValue(fileContent(), section, key);
}

} // namespace modINI
