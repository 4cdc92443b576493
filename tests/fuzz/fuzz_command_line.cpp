// The Windows command-line splitter over arbitrary text: every argument lies
// inside the record's text and ends in a NUL there, the counts stay in bounds,
// and the length-limited and NUL-terminated forms agree.
#include <cstdint>
#include <cstring>
#include <string>

#include "agent/platform/command_line.h"
#include "fuzz_support.h"

namespace {

using omvar::platform::CommandLineArgs;

void check_record(const CommandLineArgs& args) {
    FUZZ_CHECK(args.count >= 0 && static_cast<std::size_t>(args.count) <= omvar::platform::kMaxArgs);
    FUZZ_CHECK(args.argv[args.count] == nullptr);
    const char* text = args.text;
    const char* text_end = args.text + sizeof args.text;
    const char* previous_end = text;
    for (int i = 0; i < args.count; ++i) {
        const char* a = args.argv[i];
        FUZZ_CHECK(a >= previous_end && a < text_end);
        const void* nul = std::memchr(a, '\0', static_cast<std::size_t>(text_end - a));
        FUZZ_CHECK(nul != nullptr);
        previous_end = static_cast<const char*>(nul) + 1;  // arguments never overlap
    }
}

bool same(const CommandLineArgs& a, const CommandLineArgs& b) {
    if (a.count != b.count || a.truncated != b.truncated) {
        return false;
    }
    for (int i = 0; i < a.count; ++i) {
        if (std::strcmp(a.argv[i], b.argv[i]) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CommandLineArgs limited;
    static CommandLineArgs terminated;
    const std::string line(reinterpret_cast<const char*>(data), size);

    // Exactly size bytes on the heap, so a read past the given length is caught.
    std::string exact = line;
    bool ok = omvar::platform::split_command_line(exact.data(), exact.size(), &limited);
    check_record(limited);
    FUZZ_CHECK(ok == !limited.truncated);

    const std::string as_c = line.c_str();
    bool ok2 = omvar::platform::split_command_line(as_c.c_str(), &terminated);
    check_record(terminated);
    FUZZ_CHECK(ok2 == ok);
    FUZZ_CHECK(same(limited, terminated));

    // Text without quotes or backslashes splits plainly at blanks and tabs.
    if (!ok || as_c.find_first_of("\"\\") != std::string::npos) {
        return 0;
    }
    int expected = 0;
    bool in_word = false;
    for (char c : as_c) {
        bool blank = c == ' ' || c == '\t';
        if (!blank && !in_word) {
            ++expected;
        }
        in_word = !blank;
    }
    FUZZ_CHECK(limited.count == expected);
    return 0;
}
