#include "tests/support/TestIni.h"

#include <QFile>

TestIni::TestIni(const QByteArray& content)
{
    modINI::setAppFolderOverride(m_dir.path());
    if (!content.isNull())
        write(content);
}

void TestIni::write(const QByteArray& content)
{
    QFile file(filePath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}
