// The bytes of one fuzz input, read from the front as the run asks for them.
//
// Every reader is total: once the input is used up it yields zeros, so a
// short input is a run in which every later answer is 0 (success, no data).
#ifndef FUZZ_FUZZ_INPUT_H
#define FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>

struct FuzzInput {
    const uint8_t *data;
    size_t size;
    size_t position;
};

// Points *input at data[size] from its start.  The bytes stay the caller's
// and must outlive every read.
void startFuzzInput(FuzzInput *input, const uint8_t *data, size_t size);

size_t fuzzBytesLeft(const FuzzInput *input);
uint8_t takeFuzzByte(FuzzInput *input);
uint16_t takeFuzzU16(FuzzInput *input);  // little-endian
uint32_t takeFuzzU32(FuzzInput *input);  // little-endian
uint64_t takeFuzzU64(FuzzInput *input);  // little-endian

// Copies the next `count` bytes into out[count]; the part past the end of
// the input is zeros.  Returns the bytes that came from the input.
size_t takeFuzzBytes(FuzzInput *input, void *out, size_t count);

#endif  // FUZZ_FUZZ_INPUT_H
