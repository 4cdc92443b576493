#include "agent/cron/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "agent/base/text.h"
#include "agent/platform/platform.h"

namespace omvar::cron {

namespace {

// The message, "\r\n" and the NUL.
constexpr std::size_t kMessageRoom = kDebugLineSize - 3;
// The longest way one character is shown: four bytes, each as \xNN.
constexpr std::size_t kLongestShown = 16;

std::size_t hex_escape(unsigned char c, char* out) {
    static const char kDigits[] = "0123456789abcdef";
    out[0] = '\\';
    out[1] = 'x';
    out[2] = kDigits[c >> 4];
    out[3] = kDigits[c & 15];
    return 4;
}

bool is_c0_control(unsigned long code) { return code < 0x20 || code == 0x7f; }

// Code points some readers take as a line break or a terminal command.
bool is_escaped_above_ascii(unsigned long code) {
    return (code >= 0x80 && code <= 0x9f) || code == 0x2028 || code == 0x2029;
}

// How the character at p appears in a line: out gets its text (at most
// kLongestShown bytes), the result is the number of message bytes it takes.
std::size_t shown(const char* p, LineEncoding encoding, char* out, std::size_t* out_length) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '\n' || c == '\t') {
        out[0] = '\\';
        out[1] = c == '\n' ? 'n' : 't';
        *out_length = 2;
        return 1;
    }
    if (is_c0_control(c)) {
        *out_length = hex_escape(c, out);
        return 1;
    }
    if (c < 0x80 || encoding == LineEncoding::kAnsiCodePage) {
        out[0] = static_cast<char>(c);
        *out_length = 1;
        return 1;
    }
    unsigned long code = 0;
    std::size_t length = base::utf8_character(p, &code);
    if (length == 0) {
        *out_length = hex_escape(c, out);
        return 1;
    }
    *out_length = 0;
    for (std::size_t k = 0; k < length; ++k) {
        if (is_escaped_above_ascii(code)) {
            *out_length += hex_escape(static_cast<unsigned char>(p[k]), out + *out_length);
        } else {
            out[(*out_length)++] = p[k];
        }
    }
    return length;
}

LineEncoding platform_encoding() {
    return platform::system_debug_destination() == platform::DebugDestination::kStandardError
               ? LineEncoding::kUtf8
               : LineEncoding::kAnsiCodePage;
}

}  // namespace

void format_debug_line(const char* message, LineEncoding encoding, char (&line)[kDebugLineSize]) {
    // A longer message is cut, never an escape or a character within it, so a
    // "found" line with a long path still says which trigger it was.
    std::size_t length = 0;
    for (const char* p = message; *p != '\0';) {
        char piece[kLongestShown];
        std::size_t size = 0;
        std::size_t used = shown(p, encoding, piece, &size);
        if (length + size > kMessageRoom) {
            break;
        }
        std::memcpy(line + length, piece, size);
        length += size;
        p += used;
    }
    line[length] = '\r';
    line[length + 1] = '\n';
    line[length + 2] = '\0';
}

void debug_log(const char* format, ...) {
    char message[kDebugLineSize];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (n < 0) {
        message[0] = '\0';
    }
    char line[kDebugLineSize];
    format_debug_line(message, platform_encoding(), line);
    platform::debug_output(line);
}

}  // namespace omvar::cron
