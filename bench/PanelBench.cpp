// The pty and quendra.ini of the panel under measure, a process's memory,
// and the percentiles of a series (bench/PanelBench.h).
#include "bench/PanelBench.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace bench {

QByteArray settingsFor(const Pty& pty)
{
    return "[Settings]\nCommPort=1\nSetting=38400,n,8,1\nSlaveID=5\n[Ports]\nCOM1=" +
           pty.path().toUtf8() + "\n";
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        fatal(QStringLiteral("cannot write %1").arg(path));
}

Memory memoryOf(const QString& statusPath)
{
    QFile file(statusPath);
    Memory m;
    if (!file.open(QIODevice::ReadOnly))
        return m;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const auto kb = [&line] { return line.simplified().split(' ').value(1).toDouble() / 1024; };
        if (line.startsWith("VmRSS:"))
            m.rssMb = kb();
        else if (line.startsWith("VmHWM:"))
            m.hwmMb = kb();
    }
    return m;
}

Stats statsOf(std::vector<double>& values)
{
    Stats s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const auto rank = [&values](double p) {
        const auto i = size_t(std::ceil(p * double(values.size())));
        return values[std::clamp<size_t>(i, 1, values.size()) - 1];
    };
    s.median = rank(0.5);
    s.p99 = rank(0.99);
    s.worst = values.back();
    return s;
}

} // namespace bench
