#include "agent/base/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace omvar::base {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_case(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (ascii_lower(*a) != ascii_lower(*b)) {
            return false;
        }
    }
    return *a == '\0' && *b == '\0';
}

bool starts_with_ignoring_case(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        // A text that ends first fails here: its NUL equals no folded prefix byte.
        if (ascii_lower(*text) != ascii_lower(*prefix)) {
            return false;
        }
    }
    return true;
}

bool ends_with_ignoring_case(const char* text, const char* suffix) {
    std::size_t n = std::strlen(text);
    std::size_t m = std::strlen(suffix);
    return m <= n && equals_ignoring_case(text + n - m, suffix);
}

bool has_extension(const char* name, const char* extension) {
    const char* dot = std::strrchr(name, '.');
    return dot != nullptr && equals_ignoring_case(dot, extension);
}

std::size_t utf8_character(const char* text, unsigned long* code) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::size_t length = 0;
    unsigned long value = 0;
    if (p[0] == 0) {
        return 0;
    }
    if (p[0] < 0x80) {
        length = 1;
        value = p[0];
    } else if (p[0] >= 0xc2 && p[0] <= 0xdf) {
        length = 2;
        value = p[0] & 0x1fU;
    } else if (p[0] >= 0xe0 && p[0] <= 0xef) {
        length = 3;
        value = p[0] & 0x0fU;
    } else if (p[0] >= 0xf0 && p[0] <= 0xf4) {
        length = 4;
        value = p[0] & 0x07U;
    } else {
        return 0;  // a continuation byte, or a lead byte no valid character starts with
    }
    for (std::size_t k = 1; k < length; ++k) {
        // A NUL fails here as any other byte that is no continuation byte.
        if ((p[k] & 0xc0U) != 0x80U) {
            return 0;
        }
        value = (value << 6) | (p[k] & 0x3fU);
    }
    const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
    const bool surrogate = value >= 0xd800 && value <= 0xdfff;
    if (overlong || surrogate || value > 0x10ffff) {
        return 0;
    }
    *code = value;
    return length;
}

bool format_checked(char* out, std::size_t size, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out, size, format, args);
    va_end(args);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

}  // namespace omvar::base
