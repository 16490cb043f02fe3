#include "fuzz_input.h"

#include <cstring>

uint8_t FuzzInput::u8() {
    if (offset_ >= size_) {
        return 0;
    }
    return data_[offset_++];
}

uint32_t FuzzInput::u32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(u8()) << (8 * i);
    }
    return value;
}

uint64_t FuzzInput::u64() {
    const uint64_t low = u32();
    const uint64_t high = u32();
    return low | (high << 32);
}

float FuzzInput::f32() {
    const uint32_t bits = u32();
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

void fillRepeating(uint8_t* bytes, size_t count, const uint8_t* pattern, size_t patternSize) {
    if (patternSize == 0) {
        std::memset(bytes, 0, count);
        return;
    }
    for (size_t done = 0; done < count;) {
        const size_t chunk = count - done < patternSize ? count - done : patternSize;
        std::memcpy(bytes + done, pattern, chunk);
        done += chunk;
    }
}
