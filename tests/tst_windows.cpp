#include "tests/support/Pty.h"
#include "tests/support/Watchdog.h"
#include "tests/support/Wine.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <termios.h>

// The Windows programs as a Windows operator meets them, under wine on a
// virtual display: quendra-panel.exe driven by keystrokes, quendra-send.exe
// from a command line, the installer run silently, the zip as shipped. COM5
// of the test's own prefix leads to a pseudo-terminal read here. What wine
// cannot show: a UART's timing, the devices SetupAPI would list, Windows'
// own theme and fonts.
// A program a row started, ended with the row however it ends.
struct Running : QProcess
{
    ~Running() override { stopChild(*this, 10000); }
};

class tst_Windows : public QObject
{
    Q_OBJECT

    const QString m_build = QStringLiteral(QUENDRA_WINDOWS_BUILD);
    const QString m_version = QStringLiteral(QUENDRA_VERSION);
    WinePrefix m_wine;
    VirtualDisplay m_display;
    Pty m_pty;

    QString built(const QString& name) const { return m_build + QLatin1Char('/') + name; }

    // A folder of the prefix (C:\NAME) holding the programs named and a
    // quendra.ini, as an operator unpacks the zip.
    QString programFolder(const QString& name, const QStringList& programs, const QByteArray& ini)
    {
        const QString folder = m_wine.hostPath("C:\\" + name);
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        for (const QString& program : programs)
            QFile::copy(built("bin/" + program), folder + '/' + program);
        if (!ini.isNull())
            writeFile(folder + "/quendra.ini", ini);
        return "C:\\" + name;
    }

    // COM6 leads to COM40, which no machine here has.
    static QByteArray ini(int commPort, const char* settings = "19200,n,8,1")
    {
        return QStringLiteral("[Settings]\r\nCommPort=%1\r\nSetting=%2\r\nSlaveID=5\r\n"
                              "[Ports]\r\nCOM6=COM40\r\n")
            .arg(commPort)
            .arg(QLatin1String(settings))
            .toLatin1();
    }

    // An X tool (xdotool, xclip) on the virtual display.
    Finished onDisplay(const char* tool, const QStringList& args, int boundMs = 10000)
    {
        return runToEnd(QStandardPaths::findExecutable(tool), args, boundMs, m_wine.environment());
    }

    // The panel's window (or its message box, also titled "QuendraAPP"), by
    // its X window id; empty when none maps within the bound.
    QString waitForWindow(int boundMs)
    {
        return QString::fromLatin1(
                   onDisplay("xdotool",
                             {"search", "--sync", "--onlyvisible", "--name", "^QuendraAPP$"},
                             boundMs)
                       .out)
            .split('\n', Qt::SkipEmptyParts)
            .value(0);
    }

    // quendra-panel.exe started from folder, and the first window it maps
    // (its own, or a message box before it); empty when none maps in 60 s.
    QString startPanel(Running& panel, const QString& folder)
    {
        m_wine.start(panel, folder + "\\quendra-panel.exe", {});
        return waitForWindow(60000);
    }

    // The panel's window, 639 pixels wide, rather than its message box.
    bool isMainWindow(const QString& window)
    {
        const QByteArray shell = onDisplay("xdotool", {"getwindowgeometry", "--shell", window}).out;
        return shell.mid(shell.indexOf("WIDTH=") + 6).split('\n').front().toInt() >= 600;
    }

    // Keys as an operator presses them, a little apart as hands do; text
    // typed the same way.
    void keys(const QStringList& names, const char* how = "key")
    {
        const Finished pressed =
            onDisplay("xdotool", QStringList{how, "--delay", "80"} + names, 30000);
        QVERIFY2(pressed.status == 0, qPrintable(names.join(' ') + ": " + pressed.err));
    }

    // The frame the last action put on COM5.
    QByteArray frame() { return m_pty.read(5000, 150).toHex(' '); }

    // HI typed into the text field that holds the focus, sent with Tab and
    // Space: the frame that arrived.
    QByteArray sendHi()
    {
        keys({"HI"}, "type");
        keys({"Tab", "space"});
        return frame();
    }

    // What panel-probe.exe says of the window built from the folder's
    // quendra.ini: "key: value" lines.
    QMultiMap<QString, QString> probe(const QString& folder)
    {
        QFile::copy(built("bin/panel-probe.exe"), m_wine.hostPath(folder + "\\panel-probe.exe"));
        const Finished run = m_wine.run(folder + "\\panel-probe.exe", {}, 60000);
        QMultiMap<QString, QString> said;
        for (const QString& line : QString::fromUtf8(run.out).remove('\r').split('\n')) {
            const qsizetype colon = line.indexOf(QLatin1String(": "));
            if (colon > 0)
                said.insert(line.left(colon), line.mid(colon + 2));
        }
        return said;
    }

    int ptySpeed()
    {
        termios line{};
        return ::tcgetattr(m_pty.masterFd(), &line) == 0 ? int(::cfgetospeed(&line)) : -1;
    }

private slots:
    void initTestCase()
    {
        for (const QString& name :
             {QStringLiteral("bin/quendra-panel.exe"), QStringLiteral("bin/quendra-send.exe"),
              QStringLiteral("bin/panel-probe.exe"),
              QStringLiteral("quendra-%1-win64.zip").arg(m_version),
              QStringLiteral("quendra-%1-win64-setup.exe").arg(m_version)})
            QVERIFY2(QFile::exists(built(name)),
                     qPrintable(built(name) + " is missing: make windows builds it"));
        QVERIFY2(!m_display.name().isEmpty(), qPrintable(m_display.errorString()));
        QVERIFY2(!QStandardPaths::findExecutable("xdotool").isEmpty(),
                 "no xdotool (package xdotool, installed by make test)");
        QVERIFY2(m_pty.isValid(), qPrintable(m_pty.errorString()));
        const QString booted = m_wine.boot({{5, m_pty.devicePath()}});
        QVERIFY2(booted.isEmpty(), qPrintable(booted));
        m_wine.setDisplay(m_display.name());
    }

    // Whatever an earlier row left unread is not this row's.
    void init() { m_pty.read(0, 50); }

    // Each program one file: every DLL it names is one of Windows' own, none
    // of the GCC runtime, winpthread or Qt. The panel is a window program (no
    // console comes up with it), quendra-send a console one. Both answer
    // --version, so that an installed copy can be told apart, and carry the
    // version in the resource Explorer's Details tab reads.
    void programs_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("subsystem");
        QTest::newRow("panel") << "quendra-panel.exe"
                               << "(Windows GUI)";
        QTest::newRow("send") << "quendra-send.exe"
                              << "(Windows CUI)";
    }
    void programs()
    {
        QFETCH(QString, program);
        QFETCH(QString, subsystem);
        const Watchdog watchdog(60000);
        const QString folder = programFolder("version", {program}, {});
        const Finished run = m_wine.run(folder + '\\' + program, {"--version"}, 30000);
        QCOMPARE(run.status, 0);
        QCOMPARE(QString::fromLatin1(run.out).remove('\r'),
                 program.section('.', 0, 0) + ' ' + m_version + '\n');

        static const QRegularExpression windows(
            "^(api-ms-win-.*|winspool\\.drv|(advapi32|authz|bcrypt|comdlg32|crypt32|d2d1|d3d11|"
            "d3d9|dnsapi|dwmapi|dwrite|dxgi|gdi32|imm32|iphlpapi|kernel32|mpr|msvcrt|ncrypt|"
            "netapi32|ole32|oleaut32|secur32|setupapi|shcore|shell32|shlwapi|user32|userenv|"
            "uxtheme|version|winhttp|winmm|ws2_32|wtsapi32)\\.dll)$");
        const Finished dump = runToEnd(QStandardPaths::findExecutable("x86_64-w64-mingw32-objdump"),
                                       {"-p", built("bin/" + program)}, 30000);
        QCOMPARE(dump.status, 0);
        QStringList named;
        QString runsAs;
        for (const QByteArray& line : dump.out.split('\n')) {
            if (line.trimmed().startsWith("DLL Name: "))
                named << QString::fromLatin1(line.trimmed().mid(10)).toLower();
            if (line.startsWith("Subsystem\t"))
                runsAs = QString::fromLatin1(line).section('\t', -1).trimmed();
        }
        QCOMPARE(runsAs, subsystem);
        QVERIFY(named.contains("kernel32.dll"));
        for (const QString& dll : named)
            QVERIFY2(windows.match(dll).hasMatch(), qPrintable(program + " needs " + dll));
        const QString field = QStringLiteral("FileVersion") + QChar(0) + QChar(0) + m_version;
        QVERIFY2(readFile(built("bin/" + program))
                     .contains(QByteArray(reinterpret_cast<const char*>(field.utf16()),
                                          field.size() * 2)),
                 "no version resource with the project's version");
    }

    // The window as Windows' Qt builds it: the desktop's style linked in,
    // the lists filled, Tab walking the controls in the form's order.
    void window()
    {
        const Watchdog watchdog(90000);
        const QMultiMap<QString, QString> said = probe(programFolder("window", {}, ini(5)));
        QCOMPARE(said.value("style"), QStringLiteral("windowsvista"));
        QCOMPARE(said.value("font"), QStringLiteral("Arial 8"));
        QVERIFY2(!said.contains("message"), qPrintable(said.values("message").join('\n')));
        QMap<QString, QString> lists;
        for (const QString& list : said.values("list"))
            lists.insert(list.section(' ', 0, 0), list.section(' ', 1));
        QCOMPARE(lists.size(), 15);
        QCOMPARE(lists.value("cboUID"), QStringLiteral("256 5"));
        QCOMPARE(lists.value("cboCuid"), QStringLiteral("256 5"));
        QCOMPARE(lists.value("cboDP"), QStringLiteral("64 0"));
        QCOMPARE(lists.value("cboSeg1"), QStringLiteral("256 00"));
        QCOMPARE(said.value("tab"),
                 QStringLiteral("txtdata cmdTransmit cboDP cmdDP cbolm4 cbolm3 cbolm2 cbolm1 "
                                "cmdDecimal optUnsigned cbosi2 cbosi1 optUnsignedS cmdShort cboUID "
                                "opt9600 cboCuid cboSeg6 cboSeg5 cboSeg4 cboSeg3 cboSeg2 cboSeg1 "
                                "cmdSEG cmdDIM cmdConfig"));
    }

    // The operator's first minute: the window maps, HI goes out at the rate
    // of quendra.ini; every other button, reached by Tab in the form's
    // order, sends its frame.
    void panelByKeyboard()
    {
        const Watchdog watchdog(180000);
        Running panel;
        const QString window =
            startPanel(panel, programFolder("panel", {"quendra-panel.exe"}, ini(5)));
        QVERIFY2(!window.isEmpty(), "no window \"QuendraAPP\" within 60 s");
        QVERIFY(isMainWindow(window));
        QCOMPARE(ptySpeed(), int(B19200));
        QCOMPARE(sendHi(), QByteArray("05 62 20 20 20 20 48 49"));
        // From SEND of the text on: the Tab presses to each button, its frame.
        const std::pair<int, const char*> buttons[] = {
            {2, "05 63 00"},                 // Send Decimal Points
            {5, "05 64 00 00 00 00"},        // the long number, unsigned
            {5, "05 66 00 00"},              // the short number, unsigned
            {10, "05 61 00 00 00 00 00 00"}, // Segment Control's SEND
            {1, "05 6e 00 00 00 00 00 00"},  // Dim: the last payload again
            {1, "1e 1e 24 05"},              // CONFIGURE: 9600 bps, UID 5
        };
        for (const auto& [tabs, sent] : buttons) {
            keys(QStringList(tabs, "Tab") << "space");
            QCOMPARE(frame(), QByteArray(sent));
        }
        keys({"alt+F4"});
        QVERIFY2(panel.waitForFinished(20000), "the panel did not close on Alt+F4");
        QCOMPARE(panel.exitCode(), 0);
    }

    // A port with no device: "COMM PORT ERROR" first, then the window; the
    // "Comm Port" menu, opened from the keyboard, reaches COM5 and the
    // next press goes out there.
    void missingPortThenMenu()
    {
        const Watchdog watchdog(180000);
        Running panel;
        const QString box =
            startPanel(panel, programFolder("missing", {"quendra-panel.exe"}, ini(6)));
        QVERIFY2(!box.isEmpty(), "no message box within 60 s");
        QVERIFY2(!isMainWindow(box), "the window came before the message");
        // Ctrl+C copies a message box's text, as Windows' own boxes do.
        keys({"ctrl+c"});
        const Finished copied = onDisplay("xclip", {"-o", "-selection", "clipboard"});
        QVERIFY2(copied.out.contains("COMM PORT ERROR") && copied.out.contains("COM40"),
                 copied.out + copied.err);
        keys({"Return"});

        QTRY_VERIFY_WITH_TIMEOUT(isMainWindow(waitForWindow(20000)), 30000);
        // Alt alone moves to the menu bar, Down opens "Comm Port"; COM5 is
        // its fifth entry.
        keys({"alt", "Down", "Down", "Down", "Down", "Down", "Return"});
        QTRY_COMPARE_WITH_TIMEOUT(ptySpeed(), int(B19200), 10000);
        QCOMPARE(sendHi(), QByteArray("05 62 20 20 20 20 48 49"));
    }

    // quendra-send.exe from a Windows command line: each command's frame,
    // with the port from quendra.ini or named as Windows names it; --list-ports
    // with what the system lists (wine lists only the registry's serial
    // ports) and where COM5 and COM6 lead. What cannot be sent is refused in
    // one line with the reason, naming what Windows calls the port or the
    // file looked for, and nothing is written anywhere. Closed, the port runs
    // as it did before.
    void send_data()
    {
        QTest::addColumn<bool>("withIni");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QStringList>("said"); // patterns of lines of stdout, or of stderr
        const auto row = [](const char* name, const QStringList& args, const char* frame) {
            QTest::newRow(name) << true << args << 0 << QByteArray(frame) << QStringList();
        };
        row("text", {"text", "HI"}, "05 62 20 20 20 20 48 49");
        row("dp", {"dp", "5"}, "05 63 05");
        row("long", {"long", "305419896"}, "05 64 12 34 56 78");
        row("long signed", {"long", "--signed", "-1"}, "05 65 ff ff ff ff");
        row("short signed", {"short", "--signed", "-300"}, "05 67 fe d4");
        row("seg", {"seg", "3F", "06", "5B", "4F", "66", "6D"}, "05 61 3f 06 5b 4f 66 6d");
        row("dim", {"dim", "--payload", "1E 09 FF"}, "05 6e 1e 09 ff");
        row("config", {"config", "--baud", "38400", "--new-uid", "255"}, "1e 1e 09 ff");
        row("raw", {"raw", "01 02 00 ff"}, "01 02 00 ff");
        row("--port COM5", {"--port", "COM5", "--uid", "7", "dp", "1"}, "07 63 01");
        row("--port \\\\.\\COM5", {"--port", "\\\\.\\COM5", "dp", "2"}, "05 63 02");
        QTest::newRow("--list-ports") << true << QStringList{"--list-ports"} << 0 << QByteArray()
                                      << QStringList{R"(^  COM5 +- +\\Device\\Serial4 )",
                                                     R"(^  COM5 +\\\\\.\\COM5 +default +present$)",
                                                     R"(^  COM6 +COM40 +quendra\.ini +absent$)"};
        QTest::newRow("COM port with nothing behind it")
            << true << QStringList{"--port", "COM41", "text", "HI"} << 3 << QByteArray()
            << QStringList{R"(\Aquendra-send: COM41: \\\\\.\\COM41: .*\n\z)"};
        QTest::newRow("no quendra.ini beside the program")
            << false << QStringList{"--uid", "5", "text", "HI"} << 2 << QByteArray()
            << QStringList{R"(\Aquendra-send: no port: give --port or set CommPort in )"
                           R"(quendra\.ini \(C:\\send\\quendra\.ini is missing.*\n\z)"};
    }
    void send()
    {
        QFETCH(bool, withIni);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QByteArray, frame);
        QFETCH(QStringList, said);
        const Watchdog watchdog(60000);
        const QString folder = programFolder("send", {"quendra-send.exe"},
                                             withIni ? ini(5, "38400,n,8,1") : QByteArray());
        const int before = ptySpeed();
        const Finished run = m_wine.run(folder + "\\quendra-send.exe", args, 30000);
        QVERIFY2(run.status == status, run.out + run.err);
        const QString out = QString::fromLocal8Bit(status == 0 ? run.out : run.err).remove('\r');
        for (const QString& line : said)
            QVERIFY2(out.contains(QRegularExpression(line, QRegularExpression::MultilineOption)),
                     qPrintable(line + " not in:\n" + out));
        QCOMPARE(this->frame(), frame);
        QCOMPARE(ptySpeed(), before);
    }

    // The zip as shipped, and the same bytes when the programs are built
    // again from the same sources in another folder.
    void zipReproducible()
    {
        const Watchdog watchdog(900000);
        const QString zip = QStringLiteral("quendra-%1-win64.zip").arg(m_version);
        const QString top = QStringLiteral("quendra-%1-win64/").arg(m_version);
        const Finished listed =
            runToEnd(QStandardPaths::findExecutable("unzip"), {"-Z1", built(zip)}, 30000);
        QCOMPARE(listed.status, 0);
        QCOMPARE(QString::fromLatin1(listed.out).split('\n', Qt::SkipEmptyParts),
                 QStringList({top + "LICENSE.txt", top + "QT-LICENSE.txt", top + "README.txt",
                              top + "quendra-panel.exe", top + "quendra-send.exe",
                              top + "quendra.ini"}));
        QTemporaryDir again;
        const Finished rebuilt = runToEnd(
            "/bin/sh", {QUENDRA_SOURCE_DIR "/packaging/windows/build.sh", again.path()}, 840000);
        QVERIFY2(rebuilt.status == 0, rebuilt.out.right(2000) + rebuilt.err.right(2000));
        QVERIFY2(readFile(built(zip)) == readFile(again.filePath(zip)),
                 "the zip built twice differs");
    }

    // The installer, silent: the programs under Program Files\Quendra with a
    // Start-menu entry and an entry under the installed programs; the
    // installed panel reads its quendra.ini and sends; a second install keeps
    // an edited quendra.ini; the uninstaller leaves only that file.
    void installer()
    {
        const Watchdog watchdog(240000);
        const QString setup = "C:\\" + QStringLiteral("quendra-%1-win64-setup.exe").arg(m_version);
        QFile::remove(m_wine.hostPath(setup));
        QVERIFY(QFile::copy(built(setup.mid(3)), m_wine.hostPath(setup)));
        const QString installed = m_wine.hostPath("C:\\Program Files\\Quendra");
        const QString settings = installed + "/quendra.ini";
        const QString uninstallKey =
            "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quendra";
        const QString shortcut = m_wine.hostPath(
            "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quendra LED Panel.lnk");

        QCOMPARE(m_wine.run(setup, {"/S"}, 120000).status, 0);
        QCOMPARE(QDir(installed).entryList(QDir::Files, QDir::Name),
                 QStringList({"LICENSE.txt", "QT-LICENSE.txt", "README.txt", "quendra-panel.exe",
                              "quendra-send.exe", "quendra.ini", "uninstall.exe"}));
        QVERIFY(QFile::exists(shortcut));
        const Finished listed =
            m_wine.run("reg", {"query", uninstallKey, "/v", "DisplayName"}, 30000);
        QVERIFY2(listed.out.contains("Quendra LED Panel"), listed.out + listed.err);
        QVERIFY2(readFile(settings).contains("CommPort=1\r\n"), "not the sample settings");

        writeFile(settings, ini(5));
        Running panel;
        QVERIFY2(!startPanel(panel, "C:\\Program Files\\Quendra").isEmpty(),
                 "the installed panel showed no window");
        QCOMPARE(sendHi(), QByteArray("05 62 20 20 20 20 48 49"));
        keys({"alt+F4"});
        QVERIFY(panel.waitForFinished(20000));

        QCOMPARE(m_wine.run(setup, {"/S"}, 120000).status, 0);
        QCOMPARE(readFile(settings), ini(5));

        // The uninstaller runs on from a copy of itself in the temporary
        // folder, and is done when only the settings are left: it removes
        // the entries first, the files last.
        QCOMPARE(m_wine.run("C:\\Program Files\\Quendra\\uninstall.exe", {"/S"}, 60000).status, 0);
        QTRY_COMPARE_WITH_TIMEOUT(QDir(installed).entryList(QDir::Files, QDir::Name),
                                  QStringList{"quendra.ini"}, 60000);
        QCOMPARE(QDir(installed).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"quendra.ini"});
        QVERIFY(!QFile::exists(shortcut));
        QVERIFY(m_wine.run("reg", {"query", uninstallKey}, 30000).status != 0);
    }
};

QTEST_GUILESS_MAIN(tst_Windows)
#include "tst_windows.moc"
