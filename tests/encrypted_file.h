// Writes a schedule file the way the agent's own stream writes one, for the
// tests, the benchmarks and the fuzz targets alike.
#pragma once

#include <cstdio>
#include <string>

#include "agent/crypt/estream.h"

namespace omvar::test {

// Encrypts text into path under the key of the current directory ("etc/omvar.ak",
// made if missing). False if any step, the file's close included, fails.
inline bool write_encrypted_file(const char* path, const std::string& text) {
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    crypt::EncryptedStream stream{};
    bool ok = crypt::estream_open(&stream, out, 1, ".") == 0 &&
              crypt::estream_write(&stream, text.data(), static_cast<long>(text.size())) == 0 &&
              crypt::estream_finish(&stream) == 0;
    crypt::estream_close(&stream);
    return std::fclose(out) == 0 && ok;
}

}  // namespace omvar::test
