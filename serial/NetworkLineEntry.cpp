#include "serial/NetworkLineEntry.h"

#include "serial/NetworkLine.h"

Line* quendraNewNetworkLine(const NetworkAddress& address)
{
    return new NetworkLine(address);
}
