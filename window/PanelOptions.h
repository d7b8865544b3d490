#pragma once

#include <QString>
#include <QStringList>

// The panel's command line, read before any window or display exists: the
// panel itself takes only --help and --version. Qt's own options (-platform,
// -style, ...) pass through to QApplication; anything else is refused, so a
// mistyped option is not mistaken for a panel that ignored it.
struct PanelCommand
{
    enum Action
    {
        Run,
        Help,
        Version,
        Refuse
    };
    Action action = Run;
    QString message; // Refuse: the one line for standard error
};

// args without the program's own name.
PanelCommand readPanelArguments(const QStringList& args);

QString panelHelp();
