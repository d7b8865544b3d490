// STUB: the sender's command-line parsing. Built only once the sender's
// library (target quendra_send_core) exists; fill in the calls then.
//
// Property to check, not just "no crash": the fuzzer's bytes, split at zero
// bytes into arguments, are either refused with a message or give exactly one
// frame whose UID is 0..255 and whose payload has the length its command code
// carries (protocol::payloadLength); nothing is written for a refused line.
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    (void)data;
    (void)size;
    return 0;
}
