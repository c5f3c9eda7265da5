// Program streams written token by token, most significant bit first, for tests that need
// exact streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TokenWriter {
public:
    TokenWriter& Bits(uint32_t value, int count)
    {
        for (int bit = count - 1; bit >= 0; bit--) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if (value >> bit & 1) bytes_.back() |= 0x80 >> (used_ % 8);
            used_++;
        }
        return *this;
    }
    TokenWriter& Literal(uint8_t byte) { return Bits(1, 1).Bits(byte, 8); }
    TokenWriter& Literals(const std::string& text)
    {
        for (char c : text) Literal((uint8_t)c);
        return *this;
    }
    TokenWriter& Match(uint32_t position, uint32_t k) { return Bits(0, 1).Bits(position, 12).Bits(k, 4); }
    TokenWriter& End() { return Bits(0, 13); }
    std::vector<uint8_t> Done() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t used_ = 0;
};

