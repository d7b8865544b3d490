// The UID text the operator types into the list becomes the first byte of
// every frame: a text gives one address 0..255 or is refused, whatever blanks
// stand around it, and an address read back from its shortest form is the
// same. Which texts give which address is tst_protocol's table.
#include "fuzz/check.h"
#include "protocol/protocol.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<quint8> uid = protocol::uidFromText(text);
    check(protocol::uidFromText(QStringLiteral(" ") + text + QStringLiteral("\t")) == uid);
    if (uid)
        check(protocol::uidFromText(QString::number(*uid)) == uid);
    return 0;
}
