// Small helpers shared by the fuzz targets: a reader over the fuzzer's bytes and
// a check that aborts (so the fuzzer keeps the input) instead of asserting.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace omvar::fuzz {

// Takes bytes from the front of the input; past the end every read gives 0.
struct Reader {
    const std::uint8_t* data;
    std::size_t size;

    std::uint8_t byte() {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    std::int32_t int32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        }
        std::int32_t out;
        std::memcpy(&out, &v, sizeof out);
        return out;
    }
    std::string take(std::size_t n) {
        if (n > size) {
            n = size;
        }
        std::string out(reinterpret_cast<const char*>(data), n);
        data += n;
        size -= n;
        return out;
    }
    std::string rest() { return take(size); }
    // A time record for the matcher: mostly plausible fields, so that matches
    // are common; one input in eight takes any int for each.
    std::tm time_record() {
        std::tm t{};
        const bool wild = (byte() & 7) == 0;
        t.tm_min = wild ? int32() : byte() % 60;
        t.tm_hour = wild ? int32() : byte() % 24;
        t.tm_mday = wild ? int32() : 1 + byte() % 31;
        t.tm_mon = wild ? int32() : byte() % 12;
        t.tm_year = wild ? int32() : 100 + byte() % 60;
        t.tm_wday = wild ? int32() : byte() % 7;
        return t;
    }
    std::string rest_as_c_string() {
        std::string all = rest();
        return all.substr(0, std::strlen(all.c_str()));
    }
};

// A fresh install directory with an etc directory, made the current directory
// once per process (on /dev/shm when there is one: the targets write files per run).
const std::string& install_dir();

// Writes the 4096-byte key file whose eight key windows hold key (32 bytes) and
// forgets the cached key, so that the next open reads it.
void use_key(const unsigned char* key);

}  // namespace omvar::fuzz
