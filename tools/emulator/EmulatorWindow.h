#pragma once

#include <QList>
#include <QWidget>

class Emulator;
class QLabel;
class QPlainTextEdit;
class SevenSegmentDisplay;

// "LED Module Emulator": each module's display under its UID and
// brightness, the line, a warning while modules share a UID, and a
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
    QList<SevenSegmentDisplay*> m_displays;
    QList<QLabel*> m_titles;
    QLabel* m_status;
    QLabel* m_warning;
    QPlainTextEdit* m_log;
};
