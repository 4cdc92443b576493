#include "tools/zbs/json.h"

#include <cstdio>
#include <string>
#include <vector>

namespace omvar::zbs {

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when there is none
// (overlong forms, surrogates and values above U+10FFFF are not valid).
std::size_t utf8_sequence(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    std::size_t n = 0;
    unsigned long code = 0;
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
        code = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        code = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3f);
    }
    const bool overlong = (n == 3 && code < 0x800) || (n == 4 && code < 0x10000);
    const bool surrogate = code >= 0xd800 && code <= 0xdfff;
    return (overlong || surrogate || code > 0x10ffff) ? 0 : n;
}

std::string unicode_escape(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", value);
    return text;
}

}  // namespace

std::string json_string(const std::string& bytes) {
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x80) {
            std::size_t n = utf8_sequence(bytes, i);
            if (n == 0) {
                out += unicode_escape(0xdc00U + c);
                ++i;
            } else {
                out.append(bytes, i, n);
                i += n;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    out += unicode_escape(c);
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    return out + "\"";
}

std::string json_string_or_null(const std::string& text) { return text.empty() ? "null" : json_string(text); }

std::string warnings_json(const std::vector<Warning>& warnings) {
    std::string out = "[";
    for (std::size_t i = 0; i < warnings.size(); ++i) {
        const Warning& w = warnings[i];
        out += (i == 0 ? "" : ",");
        // "field" names the first field concerned, "fields" all of them.
        std::string fields = "[";
        fields += w.field.empty() ? "" : json_string(w.field);
        fields += w.second_field.empty() ? "" : "," + json_string(w.second_field);
        out += "{\"field\":" + json_string_or_null(w.field) + ",\"fields\":" + fields +
               "],\"item\":" + json_string_or_null(w.item) + ",\"message\":" + json_string(w.message) + "}";
    }
    return out + "]";
}

}  // namespace omvar::zbs
