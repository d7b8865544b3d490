// STUB: the emulator's frame decoder. Built only once the emulator's library
// (target quendra_emulator_core) exists; fill in the calls then.
//
// Property to check, not just "no crash": the bytes fed in, in pieces the
// fuzzer chooses, decode into frames; every decoded frame re-encodes
// (protocol::commandFrame or protocol::configFrame) to exactly the bytes it
// was decoded from, and the frames together account for every byte that was
// not reported as garbage.
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    (void)data;
    (void)size;
    return 0;
}
