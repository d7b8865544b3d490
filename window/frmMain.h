#pragma once

#include "serial/MSComm.h"
#include "window/MessageSink.h"

#include <QByteArray>
#include <QFont>
#include <QMainWindow>

#include <array>
#include <initializer_list>
#include <memory>
#include <optional>

class QAction;
class QActionGroup;
class QButtonGroup;
class ValueComboBox;

namespace Ui {
class frmMain;
}

// The panel's one window. It holds the controls, the port MSComm1 and the
// payload buffer; its handlers read controls and hand the work to the
// protocol, serial and settings libraries.
class frmMain : public QMainWindow
{
    Q_OBJECT

public:
    // Builds the window and runs its start-up sequence, so that any message
    // comes before the window is shown. Without a sink, messages go to a
    // modal box titled "QuendraAPP".
    explicit frmMain(MessageSink sink = {}, QWidget* parent = nullptr);
    ~frmMain() override;

    MSComm& port() { return MSComm1; }

    // The font the layout was drawn for: a small dialog font. The desktop's
    // default (often a wide 9- or 10-point face) would cut captions off.
    static QFont dialogFont();

private:
    // The operator's choices from the two menus, by entry index (1..6, 1..3).
    void mnuCOM_Click(int Index);
    void mnuBR_Click(int Index);

    void Form_Load();
    void setUpKeyboard();
    void connectHandlers();
    void showMessage(const QString& text, const QString& detail = {}) const;
    // Opens the port with a wait cursor: a network port may take seconds.
    bool openPort();

    // Display and configuration commands.
    void cmdTransmit_Click();
    void cmdDP_Click();
    void cmdDecimal_Click();
    void cmdShort_Click();
    void cmdSEG_Click();
    void cmdDIM_Click();
    void cmdConfig_Click();
    // True when the frame was handed to the port; false when the operator
    // has been told why nothing went out.
    bool SendCommand(quint8 code);
    void PadText();
    // The bytes chosen in a row of lists of one group, leftmost first; none,
    // after telling the operator which list lacks a value.
    std::optional<QByteArray> listPayload(const QString& group,
                                          std::initializer_list<ValueComboBox*> lists) const;
    // strPayload takes the lists' bytes; false, with the operator told, when
    // a list has no value selected and strPayload stays as it was.
    bool payloadFromLists(const QString& group, std::initializer_list<ValueComboBox*> lists);
    bool writeFrame(const QByteArray& frame);
    void portFailed(const QString& reason);

    std::unique_ptr<Ui::frmMain> ui;
    MessageSink m_sink;
    MSComm MSComm1;
    QByteArray strPayload;
    std::array<QAction*, 7> mnuCOM{}; // entries 1..6; 0 unused
    std::array<QAction*, 4> mnuBR{};  // entries 1..3; 0 unused
    // Each menu's entries: one mark at most, moved by choosing an entry.
    QActionGroup* m_portEntries = nullptr;
    QActionGroup* m_baudEntries = nullptr;
    // opt9600, opt19200, opt38400, each with its place in the baud table.
    QButtonGroup* m_baudOptions = nullptr;
    // The twelve lists that stand for one byte each, in the order in which
    // start-up fills and selects them.
    std::array<ValueComboBox*, 12> m_byteLists{};
};
