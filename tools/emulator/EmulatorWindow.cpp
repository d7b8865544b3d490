#include "tools/emulator/EmulatorWindow.h"

#include "tools/emulator/Emulator.h"
#include "tools/emulator/SevenSegmentDisplay.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

// Enough for a long session; older lines go first.
constexpr int LogLines = 5000;
// Up to this many modules stand one above the other at full width; more go
// two abreast in a scrolling area.
constexpr int StackedModules = 3;

} // namespace

EmulatorWindow::EmulatorWindow(Emulator& emulator, QWidget* parent)
    : QWidget(parent), m_emulator(emulator), m_status(new QLabel(this)),
      m_warning(new QLabel(this)), m_log(new QPlainTextEdit(this))
{
    setWindowTitle(QStringLiteral("LED Module Emulator"));
    // The status names the device as given: shown as written, never as markup.
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_warning->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
    m_warning->setWordWrap(true);
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(LogLines);
    m_log->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    const int count = int(m_emulator.bus().modules().size());
    const int columns = count > StackedModules ? 2 : 1;
    auto* modules = new QWidget;
    auto* grid = new QGridLayout(modules);
    grid->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < count; ++i) {
        auto* title = new QLabel(modules);
        title->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* display = new SevenSegmentDisplay(modules);
        const int row = 2 * (i / columns);
        grid->addWidget(title, row, i % columns);
        grid->addWidget(display, row + 1, i % columns);
        grid->setRowStretch(row + 1, 1);
        m_titles << title;
        m_displays << display;
    }

    auto* layout = new QVBoxLayout(this);
    if (count > StackedModules) {
        auto* scroll = new QScrollArea(this);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidget(modules);
        layout->addWidget(scroll, 3);
    } else {
        modules->setParent(this);
        layout->addWidget(modules, 2 * count);
    }
    layout->addWidget(m_status);
    layout->addWidget(m_warning);
    layout->addWidget(m_log, 3);
    if (count == 1)
        resize(640, 440);
    else if (count <= StackedModules)
        resize(900, 300 + 160 * count);
    else
        resize(1000, 800);

    connect(&m_emulator, &Emulator::changed, this, &EmulatorWindow::refresh);
    connect(&m_emulator, &Emulator::logged, this, &EmulatorWindow::appendLog);
    refresh();
}

void EmulatorWindow::refresh()
{
    const QList<ModuleState>& modules = m_emulator.bus().modules();
    for (int m = 0; m < modules.size(); ++m) {
        const ModuleState& state = modules[m];
        std::array<quint8, protocol::DisplayPositions> patterns{};
        for (int i = 0; i < protocol::DisplayPositions; ++i)
            patterns[size_t(i)] = state.shown(i);
        m_displays[m]->setPatterns(patterns, state.isDim());
        const QString brightness =
            state.isDim() ? QStringLiteral("dim") : QStringLiteral("full brightness");
        m_titles[m]->setText(modules.size() == 1
                                 ? QStringLiteral("UID %1    %2").arg(state.uidText(), brightness)
                                 : QStringLiteral("module %1    UID %2    %3")
                                       .arg(m + 1)
                                       .arg(state.uidText(), brightness));
    }

    const ModuleLine& line = m_emulator.line();
    QString where = line.devicePath();
    if (!line.linkPath().isEmpty())
        where += QStringLiteral(" (link %1)").arg(line.linkPath());
    m_status->setText(QStringLiteral("%1    %2").arg(where, line.settingsText()));

    // Frames to a shared UID reach every module that holds it.
    QStringList shared = m_emulator.bus().sharedUids();
    for (QString& text : shared)
        text += QStringLiteral(": they can no longer be told apart");
    m_warning->setText(shared.join(QLatin1Char('\n')));
    m_warning->setVisible(!shared.isEmpty());
}

void EmulatorWindow::appendLog(const QString& line)
{
    // Follow the newest line only when the operator has not scrolled back.
    QScrollBar* bar = m_log->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_log->appendPlainText(line);
    if (atEnd)
        bar->setValue(bar->maximum());
}
