// Reads the fields of a fuzz input from its front, little-endian. Past the end
// every read yields zero, so any byte string describes some input.
#ifndef XEPO_FUZZ_INPUT_H
#define XEPO_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t u8();
    uint32_t u32();
    int32_t i32() { return static_cast<int32_t>(u32()); }
    uint64_t u64();
    float f32();

    // What is left, for pixel or file bytes.
    const uint8_t* rest() const { return data_ + offset_; }
    size_t restSize() const { return size_ - offset_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

// Fills `bytes` by repeating `pattern` (zeros when the pattern is empty).
void fillRepeating(uint8_t* bytes, size_t count, const uint8_t* pattern, size_t patternSize);

#endif  // XEPO_FUZZ_INPUT_H
