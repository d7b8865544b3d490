#include "serial/DeviceAdvice.h"

#include <QFile>

#ifndef Q_OS_WIN
#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

QString deviceSettingsRefusal(const LineSettings& settings)
{
#ifndef Q_OS_WIN
    // The drivers here know one or two stop bits only; asked for 1.5, the
    // serial library would quietly run the line with one.
    if (settings.stopBits == LineSettings::OneAndHalfStop)
        return QStringLiteral("stop bits 1.5: this system has no setting for them");
#else
    Q_UNUSED(settings);
#endif
    return {};
}

QString permissionHint(const QString& device)
{
#ifndef Q_OS_WIN
    const QByteArray path = QFile::encodeName(device);
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return {};
    if (::access(path.constData(), R_OK | W_OK) == 0 || errno != EACCES)
        return {};
    // Only a group with read and write access can help; a device kept for
    // root alone needs its rules changed, which is no one-line advice.
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return {};
    const struct group* owner = ::getgrgid(info.st_gid);
    if (!owner || info.st_gid == 0)
        return {};
    return joinGroupAdvice(QString::fromLocal8Bit(owner->gr_name));
#else
    Q_UNUSED(device);
    return {};
#endif
}

QString joinGroupAdvice(const QString& group)
{
    return QStringLiteral("; join the group %1 to open it: sudo usermod -aG %1 $USER, then log "
                          "out and back in (the group counts from the next login)")
        .arg(group);
}
