// debug_log with arbitrary, often very long, arguments: every line stays within
// its size, ends in "\r\n", and is the formatted message, control bytes
// escaped, cut at the limit.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "agent/cron/debug_log.h"
#include "agent/platform/platform.h"
#include "fuzz_support.h"

namespace {

std::string last_line;
int lines = 0;

}  // namespace

// This target's debugger output: the line is kept for the check.
void omvar::platform::debug_output(const char* line) {
    last_line = line;
    ++lines;
}

namespace {

// The message as formatted into the line buffer, its control bytes escaped, cut
// before the escape or byte that would not fit beside "\r\n" and the NUL.
std::string shown_and_cut(const std::string& message) {
    const std::size_t room = omvar::cron::kDebugLineSize - 3;
    std::string out;
    for (unsigned char c : message.substr(0, omvar::cron::kDebugLineSize - 1)) {
        std::string piece(1, static_cast<char>(c));
        if (c == '\n') {
            piece = "\\n";
        } else if (c == '\t') {
            piece = "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            piece = hex;
        }
        if (out.size() + piece.size() > room) {
            break;
        }
        out += piece;
    }
    return out;
}

void expect_line(const std::string& message) {
    FUZZ_CHECK(lines == 1);
    FUZZ_CHECK(last_line.size() < omvar::cron::kDebugLineSize);
    FUZZ_CHECK(last_line == shown_and_cut(message) + "\r\n");
    lines = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    omvar::fuzz::Reader in{data, size};
    const std::uint8_t shape = in.byte();
    const int number = in.int32();
    // The argument repeated to make it long: up to some 64 KiB.
    const std::size_t repeat = 1 + in.byte();
    const std::string piece = in.rest_as_c_string();
    std::string arg;
    for (std::size_t i = 0; i < repeat && arg.size() < 65536; ++i) {
        arg += piece;
    }

    switch (shape % 3) {
        case 0:
            omvar::cron::debug_log("found %s", arg.c_str());
            expect_line("found " + arg);
            break;
        case 1: {
            omvar::cron::debug_log("%s:%d", arg.c_str(), number);
            expect_line(arg + ":" + std::to_string(number));
            break;
        }
        default: {
            const int width = number % 100000;
            omvar::cron::debug_log("%*s|%s", width, "", arg.c_str());
            std::string padding(static_cast<std::size_t>(width < 0 ? -width : width), ' ');
            expect_line(padding + "|" + arg);
            break;
        }
    }
    return 0;
}
