#include "settings/modVariable.h"

namespace modVariable {

QString strCommPort;
QString strSettings;
QString strSlaveID;

} // namespace modVariable
