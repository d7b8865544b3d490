#include "tests/support/Process.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

class tst_Cli : public QObject
{
    Q_OBJECT

    struct Result
    {
        int status = -1;
        QString out, err;
    };

    // With no display at all: a program that needed one would abort.
    static Result run(const QString& program, const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("QT_QPA_PLATFORM", "xcb");
        const Finished f = runToEnd(QUENDRA_BIN_DIR "/" + program, args, 60000, env);
        return {f.status, QString::fromUtf8(f.out), QString::fromUtf8(f.err)};
    }

    QTemporaryDir m_dir;

    // As the user nobody when the test runs as root, whom no permission stops.
    static QString refusalFor(const QString& device)
    {
        const QString send = QStringLiteral(QUENDRA_BIN_DIR "/quendra-send");
        QStringList command{send, "--port", device, "--uid", "1", "dp", "1"};
        if (::geteuid() == 0)
            command = QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} +
                      command;
        return QString::fromUtf8(runToEnd(command.front(), command.mid(1), 30000).err);
    }

    // COMP_WORDS as bash builds them for the line, then the replies, one a
    // line. Serial devices are looked for in the test's folder.
    QStringList complete(const QString& program, const QStringList& words)
    {
        QStringList quoted;
        for (const QString& word : words)
            quoted << "'" + QString(word).replace("'", "'\\''") + "'";
        const QString function = program == "quendra-send" ? "_quendra_send" : "_quendra_emulator";
        const QString script =
            QString(". '%1/%2'\n"
                    "_quendra_serial_globs='%3/ttyUSB* %3/ttyACM*'\n"
                    "COMP_WORDS=(%4 %5)\nCOMP_CWORD=%6\n%7\n"
                    "printf '%s\\n' \"${COMPREPLY[@]}\"\n")
                .arg(QUENDRA_COMPLETION_DIR, program, m_dir.path(), program, quoted.join(' '))
                .arg(words.size())
                .arg(function);
        const Finished bash = runToEnd("bash", {"--norc", "--noprofile", "-c", script}, 30000);
        QStringList replies = QString::fromUtf8(bash.out).split('\n', Qt::SkipEmptyParts);
        if (bash.status != 0 || !bash.err.isEmpty())
            replies << QStringLiteral("status %1: %2").arg(bash.status).arg(QString(bash.err));
        replies.sort();
        return replies;
    }

    // The program a row is about: its tag starts "send:", "panel:", ...
    static QString programOfRow()
    {
        return "quendra-" + QString(QTest::currentDataTag()).section(':', 0, 0);
    }

private slots:
    void initTestCase()
    {
        // Two adapters present; a third name that is not there.
        for (const char* name : {"ttyUSB0", "ttyACM1"})
            writeFile(m_dir.filePath(name), {});
    }

    // 2 for what the user gave, 3 for a port.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const QStringList& args, int status,
                            const QString& message) {
            QTest::newRow(name) << args << status << message;
        };
        row("panel: unknown option", {"--frob"}, 2,
            "quendra-panel: unknown option --frob. Try 'quendra-panel --help'.\n");
        row("panel: a word", {"COM1"}, 2, "unexpected argument \"COM1\"");
        row("panel: Qt's option without its value", {"-style=fusion", "-platform"}, 2,
            "-platform needs a value");
        // Qt takes -platform's value only as the next word.
        row("panel: -platform=NAME", {"--platform=offscreen"}, 2,
            "unknown option --platform=offscreen");
        row("send: unknown option", {"--frob", "dp", "1"}, 2,
            "quendra-send: unknown option --frob. Try 'quendra-send --help'.\n");
        row("emulator: unknown option", {"--pty", "--frob"}, 2,
            "quendra-emulator: unknown option --frob. Try 'quendra-emulator --help'.\n");
        row("emulator: port that is not there", {"--port", m_dir.filePath("ttyUSB9"), "--headless"},
            3, "ttyUSB9");
    }
    void refusals()
    {
        const QString program = programOfRow();
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        const Result r = run(program, args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.startsWith(program + ": ") && r.err.contains(message), qPrintable(r.err));
        QCOMPARE(r.err.count('\n'), 1);
        QCOMPARE(r.out, QString());
    }

    // Every option --help lists is in the man page, which carries the
    // programs' version, and the completion offers it.
    void helpVersionManPageAndCompletion_data()
    {
        QTest::addColumn<QString>("program");
        for (const char* program : {"quendra-panel", "quendra-send", "quendra-emulator"})
            QTest::newRow(program) << QString(program);
    }
    void helpVersionManPageAndCompletion()
    {
        QFETCH(QString, program);
        // The panel is started from the menu: no completion of its own.
        const bool completed = program != "quendra-panel";
        const Result version = run(program, {"--version"});
        QVERIFY2(version.status == 0 && version.out == program + " " QUENDRA_VERSION "\n" &&
                     version.err.isEmpty(),
                 qPrintable(version.out + version.err));
        const Result help = run(program, {"--help"});
        QVERIFY2(help.status == 0 && help.out.startsWith("Usage: " + program + " ") &&
                     help.err.isEmpty(),
                 qPrintable(help.out + help.err));
        QStringList options;
        static const QRegularExpression option(R"((?<![\w-])--[a-z][a-z-]*[a-z])");
        for (auto m = option.globalMatch(help.out); m.hasNext();)
            options << m.next().captured();
        options.removeDuplicates();
        QVERIFY(options.contains("--help") && options.contains("--version"));

        // The page in the source tree has no placeholder for the build.
        const QString folder = program == "quendra-panel" ? "window" : "tools/" + program.mid(8);
        const QString source =
            QString::fromUtf8(readFile(QUENDRA_SOURCE_DIR "/" + folder + "/" + program + ".1"));
        QVERIFY2(source.startsWith(".TH") && !source.contains(QRegularExpression("@[A-Z_]+@")),
                 qPrintable(source.left(120)));
        const QString man =
            QString::fromUtf8(readFile(QUENDRA_BUILD_DIR "/packaging/" + program + ".1"))
                .replace("\\-", "-");
        QVERIFY2(
            man.contains(QRegularExpression("^\\.TH \\S+ 1 \"\\d{4}-\\d\\d-\\d\\d\" \"Quendra " +
                                            QRegularExpression::escape(QUENDRA_VERSION) + "\"")),
            qPrintable(man.left(120)));
        QStringList offered;
        if (completed) {
            offered = complete(program, {"--"});
            // The options of every send command, after the command.
            for (const char* command : {"long", "dim", "config"})
                offered += complete(program, {command, "--"});
        }
        for (const QString& option : options) {
            const QRegularExpression named(QRegularExpression::escape(option) + R"((?![\w-]))");
            QVERIFY2(man.contains(named), qPrintable(option + " not in the man page"));
            if (completed)
                QVERIFY2(offered.contains(option), qPrintable(option + " not completed"));
        }
    }

    void completion_data()
    {
        QTest::addColumn<QStringList>("words"); // the last is the word being completed
        QTest::addColumn<QStringList>("replies");
        const QString usb = m_dir.filePath("ttyUSB0");
        const QString acm = m_dir.filePath("ttyACM1");
        const auto row = [](const char* name, const QStringList& words,
                            const QStringList& replies) {
            QTest::newRow(name) << words << replies;
        };
        row("send: commands", {"--uid", "5", "s"}, {"seg", "short"});
        row("send: --port, the devices present and COMn", {"--port", ""},
            {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", acm, usb});
        row("send: --port=, part of a device", {"--port", "=", m_dir.filePath("ttyU")}, {usb});
        row("send: a command's options after it", {"short", "--si"}, {"--signed"});
        row("send: no command option before the command", {"--si"}, {});
        row("emulator: --port, devices only", {"--pty", "--port", ""}, {acm, usb});
    }
    void completion()
    {
        QFETCH(QStringList, words);
        QFETCH(QStringList, replies);
        replies.sort();
        QCOMPARE(complete(programOfRow(), words), replies);
    }

    // make run installs no test tool; make test adds them and leaves ser2net's
    // own service disabled. apt-get, dpkg-query, systemctl and sudo are stand-ins.
    void installsForLevel_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("run") << QStringList{"qt6-serialport-dev", "fonts-liberation"}
                             << QStringList{"clang",    "lintian", "ser2net",
                                            "dpkg-dev", "xvfb",    "systemctl"};
        QTest::newRow("test") << QStringList{"clang-tidy", "lintian", "ser2net", "dpkg-dev",
                                             "systemctl disable ser2net.service"}
                              << QStringList{};
    }
    void installsForLevel()
    {
        const QString level = QTest::currentDataTag();
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        QTemporaryDir tools;
        const QString log = tools.filePath("log");
        const auto standIn = [&](const QString& name, const QByteArray& body) {
            return QFile::setPermissions(writeFile(tools.filePath(name), "#!/bin/sh\n" + body),
                                         QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        };
        QVERIFY(standIn("dpkg-query", "exit 1\n") && standIn("sudo", "exec \"$@\"\n"));
        for (const char* recorder : {"apt-get", "systemctl"})
            QVERIFY(standIn(recorder, "echo \"${0##*/} $*\" >>\"$LOG\"\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", tools.path() + ":" + env.value("PATH"));
        env.insert("LOG", log);
        QCOMPARE(runToEnd("sh", {QUENDRA_SOURCE_DIR "/scripts/install-deps.sh", level}, 30000, env)
                     .status,
                 0);
        const QString words = " " + QString::fromUtf8(readFile(log)).simplified() + " ";
        for (const QString& name : present)
            QVERIFY2(words.contains(" " + name + " "), qPrintable(name + " missing: " + words));
        for (const QString& name : absent)
            QVERIFY2(!words.contains(" " + name + " "), qPrintable(name + " installed: " + words));
    }

    // Only a device the user may not open, but a group may, gets the way to
    // that group. As root, quendra-send runs as nobody on a device of root's.
    void permissionHint_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("userMay"); // the user may open it anyway
        QTest::addColumn<int>("group");    // the group's permission bits
        QTest::addColumn<bool>("hinted");
        QTest::newRow("missing") << false << false << 06 << false;
        QTest::newRow("only the group may") << true << false << 06 << true;
        QTest::newRow("the group may only read") << true << false << 04 << false;
        QTest::newRow("open to the user") << true << true << 06 << false;
    }
    void permissionHint()
    {
        QFETCH(bool, exists);
        QFETCH(bool, userMay);
        QFETCH(int, group);
        QFETCH(bool, hinted);
        const bool root = ::geteuid() == 0;
        const QString device = m_dir.filePath("ttyHint");
        const QByteArray path = QFile::encodeName(device);
        QFile::remove(device);
        QString groupName;
        if (exists) {
            writeFile(device, {});
            if (root) {
                const struct group* dialout = ::getgrnam("dialout");
                QCOMPARE(::chown(path.constData(), 0, dialout ? dialout->gr_gid : 20), 0);
                QCOMPARE(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
            }
            const mode_t mode =
                mode_t(group << 3) | (root ? 0600 : 0) | (userMay ? (root ? 0006 : 0600) : 0);
            QCOMPARE(::chmod(path.constData(), mode), 0);
            groupName = QFileInfo(device).group();
        }
        const QString said = refusalFor(device);
        QVERIFY2(said.contains("log out and back in") == hinted, qPrintable(said));
        if (hinted)
            QVERIFY2(said.contains("sudo usermod -aG " + groupName + " $USER"), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
