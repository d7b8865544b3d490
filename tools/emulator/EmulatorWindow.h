#pragma once

#include <QWidget>

class Emulator;
class QLabel;
class QPlainTextEdit;
class SevenSegmentDisplay;

// "LED Module Emulator": the module's display, its UID and line, and a
// scrolling log of every frame. It only shows; the Emulator does the work.
class EmulatorWindow : public QWidget
{
    Q_OBJECT

public:
    explicit EmulatorWindow(Emulator& emulator, QWidget* parent = nullptr);

private:
    void refresh();
    void appendLog(const QString& line);

    Emulator& m_emulator;
    SevenSegmentDisplay* m_display;
    QLabel* m_status;
    QPlainTextEdit* m_log;
};
