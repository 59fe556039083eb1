#include "fuzz/fuzz_input.h"

#include <cstring>

void startFuzzInput(FuzzInput *input, const uint8_t *data, size_t size)
{
    input->data = data;
    input->size = data != nullptr ? size : 0;
    input->position = 0;
}

size_t fuzzBytesLeft(const FuzzInput *input)
{
    return input->size - input->position;
}

uint8_t takeFuzzByte(FuzzInput *input)
{
    if (input->position >= input->size)
        return 0;
    return input->data[input->position++];
}

uint16_t takeFuzzU16(FuzzInput *input)
{
    uint16_t low = takeFuzzByte(input);
    return static_cast<uint16_t>(low | (takeFuzzByte(input) << 8));
}

uint32_t takeFuzzU32(FuzzInput *input)
{
    uint32_t low = takeFuzzU16(input);
    return low | (static_cast<uint32_t>(takeFuzzU16(input)) << 16);
}

uint64_t takeFuzzU64(FuzzInput *input)
{
    uint64_t low = takeFuzzU32(input);
    return low | (static_cast<uint64_t>(takeFuzzU32(input)) << 32);
}

size_t takeFuzzBytes(FuzzInput *input, void *out, size_t count)
{
    size_t available = fuzzBytesLeft(input);
    size_t taken = count < available ? count : available;
    if (taken > 0)
        memcpy(out, input->data + input->position, taken);
    if (count > taken)
        memset(static_cast<unsigned char *>(out) + taken, 0, count - taken);
    input->position += taken;
    return taken;
}
