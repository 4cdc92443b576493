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

bool format_checked(char* out, std::size_t size, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out, size, format, args);
    va_end(args);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

}  // namespace omvar::base
