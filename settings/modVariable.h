#pragma once

#include <QString>

// The three settings texts that live for the whole run. Start-up fills them
// from "quendra.ini"; the menus and the send path overwrite them later.
namespace modVariable {

extern QString strCommPort; // port number, "1" for COM1
extern QString strSettings; // line settings, such as "9600,n,8,1"
extern QString strSlaveID;  // UID of the module addressed, "0".."255"

} // namespace modVariable
