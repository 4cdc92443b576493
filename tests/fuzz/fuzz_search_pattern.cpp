// The directory search-pattern builder over arbitrary directory texts and
// buffer sizes: the result fits its buffer and keeps the pattern's shape, and a
// smaller buffer either gives the same pattern or a clean refusal.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "agent/platform/win32/search_pattern.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    omvar::fuzz::Reader in{data, size};
    const std::size_t out_size = in.u16() % 2100;
    const std::string dir = in.rest_as_c_string();

    // The reference result from a buffer that always has room.
    std::vector<char> roomy(2 * dir.size() + 8, 'x');
    FUZZ_CHECK(omvar::platform::build_search_pattern(dir.c_str(), roomy.data(), roomy.size()));
    const std::string pattern = roomy.data();
    FUZZ_CHECK(pattern.size() < roomy.size());
    FUZZ_CHECK(!pattern.empty() && pattern.back() == '*');
    if (dir != ".") {
        FUZZ_CHECK(pattern.size() >= 2 && pattern[pattern.size() - 2] == '\\');
        // Only a network prefix keeps a doubled backslash, and only at the start.
        std::size_t from = (dir.size() >= 2 && dir[0] == '\\' && dir[1] == '\\') ? 2 : 0;
        FUZZ_CHECK(pattern.find("\\\\", from) == std::string::npos);
        // Everything but backslashes survives in order.
        std::string a, b;
        for (char c : dir) {
            if (c != '\\') {
                a += c;
            }
        }
        for (char c : pattern.substr(0, pattern.size() - 1)) {
            if (c != '\\') {
                b += c;
            }
        }
        FUZZ_CHECK(a == b);
    } else {
        FUZZ_CHECK(pattern == "*");
    }

    // Exactly out_size bytes: any write past them is caught.
    std::vector<char> exact(out_size > 0 ? out_size : 1, 'x');
    const char before = exact[0];
    bool ok = omvar::platform::build_search_pattern(dir.c_str(), exact.data(), out_size);
    if (out_size == 0) {
        FUZZ_CHECK(!ok && exact[0] == before);
    } else if (pattern.size() < out_size) {
        FUZZ_CHECK(ok && pattern == exact.data());
    } else {
        FUZZ_CHECK(!ok && exact[0] == '\0');
    }
    return 0;
}
