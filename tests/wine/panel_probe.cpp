// The panel's window built on Windows as quendra-panel.exe builds it, asked
// what a keystroke cannot show: the style it runs with, the font it got, what
// the lists hold after start-up, the order Tab walks, and the messages of
// start-up. One "key: value" line each, then it ends; the wine tests read
// them and drive the real program by keyboard in the order printed.
#include "window/PanelStyle.h"
#include "window/frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QProxyStyle>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    setUpPanelApplication();
    QStringList messages;
    frmMain window([&messages](const QString& text, const QString& detail) {
        messages << (detail.isEmpty() ? text : text + QStringLiteral(" | ") + detail);
    });
    window.show();

    QTextStream out(stdout);
    const auto* proxy = qobject_cast<const QProxyStyle*>(window.style());
    out << "style: " << (proxy ? proxy->baseStyle()->name() : window.style()->name()) << '\n';
    const QFontInfo font(window.font());
    out << "font: " << font.family() << ' ' << font.pointSize() << '\n';
    for (const QComboBox* list : window.findChildren<QComboBox*>())
        out << "list: " << list->objectName() << ' ' << list->count() << ' ' << list->currentText()
            << '\n';
    // Each stop by its name.
    QStringList stops;
    QWidget* const first = window.focusWidget();
    QWidget* w = first;
    for (int steps = 0; w && steps < 1000; ++steps) {
        // A list's own text field stands behind the list, which takes Tab.
        if (w->focusPolicy() & Qt::TabFocus && !w->focusProxy() && w->isVisibleTo(&window) &&
            w->isEnabled()) {
            stops << w->objectName();
        }
        w = w->nextInFocusChain();
        if (w == first)
            break;
    }
    out << "tab: " << stops.join(QLatin1Char(' ')) << '\n';
    for (const QString& message : messages)
        out << "message: " << message << '\n';
    return 0;
}
