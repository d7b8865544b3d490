#include "window/frmMain.h"

#include "protocol/protocol.h"
#include "settings/modVariable.h"
#include "ui_frmMain.h"

#include <QButtonGroup>

#include "window/ValueComboBox.h"
#include <algorithm>

using protocol::Command;

namespace {

const QString UidNotValid =
    QStringLiteral("Nothing sent: Device UID must be a number from 0 to 255");
const QString NoValueSelected = QStringLiteral("%1: list %2 has no value selected");
const QString PortNotOpen = QStringLiteral("Nothing sent: the port is not open");
const QString PortFailed = QStringLiteral("The port failed and was closed");

const QString Dim = QStringLiteral("Dim");
const QString FullBrightness = QStringLiteral("Full Brightness");

quint8 byteOf(Command command)
{
    return static_cast<quint8>(command);
}

} // namespace

void frmMain::cmdTransmit_Click()
{
    PadText();
    if (!SendCommand(byteOf(Command::Text)))
        return; // the padded text stays, so pressing again sends the same bytes
    ui->txtdata->setText(QString());
}

void frmMain::cmdDP_Click()
{
    if (payloadFromLists(ui->Frame2->title(), {ui->cboDP}))
        SendCommand(byteOf(Command::DecimalPoints));
}

void frmMain::cmdDecimal_Click()
{
    if (!payloadFromLists(ui->Frame3->title(), {ui->cbolm4, ui->cbolm3, ui->cbolm2, ui->cbolm1}))
        return;
    if (ui->optSigned->isChecked())
        SendCommand(byteOf(Command::LongSigned));
    if (ui->optUnsigned->isChecked())
        SendCommand(byteOf(Command::LongUnsigned));
}

void frmMain::cmdShort_Click()
{
    if (!payloadFromLists(ui->Frame4->title(), {ui->cbosi2, ui->cbosi1}))
        return;
    if (ui->optSignedS->isChecked())
        SendCommand(byteOf(Command::ShortSigned));
    if (ui->optUnsignedS->isChecked())
        SendCommand(byteOf(Command::ShortUnsigned));
}

void frmMain::cmdSEG_Click()
{
    if (payloadFromLists(ui->Frame6->title(), {ui->cboSeg6, ui->cboSeg5, ui->cboSeg4, ui->cboSeg3,
                                               ui->cboSeg2, ui->cboSeg1}))
        SendCommand(byteOf(Command::Segments));
}

void frmMain::cmdDIM_Click()
{
    // The caption follows the module: it changes only once the frame is out.
    if (!SendCommand(byteOf(Command::Brightness)))
        return;
    const QString caption = ui->cmdDIM->text();
    if (caption == Dim)
        ui->cmdDIM->setText(FullBrightness);
    else if (caption == FullBrightness)
        ui->cmdDIM->setText(Dim);
}

void frmMain::cmdConfig_Click()
{
    // One of the three options is always chosen; each stands at its rate's
    // place in the baud table.
    const protocol::Baud baud = protocol::BaudOptions[std::max(0, m_baudOptions->checkedId())].baud;
    const std::optional<QByteArray> newUid = listPayload(ui->Frame5->title(), {ui->cboCuid});
    if (!newUid)
        return;
    // The payload buffer takes the configuration only once the frame is out,
    // so a brightness press after a failed configuration repeats the last
    // command that did reach the module.
    const QByteArray payload = protocol::configPayload(baud, quint8(newUid->front()));
    if (writeFrame(protocol::configFrame(payload)))
        strPayload = payload;
}

bool frmMain::SendCommand(quint8 code)
{
    // The UID shown is the one remembered, even when it turns out unusable.
    modVariable::strSlaveID = ui->cboUID->currentText();
    const std::optional<quint8> uid = protocol::uidFromText(modVariable::strSlaveID);
    if (!uid) {
        showMessage(UidNotValid, QStringLiteral("\"%1\"").arg(modVariable::strSlaveID));
        return false;
    }
    return writeFrame(protocol::commandFrame(*uid, code, strPayload));
}

void frmMain::PadText()
{
    ui->txtdata->setText(protocol::padText(ui->txtdata->text()));
    strPayload = protocol::textPayload(ui->txtdata->text());
}

std::optional<QByteArray> frmMain::listPayload(const QString& group,
                                               std::initializer_list<ValueComboBox*> lists) const
{
    QList<int> positions;
    for (const ValueComboBox* list : lists)
        positions.append(list->currentIndex());
    const protocol::ListBytes chosen = protocol::bytesFromPositions(positions);
    if (!chosen.bytes)
        showMessage(NoValueSelected.arg(group).arg(chosen.missing));
    return chosen.bytes;
}

bool frmMain::payloadFromLists(const QString& group, std::initializer_list<ValueComboBox*> lists)
{
    const std::optional<QByteArray> bytes = listPayload(group, lists);
    if (bytes)
        strPayload = *bytes;
    return bytes.has_value();
}

bool frmMain::writeFrame(const QByteArray& frame)
{
    if (!MSComm1.isOpen()) {
        showMessage(PortNotOpen);
        return false;
    }
    const WriteResult sent = MSComm1.write(frame);
    if (!sent.ok())
        showMessage(sent.summary(), sent.error);
    return sent.ok();
}

void frmMain::portFailed(const QString& reason)
{
    // The port is closed by now, so a vanished device raises this once; a
    // failure during a write is the write's result and never comes here.
    showMessage(PortFailed, reason);
}
