#pragma once

#include "common/Checked.h"
#include "tools/bridge/OrderQueue.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class MSComm;
class QTimer;

namespace bridge {

// One line as the operator names it: "desk=/dev/ttyUSB0@9600,n,8,1".
struct NamedLine
{
    QString name;
    QString port;     // "COM1", a device, rfc2217://, socket://
    QString settings; // "9600,n,8,1"
};

// The device or terminal server a line opens, links followed ("/dev/pts/3",
// "10.0.0.7:4001"), so that two names of one device are seen to be one.
QString lineTarget(const NamedLine& line, const QMap<int, QString>& portMap);
// Refused, naming both lines, when two lines lead to one device or server.
Checked<void> distinctTargets(const QList<NamedLine>& lines, const QMap<int, QString>& portMap);

// The one writer of one line, living on a thread of its own: writes are
// blocking and bounded (up to about 2 s on a stalled line), so a slow line
// never holds up another line or the broker. A line that will not open or
// fails is closed and tried again with backoff, 1 s up to 30 s; orders that
// come meanwhile wait, newest value per module and command.
class LineWorker : public QObject
{
    Q_OBJECT

public:
    // publish(topic under PREFIX/LINE, payload, retained)
    using Publish = std::function<void(const QString&, const QByteArray&, bool)>;

    LineWorker(NamedLine line, QMap<int, QString> portMap, Publish publish);
    ~LineWorker() override;

    const NamedLine& line() const { return m_line; }
    // Told each frame once it has left, on the line's thread; set before start.
    void setOnSent(std::function<void(const QByteArray&)> onSent) { m_onSent = std::move(onSent); }

    // From any thread. False when the line has too many orders waiting that
    // cannot be dropped.
    bool submit(Order order);

    // On the line's thread: opens the line and starts serving.
    void start();
    // On the line's thread: lets the frame being written finish, closes the
    // line (which gives the device back) and says so, on standard error and
    // as the line's status, "the bridge stopped".
    void stop();

private:
    void open();
    void drain();
    void lost(const QString& reason);
    void publishStatus(const QString& reason);

    NamedLine m_line;
    QMap<int, QString> m_portMap;
    Publish m_publish;
    std::function<void(const QByteArray&)> m_onSent;
    OrderQueue m_queue;
    MSComm* m_port = nullptr;
    QTimer* m_retry = nullptr;
    QTimer* m_report = nullptr;
    int m_backoffMs = 1000;
    quint64 m_sent = 0;
    quint64 m_reportedSuperseded = 0;
    QString m_lastFailure;
    std::atomic<bool> m_drainPosted{false};
};

} // namespace bridge
