// Bytes as lower-case hex: how the tests show binary data, and how the engine
// stand-ins write each message they read into their records.
#pragma once

#include <cstddef>
#include <string>

namespace omvar::test {

inline std::string to_hex(const void* data, std::size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::string hex;
    for (std::size_t i = 0; i < length; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 15];
    }
    return hex;
}

inline std::string to_hex(const std::string& bytes) { return to_hex(bytes.data(), bytes.size()); }

}  // namespace omvar::test
