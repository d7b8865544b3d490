#include "window/frmMain.h"
#include "window/PanelPicture.h"

#include "protocol/protocol.h"
#include "settings/Startup.h"
#include "settings/modVariable.h"
#include "ui_frmMain.h"
#include "window/ValueComboBox.h"

#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QStringListModel>

namespace {

const QString AppTitle = QStringLiteral("QuendraAPP");

QStringList numberTexts(int count, int base, int width)
{
    QStringList texts;
    texts.reserve(count);
    for (int i = 0; i < count; ++i)
        texts.append(QStringLiteral("%1").arg(i, width, base, QLatin1Char('0')).toUpper());
    return texts;
}

} // namespace

QFont frmMain::dialogFont()
{
    return {QStringLiteral("Arial"), 8};
}

frmMain::frmMain(MessageSink sink, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::frmMain>()), m_sink(std::move(sink))
{
    // Controls without a font of their own take the dialog font; txtdata
    // keeps its own.
    setFont(dialogFont());
    ui->setupUi(this);
    setWindowIcon(QIcon(QPixmap::fromImage(panelPicture(QStringLiteral(":/quendra/icon.ppm")))));
    ui->Image1->setPixmap(
        QPixmap::fromImage(panelPicture(QStringLiteral(":/quendra/segments.ppm"))));
    mnuCOM = {nullptr,      ui->mnuCOM_1, ui->mnuCOM_2, ui->mnuCOM_3,
              ui->mnuCOM_4, ui->mnuCOM_5, ui->mnuCOM_6};
    mnuBR = {nullptr, ui->mnuBR_1, ui->mnuBR_2, ui->mnuBR_3};
    m_byteLists = {ui->cbolm4,  ui->cbolm3,  ui->cbolm2,  ui->cbolm1,  ui->cbosi2,  ui->cbosi1,
                   ui->cboSeg6, ui->cboSeg5, ui->cboSeg4, ui->cboSeg3, ui->cboSeg2, ui->cboSeg1};

    m_portEntries = new QActionGroup(this);
    m_baudEntries = new QActionGroup(this);
    for (int i = 1; i < int(mnuCOM.size()); ++i)
        m_portEntries->addAction(mnuCOM[i]);
    // The entries follow the rates a module knows, slowest first.
    for (int i = 1; i < int(mnuBR.size()); ++i) {
        mnuBR[i]->setText(QStringLiteral("%1bps").arg(protocol::BaudOptions[i - 1].rate));
        m_baudEntries->addAction(mnuBR[i]);
    }
    m_baudOptions = new QButtonGroup(this);
    const std::array<QRadioButton*, 3> baudOptions{ui->opt9600, ui->opt19200, ui->opt38400};
    for (int i = 0; i < int(baudOptions.size()); ++i)
        m_baudOptions->addButton(baudOptions[size_t(i)], i);

    // The layout is fixed: the client area under the menu bar never changes.
    ui->centralwidget->setFixedSize(639, 458);
    setFixedSize(639, 458 + menuBar()->sizeHint().height());

    setUpKeyboard();
    connectHandlers();
    Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::connectHandlers()
{
    connect(ui->cmdTransmit, &QPushButton::clicked, this, &frmMain::cmdTransmit_Click);
    connect(ui->cmdDP, &QPushButton::clicked, this, &frmMain::cmdDP_Click);
    connect(ui->cmdDecimal, &QPushButton::clicked, this, &frmMain::cmdDecimal_Click);
    connect(ui->cmdShort, &QPushButton::clicked, this, &frmMain::cmdShort_Click);
    connect(ui->cmdSEG, &QPushButton::clicked, this, &frmMain::cmdSEG_Click);
    connect(ui->cmdDIM, &QPushButton::clicked, this, &frmMain::cmdDIM_Click);
    connect(ui->cmdConfig, &QPushButton::clicked, this, &frmMain::cmdConfig_Click);
    for (int i = 1; i < int(mnuCOM.size()); ++i)
        connect(mnuCOM[i], &QAction::triggered, this, [this, i] { mnuCOM_Click(i); });
    for (int i = 1; i < int(mnuBR.size()); ++i)
        connect(mnuBR[i], &QAction::triggered, this, [this, i] { mnuBR_Click(i); });
    connect(&MSComm1, &MSComm::failed, this, &frmMain::portFailed);
}

void frmMain::showMessage(const QString& text, const QString& detail) const
{
    if (m_sink) {
        m_sink(text, detail);
        return;
    }
    // The detail names devices from quendra.ini and carries what a terminal
    // server said: shown as written, never rendered as markup.
    QMessageBox box(QMessageBox::NoIcon, AppTitle, QString(), QMessageBox::Ok,
                    const_cast<frmMain*>(this));
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setInformativeText(detail);
    // The box's text format covers the message only; the detail sits in a
    // label of its own that would still take markup (and open links).
    for (QLabel* label : box.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    box.exec();
}

bool frmMain::openPort()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool opened = MSComm1.open();
    QApplication::restoreOverrideCursor();
    return opened;
}

void frmMain::Form_Load()
{
    using namespace modVariable;
    const modINI::StartupSettings file = modINI::ReadStartupSettings();
    strCommPort = file.commPort;
    strSettings = file.settings;
    strSlaveID = file.slaveId;
    MSComm1.setPortMap(file.ports);

    const Checked<int> number = modINI::configuredCommPort(file, int(mnuCOM.size()) - 1);
    if (number)
        MSComm1.setCommPort(qint16(*number));
    MSComm1.setSettings(strSettings);
    if (number)
        mnuCOM[*number]->setChecked(true);

    if (!number) {
        showMessage(QStringLiteral("COMM PORT ERROR"), number.message());
    } else if (!openPort()) {
        showMessage(QStringLiteral("COMM PORT ERROR"), MSComm1.errorString());
    }

    // The lists are filled whether or not the port opened: a port chosen
    // later from the menu must find every button ready to send.
    ui->cboDP->setItems(
        new QStringListModel(numberTexts(protocol::DecimalPointsMax + 1, 10, 1), this));
    // Lists of the same items share one model: each keeps its own selection
    // and typed text, and the items are made once instead of twelve times.
    auto* bytes = new QStringListModel(numberTexts(256, 16, 2), this);
    for (ValueComboBox* list : m_byteLists)
        list->setItems(bytes);
    auto* uids = new QStringListModel(numberTexts(256, 10, 1), this);
    ui->cboUID->setItems(uids);
    ui->cboCuid->setItems(uids);

    ui->cboUID->setShownText(strSlaveID);
    ui->cboCuid->setShownText(strSlaveID);
    for (ValueComboBox* list : m_byteLists)
        list->setCurrentIndex(0);
    ui->cboDP->setCurrentIndex(0);
}
