#include "serial/Deadline.h"
#include "serial/PortName.h"
#include "serial/TelnetReader.h"

#include <QtTest>

namespace {

// "data 41 ff, do 3, sb 44 65 00 00 25 80" for comparing events in one line.
QString describe(const std::vector<TelnetReader::Event>& events)
{
    static const char* const verbs[] = {"will", "wont", "do", "dont"};
    QStringList parts;
    for (const TelnetReader::Event& e : events) {
        if (e.kind == TelnetReader::Event::Data)
            parts << "data " + e.bytes.toHex(' ');
        else if (e.kind == TelnetReader::Event::Negotiation)
            parts << QStringLiteral("%1 %2").arg(verbs[e.code - telnet::WILL]).arg(e.option);
        else if (e.kind == TelnetReader::Event::Subnegotiation)
            parts << QStringLiteral("sb %1 %2%3")
                         .arg(e.option)
                         .arg(QString(e.bytes.toHex(' ')), e.truncated ? " cut" : "");
        else
            parts << QStringLiteral("cmd %1").arg(e.code);
    }
    return parts.join(", ");
}

} // namespace

class tst_Telnet : public QObject
{
    Q_OBJECT

private slots:
    void portNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // "KIND HOST:PORT", or "!" and part of the reason
        const QList<QPair<const char*, const char*>> rows{
            {"rfc2217://10.0.0.7:4001", "rfc2217 10.0.0.7:4001"},
            {"RFC2217://terminal-3.lab:1", "rfc2217 terminal-3.lab:1"},
            {"socket://[::1]:65535", "socket [::1]:65535"},
            {"rfc2217://10.0.0.7", "!no port number"},
            {"rfc2217://10.0.0.7:0", "!\"0\" is not 1 to 65535"},
            {"socket://10.0.0.7:65536", "!\"65536\" is not 1 to 65535"},
            {"socket://10.0.0.7:+40", "!\"+40\" is not 1 to 65535"},
            {"rfc2217://:4001", "!no host"},
            {"rfc2217://user@host:4001", "!not a host name"},
            {"rfc2217://host:4001/x", "!\"4001/x\" is not 1 to 65535"},
            {"socket://[fe80::1%eth0]:4001", "socket [fe80::1%eth0]:4001"},
            {"socket://[10.0.0.7]:4001", "!not an IPv6 address"},
            {"socket://[1::2::3]:4001", "!not an IPv6 address"},
            {"socket://[fe80::1%]:4001", "!not an IPv6 address"},
            {"telnet://10.0.0.7:4001", "!unknown kind of port \"telnet\""},
        };
        for (const auto& [name, expected] : rows)
            QTest::newRow(name) << QString(name) << QString(expected);
    }
    void portNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QVERIFY(isNetworkPortName(name));
        const Checked<NetworkAddress> a = parseNetworkPortName(name);
        const QString& problem = a.message();
        if (expected.startsWith('!')) {
            QVERIFY(!a);
            QVERIFY2(problem.startsWith(name + ": ") && problem.contains(expected.mid(1)),
                     qPrintable(problem));
        } else {
            QVERIFY2(a, qPrintable(problem));
            QCOMPARE(QString(a->kind == NetworkAddress::Kind::Rfc2217 ? "rfc2217 " : "socket ") +
                         a->display(),
                     expected);
            QVERIFY(problem.isEmpty());
        }
    }

    // COMn as a "Ports" key, and as --port or CommPort (bare numbers too).
    void comPorts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("key"); // -1: not a port number's shape
        QTest::addColumn<int>("bare");
        QTest::newRow("COM5") << "COM5" << 5 << 5;
        QTest::newRow("any case") << "com12" << 12 << 12;
        QTest::newRow("bare") << "7" << -1 << 7;
        QTest::newRow("out of range, still a number") << "COM256" << 256 << 256;
        QTest::newRow("device path") << "/dev/ttyS0" << -1 << -1;
        QTest::newRow("blank inside") << "COM 5" << -1 << -1;
        QTest::newRow("too long for a number") << "COM99999999999" << 0 << 0;
    }
    void comPorts()
    {
        QFETCH(QString, text);
        QTEST(comPortNumber(text).value_or(-1), "key");
        QTEST(comPortNumber(text, true).value_or(-1), "bare");
    }

    // What the server sends, cut into pieces anywhere.
    void reader_data()
    {
        QTest::addColumn<QString>("pieces"); // hex, "|" between pieces fed one by one
        QTest::addColumn<QString>("events");
        const auto row = [](const char* name, const QString& pieces, const QString& events) {
            QTest::newRow(name) << pieces << events;
        };
        row("data, IAC IAC is one 0xff", "41 ff ff 0d 00", "data 41 ff 0d 00");
        row("ser2net's greeting", "fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c",
            "will 3, do 3, will 1, dont 1, do 0, will 0, do 44");
        row("rate answer cut everywhere", "ff|fa|2c|65|00 00|25|80|ff|f0", "sb 44 65 00 00 25 80");
        row("IAC doubled inside an answer", "fffa2c 65 3b9ac9ffff fff0 41",
            "sb 44 65 3b 9a c9 ff, data 41");
        row("command ends an open subnegotiation", "fffa2c 6b 00 fffb 03", "sb 44 6b 00, will 3");
        row("plain commands between data", "41 fff1 42", "data 41, cmd 241, data 42");
        row("overlong subnegotiation is cut", "fffa2c " + QString("61").repeated(70) + " fff0",
            "sb 44 " + QString("61 ").repeated(TelnetReader::MaxSubnegotiation).trimmed() + " cut");
        // No option after SB: nothing is swallowed, the answer after it counts.
        row("IAC SB IAC SE, then an answer", "fffa|fff0 41 fffa2c 65 00002580 fff0",
            "cmd 240, data 41, sb 44 65 00 00 25 80");
        row("IAC SB IAC IAC is data", "fffaffff 42", "data ff 42");
    }
    void reader()
    {
        QFETCH(QString, pieces);
        QFETCH(QString, events);
        TelnetReader reader;
        std::vector<TelnetReader::Event> got;
        for (const QString& piece : pieces.split('|'))
            reader.feed(QByteArray::fromHex(piece.toLatin1()), got);
        // Data split over pieces arrives as one event per piece.
        for (std::size_t i = 1; i < got.size(); ++i) {
            if (got[i].kind == TelnetReader::Event::Data &&
                got[i - 1].kind == TelnetReader::Event::Data) {
                got[i - 1].bytes += got[i].bytes;
                got.erase(got.begin() + qsizetype(i--));
            }
        }
        QCOMPARE(describe(got), events);
    }

    // A limit worked out as "limit - elapsed" never becomes "for ever".
    void waitsNeverForever_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<bool>("expired");
        QTest::newRow("-1, QDeadlineTimer's for ever") << qint64(-1) << true;
        QTest::newRow("0") << qint64(0) << true;
        QTest::newRow("a minute") << qint64(60000) << false;
    }
    void waitsNeverForever()
    {
        QFETCH(qint64, ms);
        QFETCH(bool, expired);
        const QDeadlineTimer deadline = waits::within(ms);
        QCOMPARE(deadline.hasExpired(), expired);
        QVERIFY(waits::remainingMs(deadline) >= 0 &&
                waits::remainingMs(deadline) <= std::max<qint64>(ms, 0));
        QCOMPARE(waits::remainingMs(QDeadlineTimer(QDeadlineTimer::Forever)), 0);
    }
};

QTEST_GUILESS_MAIN(tst_Telnet)
#include "tst_telnet.moc"
