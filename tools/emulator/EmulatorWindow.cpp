#include "tools/emulator/EmulatorWindow.h"

#include "tools/emulator/Emulator.h"
#include "tools/emulator/SevenSegmentDisplay.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

// Enough for a long session; older lines go first.
constexpr int LogLines = 5000;

} // namespace

EmulatorWindow::EmulatorWindow(Emulator& emulator, QWidget* parent)
    : QWidget(parent), m_emulator(emulator), m_display(new SevenSegmentDisplay(this)),
      m_status(new QLabel(this)), m_log(new QPlainTextEdit(this))
{
    setWindowTitle(QStringLiteral("LED Module Emulator"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(LogLines);
    m_log->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_display, 2);
    layout->addWidget(m_status);
    layout->addWidget(m_log, 3);
    resize(640, 440);

    connect(&m_emulator, &Emulator::changed, this, &EmulatorWindow::refresh);
    connect(&m_emulator, &Emulator::logged, this, &EmulatorWindow::appendLog);
    refresh();
}

void EmulatorWindow::refresh()
{
    const ModuleState& state = m_emulator.state();
    std::array<quint8, protocol::DisplayPositions> patterns{};
    for (int i = 0; i < protocol::DisplayPositions; ++i)
        patterns[size_t(i)] = state.shown(i);
    m_display->setPatterns(patterns, state.isDim());

    const ModuleLine& line = m_emulator.line();
    QString where = line.devicePath();
    if (!line.linkPath().isEmpty())
        where += QStringLiteral(" (link %1)").arg(line.linkPath());
    m_status->setText(
        QStringLiteral("UID %1    %2    %3    %4")
            .arg(state.uidText(), where, line.settingsText(),
                 state.isDim() ? QStringLiteral("dim") : QStringLiteral("full brightness")));
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
