#pragma once

#include "tests/support/Pty.h"
#include "tests/support/TestIni.h"
#include "window/ValueComboBox.h"
#include "window/frmMain.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>

// The panel as an operator meets it, offscreen: COM1..COM3 are pseudo-terminals
// of its own, COM4 names no device, and every message is recorded, not shown.
struct Panel
{
    static constexpr const char* Usual = "CommPort=1\nSetting=9600,n,8,1\nSlaveID=5\n";
    static constexpr const char* Missing = "/dev/quendra-missing";

    Pty ptys[3];
    TestIni ini;
    QStringList messages; // texts, in order
    QStringList details;  // the smaller text under each
    std::unique_ptr<frmMain> window;

    // settings: the body of "[Settings]"; a null array leaves no file at all.
    explicit Panel(const QByteArray& settings = Usual)
    {
        if (!settings.isNull())
            ini.write(iniFor(settings));
        start();
    }
    // Starts the window anew from whatever the settings file holds now.
    void start()
    {
        window.reset(); // the old window lets go of its port first
        messages.clear();
        details.clear();
        window = std::make_unique<frmMain>([this](const QString& text, const QString& detail) {
            messages.append(text);
            details.append(detail);
        });
        window->show();
    }

    QByteArray iniFor(const QByteArray& settings) const
    {
        QByteArray text = "[Settings]\n" + settings + "\n[Ports]\n";
        for (int i = 0; i < 3; ++i)
            text += "COM" + QByteArray::number(i + 1) + "=" + ptys[i].devicePath().toUtf8() + "\n";
        return text + "COM4=" + Missing + "\n";
    }

    template <typename T = QWidget> T* get(const QString& name) const
    {
        T* found = window->findChild<T*>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    ValueComboBox* list(const QString& name) const { return get<ValueComboBox>(name); }
    void press(const QString& button) const { get<QPushButton>(button)->click(); }
    void check(const QString& option) const { get<QRadioButton>(option)->setChecked(true); }
    void choose(const QString& entry) const { get<QAction>(entry)->trigger(); }
    // The operator's keys into txtdata or a list's field, after emptying it.
    void type(const QString& field, const QString& text) const
    {
        QLineEdit* edit =
            field == QLatin1String("txtdata") ? get<QLineEdit>(field) : list(field)->lineEdit();
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    // The operator's steps in order: "field=text" types, "optX" chooses an
    // option, "cmdX" presses a button.
    void set(const QStringList& steps) const
    {
        for (const QString& step : steps) {
            if (step.contains(QLatin1Char('=')))
                type(step.section(QLatin1Char('='), 0, 0), step.section(QLatin1Char('='), 1));
            else if (step.startsWith(QLatin1String("opt")))
                check(step);
            else
                press(step);
        }
    }
    // Names of the menu entries that carry a mark.
    QStringList marks() const
    {
        QStringList got;
        for (QAction* menu : window->menuBar()->actions())
            for (QAction* entry : menu->menu()->actions())
                if (entry->isChecked())
                    got.append(entry->objectName());
        return got;
    }
    bool showActive() { return QTest::qWaitForWindowActive(window.get()); }

    // Everything on COMn's line since the last look; the port must be open
    // there. A marker written behind it through the same port ends the read,
    // so "nothing" needs no waiting.
    QByteArray line(int com = 1)
    {
        static const QByteArray Marker = QByteArray::fromHex("a55a5aa5");
        if (!window->port().write(Marker).ok())
            return "marker not written: " + window->port().errorString().toUtf8();
        QByteArray got;
        while (!got.endsWith(Marker)) {
            const QByteArray more = ptys[com - 1].read(5000);
            if (more.isEmpty())
                return got + " (marker missing)";
            got += more;
        }
        got.chop(Marker.size());
        return got;
    }
};
