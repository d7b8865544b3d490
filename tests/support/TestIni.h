#pragma once

#include "settings/modINI.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A private program folder holding a quendra.ini of the test's own, so that
// no test reads a file another test wrote. The folder stands in for the
// program's folder while the object lives.
class TestIni
{
public:
    explicit TestIni(const QByteArray& content = {});
    ~TestIni() { modINI::setAppFolderOverride({}); }

    void write(const QByteArray& content);
    QString filePath() const { return m_dir.filePath(QLatin1String(modINI::FileName)); }

private:
    QTemporaryDir m_dir;
};
