#pragma once

#include "common/Checked.h"
#include "serial/LineSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

// How a write ended: sent counts the bytes that left, error is empty when
// the whole frame did. A frame that left whole but that the far end was not
// seen to take (sent == size, error set) failed as well.
struct WriteResult
{
    qsizetype sent = 0;
    qsizetype size = 0; // the frame's length
    QString error;

    bool ok() const { return error.isEmpty(); }
    // What the operator is told of a failed write: "Frame not sent: ..." when
    // nothing left, "Frame cut short: 3 of 8 bytes sent; ..." when part did,
    // "Frame not confirmed: ..." when it all left but was not taken.
    QString summary() const;
};

// One kind of line behind the port object: a local serial device, or a
// terminal server reached over the network. The port object picks one by
// the port's name; nothing above it ever asks which.
class Line : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Opens the line so that it really runs with these settings. On failure
    // the line stays closed and the message names the port and what failed
    // ("/dev/ttyUSB0: stop bits 1.5: ...", "127.0.0.1:4001: Connection refused").
    virtual Checked<void> open(const LineSettings& settings) = 0;

    // Writes the whole frame and returns once it has left, within a bounded
    // wait. On any failure the line is closed before this returns.
    virtual WriteResult write(const QByteArray& frame) = 0;

    // Waits, bounded, until the far end has taken everything written so far.
    // Refused when that is not known to have happened; the line is closed
    // then.
    virtual Checked<void> confirm() = 0;

    // Confirms what was written, lets it leave, then lets go of the line;
    // returns what the confirmation found. Closed afterwards in any case;
    // done at once when closed already.
    virtual Checked<void> close() = 0;

    virtual bool isOpen() const = 0;

    // The settings the line runs with as its far end reports them; none while
    // closed or where nothing can be read back.
    virtual std::optional<LineSettings> activeSettings() const = 0;

signals:
    // The line went away while open and idle (adapter unplugged, server
    // gone); it has been closed already. A failure inside open, write,
    // confirm or close is that call's result and never raises this: whoever
    // called hears of it once, from the result.
    void failed(const QString& reason);
};
