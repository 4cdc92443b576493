#include "tools/zbs/json.h"

#include <cstdio>
#include <string>
#include <vector>

#include "agent/base/text.h"

namespace omvar::zbs {

namespace {

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
            // The string's own terminator ends a sequence cut short at its end.
            unsigned long code = 0;
            std::size_t n = base::utf8_character(bytes.c_str() + i, &code);
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
