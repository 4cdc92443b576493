// Small text helpers shared by every layer of the agent and its tools.
#pragma once

#include <cstddef>

namespace omvar::base {

// 'A'..'Z' to 'a'..'z'; every other byte (non-ASCII ones too) unchanged.
char ascii_lower(char c);

// ASCII letters compare without regard to case on both sides; every other byte
// must be equal. None of them read past either text's NUL.
bool equals_ignoring_case(const char* a, const char* b);
bool starts_with_ignoring_case(const char* text, const char* prefix);
bool ends_with_ignoring_case(const char* text, const char* suffix);

// True when the name's extension, the part from its last "." on, equals the
// given one (".zbs") without regard to ASCII case. A name without "." has none.
bool has_extension(const char* name, const char* extension);

// The UTF-8 character at text: its length in bytes (1 to 4) with its code point
// in *code, or 0 when the bytes there do not form one (a NUL, a stray
// continuation byte, a sequence cut short, an overlong form, a surrogate, a
// value above U+10FFFF). Reads no further than a NUL.
std::size_t utf8_character(const char* text, unsigned long* code);

// snprintf into a fixed buffer, telling whether the whole result fitted: false
// on truncation or an encoding error, and then the text must not be used.
bool format_checked(char* out, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace omvar::base
