#include "tests/support/TestIni.h"

#include "settings/modINI.h"

#include <QFile>

TestIni::TestIni(const QByteArray& content)
{
    modINI::setAppFolderOverride(m_dir.path());
    if (!content.isNull())
        write(content);
}

TestIni::~TestIni()
{
    modINI::setAppFolderOverride({});
}

QString TestIni::filePath() const
{
    return m_dir.filePath(QLatin1String(modINI::FileName));
}

void TestIni::write(const QByteArray& content)
{
    QFile file(filePath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}
