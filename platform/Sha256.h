#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vyk::platform {

// SHA-256 (FIPS 180-4), for the record of what was flashed and saved: the
// same digest sha256sum and certutil show.
class Sha256 {
public:
    Sha256();
    void Add(const uint8_t* data, size_t size);
    // 64 lowercase hexadecimal digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> h_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

std::string Sha256Hex(const uint8_t* data, size_t size);

} // namespace vyk::platform
