#include "tools/emulator/ModuleLine.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Puts the settings on the open port, flow control off. Refused, naming the
// field the port refused, when any does not take.
Checked<void> applyLineSettings(QSerialPort& port, const LineSettings& settings)
{
    static_assert(int(LineSettings::MarkParity) == int(QSerialPort::MarkParity) &&
                      int(LineSettings::SpaceParity) == int(QSerialPort::SpaceParity) &&
                      int(LineSettings::OneAndHalfStop) == int(QSerialPort::OneAndHalfStop),
                  "line settings are numbered as QSerialPort numbers them");
    const auto refused = [&](const QString& field) {
        return Refusal{QStringLiteral("%1 refused: %2").arg(field, port.errorString())};
    };
    if (!port.setBaudRate(settings.baudRate))
        return refused(QStringLiteral("rate %1").arg(settings.baudRate));
    if (!port.setParity(QSerialPort::Parity(settings.parity)))
        return refused(QStringLiteral("parity"));
    if (!port.setDataBits(QSerialPort::DataBits(settings.dataBits)))
        return refused(QStringLiteral("data bits %1").arg(int(settings.dataBits)));
    if (!port.setStopBits(QSerialPort::StopBits(settings.stopBits)))
        return refused(QStringLiteral("stop bits"));
    if (!port.setFlowControl(QSerialPort::NoFlowControl))
        return refused(QStringLiteral("flow control"));
    return {};
}

// Where a symbolic link points, or an empty text when path is none.
QString linkTarget(const QString& path)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer - 1);
    return n < 0 ? QString() : QFile::decodeName(QByteArray(buffer, int(n)));
}

bool isHungUp(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

} // namespace

ModuleLine::ModuleLine(QObject* parent) : QObject(parent)
{
    m_idle.setSingleShot(true);
    m_idle.setTimerType(Qt::PreciseTimer);
    connect(&m_idle, &QTimer::timeout, this, &ModuleLine::endBurst);
    connect(&m_port, &QSerialPort::readyRead, this, [this] { received(m_port.readAll()); });
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (!m_port.isOpen())
            return;
        // A terminal whose far end has gone reads as empty rather than as
        // an error, which QSerialPort reports as a read error and then
        // reports again at once, for ever: the line is gone all the same.
        const bool hungUp = e == QSerialPort::ReadError && isHungUp(int(m_port.handle()));
        if (e == QSerialPort::ResourceError || hungUp) {
            const QString reason =
                m_device + QStringLiteral(": ") +
                (hungUp ? QStringLiteral("the device hung up") : m_port.errorString());
            m_port.close();
            fail(reason);
        }
    });
}

ModuleLine::~ModuleLine()
{
    removeLink();
    delete m_notifier;
    delete m_closes;
    if (m_closeWatch >= 0)
        ::close(m_closeWatch);
}

Checked<void> ModuleLine::openPty(const QString& linkPath)
{
    auto pty = std::make_unique<PseudoTerminal>();
    if (!pty->isValid())
        return Refusal{pty->errorString()};
    m_pty = std::move(pty);
    m_device = m_pty->path();
    const QByteArray name = QFile::encodeName(m_device);
    m_settings = LineSettings{};
    m_notifier = new QSocketNotifier(qintptr(m_pty->master()), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ModuleLine::readPty);
    watchCloses();

    if (linkPath.isEmpty())
        return {};
    const QByteArray link = QFile::encodeName(linkPath);
    struct stat st;
    if (::lstat(link.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            return Refusal{linkPath + QStringLiteral(" exists and is not a link; left alone")};
        // A link to a missing device or to a pseudo-terminal is what an
        // earlier emulator leaves when it is killed; a link to anything else
        // is someone's own.
        const QString target = linkTarget(linkPath);
        if (QFileInfo::exists(target) && !target.startsWith(QLatin1String("/dev/pts/")))
            return Refusal{linkPath + QStringLiteral(" links to ") + target +
                           QStringLiteral("; left alone")};
    }
    // Made beside it and renamed over it, so the path never lacks a link.
    const QByteArray fresh = link + ".new" + QByteArray::number(::getpid());
    ::unlink(fresh.constData());
    if (::symlink(name.constData(), fresh.constData()) != 0 ||
        ::rename(fresh.constData(), link.constData()) != 0) {
        const Refusal refusal{
            QStringLiteral("cannot link %1 to %2: %3").arg(linkPath, m_device, systemError())};
        ::unlink(fresh.constData());
        return refusal;
    }
    m_link = linkPath;
    return {};
}

void ModuleLine::watchCloses()
{
    m_closeWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_closeWatch < 0)
        return;
    if (::inotify_add_watch(m_closeWatch, QFile::encodeName(m_device).constData(),
                            IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        ::close(std::exchange(m_closeWatch, -1));
        return;
    }
    m_closes = new QSocketNotifier(m_closeWatch, QSocketNotifier::Read, this);
    connect(m_closes, &QSocketNotifier::activated, this, [this] {
        char events[4096];
        while (::read(m_closeWatch, events, sizeof events) > 0) {
        }
        m_pty->releaseAbandonedClaim();
    });
}

void ModuleLine::removeLink()
{
    // Only our own link: another emulator may have taken the path over.
    if (!m_link.isEmpty() && linkTarget(m_link) == m_device)
        ::unlink(QFile::encodeName(m_link).constData());
    m_link.clear();
}

Checked<void> ModuleLine::openPort(const QString& device, const LineSettings& settings)
{
    m_device = device;
    m_settings = settings;
    return reopenPort();
}

Checked<void> ModuleLine::reopenPort()
{
    if (m_port.isOpen())
        m_port.close();
    m_port.setPortName(m_device);
    if (!m_port.open(QIODevice::ReadOnly))
        return Refusal{m_device + QStringLiteral(": ") + m_port.errorString()};
    if (const Checked<void> applied = applyLineSettings(m_port, m_settings); !applied) {
        m_port.close();
        return Refusal{m_device + QStringLiteral(": ") + applied.message()};
    }
    return {};
}

Checked<void> ModuleLine::setBaudRate(int rate)
{
    m_settings.baudRate = rate;
    if (isPty())
        return {};
    return reopenPort();
}

void ModuleLine::setGapMs(int ms)
{
    m_gapOverrideMs = ms;
}

int ModuleLine::gapMs() const
{
    if (m_gapOverrideMs > 0)
        return m_gapOverrideMs;
    return gapFor(m_settings, isPty() ? PtyMinimumGapMs : PortMinimumGapMs);
}

int ModuleLine::gapFor(const LineSettings& settings, int minimumMs)
{
    const int ms = int(std::ceil(3.5 * bitsPerCharacter(settings) * 1000.0 / settings.baudRate));
    return std::max(ms, minimumMs);
}

QString ModuleLine::settingsText() const
{
    return formatLineSettings(m_settings);
}

void ModuleLine::readPty()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_pty->master(), buffer, sizeof buffer);
        if (n > 0) {
            received(QByteArray(buffer, int(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        m_notifier->setEnabled(false);
        fail(m_device + QStringLiteral(": ") + (n == 0 ? QStringLiteral("closed") : systemError()));
        return;
    }
}

void ModuleLine::takeRest()
{
    if (m_pty && m_notifier->isEnabled()) {
        readPty();
    } else if (m_port.isOpen()) {
        // Bounded: a sender that keeps on cannot hold the stop up.
        for (int pass = 0; pass < 64 && m_port.waitForReadyRead(0); ++pass) {
        }
        received(m_port.readAll());
    }
    m_idle.stop();
    endBurst();
}

void ModuleLine::received(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_pending.isEmpty())
        m_firstByte = QTime::currentTime();
    m_pending.append(bytes);
    m_idle.start(gapMs());
}

void ModuleLine::fail(const QString& reason)
{
    // Bytes that came just before the line went are a frame like any other:
    // they are handed on before the failure, not dropped with the line.
    m_idle.stop();
    endBurst();
    emit failed(reason);
}

void ModuleLine::endBurst()
{
    const QByteArray bytes = m_pending;
    m_pending.clear();
    if (!bytes.isEmpty())
        emit burst(bytes, m_firstByte);
}
