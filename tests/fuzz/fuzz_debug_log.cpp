// debug_log with arbitrary, often very long, arguments: every line stays within
// its size, ends in "\r\n", and is the formatted message, control bytes and
// whatever is not UTF-8 escaped, cut at the limit.
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

std::string hex_escape(unsigned char c) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    return hex;
}

// Length of the well-formed UTF-8 sequence at m[i] (Unicode's table of
// well-formed byte sequences), 0 if there is none.
std::size_t well_formed(const std::string& m, std::size_t i) {
    const auto at = [&](std::size_t k) {
        return i + k < m.size() ? static_cast<unsigned char>(m[i + k]) : 0;
    };
    const auto in = [](unsigned char c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; };
    const unsigned char b = at(0);
    if (in(b, 0xc2, 0xdf)) {
        return in(at(1), 0x80, 0xbf) ? 2 : 0;
    }
    if (in(b, 0xe0, 0xef)) {
        const unsigned lo = b == 0xe0 ? 0xa0 : 0x80;
        const unsigned hi = b == 0xed ? 0x9f : 0xbf;
        return in(at(1), lo, hi) && in(at(2), 0x80, 0xbf) ? 3 : 0;
    }
    if (in(b, 0xf0, 0xf4)) {
        const unsigned lo = b == 0xf0 ? 0x90 : 0x80;
        const unsigned hi = b == 0xf4 ? 0x8f : 0xbf;
        return in(at(1), lo, hi) && in(at(2), 0x80, 0xbf) && in(at(3), 0x80, 0xbf) ? 4 : 0;
    }
    return 0;
}

// The message as formatted into the line buffer and written to standard error:
// control bytes, bytes outside well-formed UTF-8 and every byte of C1 controls,
// U+2028 and U+2029 escaped; cut before the piece that would not fit beside
// "\r\n" and the NUL.
std::string shown_and_cut(const std::string& whole) {
    const std::size_t room = omvar::cron::kDebugLineSize - 3;
    const std::string message = whole.substr(0, omvar::cron::kDebugLineSize - 1);
    std::string out;
    for (std::size_t i = 0; i < message.size();) {
        const auto c = static_cast<unsigned char>(message[i]);
        std::string piece(1, static_cast<char>(c));
        std::size_t used = 1;
        if (c == '\n') {
            piece = "\\n";
        } else if (c == '\t') {
            piece = "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            piece = hex_escape(c);
        } else if (c >= 0x80) {
            used = well_formed(message, i);
            const std::string bytes = message.substr(i, used);
            const bool escaped = used == 0 ||
                                 (c == 0xc2 && static_cast<unsigned char>(message[i + 1]) <= 0x9f) ||
                                 bytes == "\xe2\x80\xa8" || bytes == "\xe2\x80\xa9";
            used = used == 0 ? 1 : used;
            piece = escaped ? "" : message.substr(i, used);
            for (std::size_t k = 0; escaped && k < used; ++k) {
                piece += hex_escape(static_cast<unsigned char>(message[i + k]));
            }
        }
        if (out.size() + piece.size() > room) {
            break;
        }
        out += piece;
        i += used;
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
