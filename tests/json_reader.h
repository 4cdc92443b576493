// A small strict JSON reader for the tests of --json output: it rejects what is
// not JSON (so the tests catch malformed output) and keeps objects' key order.
#pragma once

#include <cctype>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace omvar::test {

struct Json {
    enum class Type { kNull, kBool, kNumber, kString, kArray, kObject } type = Type::kNull;
    bool boolean = false;
    double number = 0;
    std::string text;  // kString: the decoded text (escapes \udcXX kept as the byte XX)
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json& operator[](const std::string& key) const {
        for (const auto& member : members) {
            if (member.first == key) {
                return member.second;
            }
        }
        static const Json kMissing{};
        return kMissing;
    }
    std::vector<std::string> keys() const {
        std::vector<std::string> out;
        for (const auto& member : members) {
            out.push_back(member.first);
        }
        return out;
    }
    bool is_null() const { return type == Type::kNull; }
};

class JsonReader {
  public:
    // False when text is not exactly one JSON value.
    static bool parse(const std::string& text, Json* out) {
        JsonReader reader(text);
        reader.blank();
        if (!reader.value(out, 0)) {
            return false;
        }
        reader.blank();
        return reader.pos_ == text.size();
    }

  private:
    explicit JsonReader(const std::string& text) : s_(text) {}

    void blank() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\t' || s_[pos_] == '\r')) {
            ++pos_;
        }
    }
    bool literal(const char* word) {
        std::string w(word);
        if (s_.compare(pos_, w.size(), w) != 0) {
            return false;
        }
        pos_ += w.size();
        return true;
    }
    static void put_utf8(unsigned code, std::string* out) {
        if (code >= 0xdc80 && code <= 0xdcff) {
            *out += static_cast<char>(code - 0xdc00);  // an escaped raw byte
        } else if (code < 0x80) {
            *out += static_cast<char>(code);
        } else if (code < 0x800) {
            *out += static_cast<char>(0xc0 | (code >> 6));
            *out += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            *out += static_cast<char>(0xe0 | (code >> 12));
            *out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            *out += static_cast<char>(0x80 | (code & 0x3f));
        }
    }
    bool string(std::string* out) {
        if (pos_ >= s_.size() || s_[pos_] != '"') {
            return false;
        }
        ++pos_;
        while (pos_ < s_.size()) {
            unsigned char c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c != '\\') {
                *out += static_cast<char>(c);
                continue;
            }
            if (pos_ >= s_.size()) {
                return false;
            }
            char e = s_[pos_++];
            switch (e) {
                case '"':
                    *out += '"';
                    break;
                case '\\':
                    *out += '\\';
                    break;
                case '/':
                    *out += '/';
                    break;
                case 'b':
                    *out += '\b';
                    break;
                case 'f':
                    *out += '\f';
                    break;
                case 'n':
                    *out += '\n';
                    break;
                case 'r':
                    *out += '\r';
                    break;
                case 't':
                    *out += '\t';
                    break;
                case 'u': {
                    if (pos_ + 4 > s_.size()) {
                        return false;
                    }
                    const std::string hex = s_.substr(pos_, 4);
                    for (char h : hex) {
                        if (!std::isxdigit(static_cast<unsigned char>(h))) {
                            return false;
                        }
                    }
                    pos_ += 4;
                    put_utf8(static_cast<unsigned>(std::strtoul(hex.c_str(), nullptr, 16)), out);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }
    bool value(Json* out, int depth) {
        if (depth > 64 || pos_ >= s_.size()) {
            return false;
        }
        char c = s_[pos_];
        if (c == 'n') {
            out->type = Json::Type::kNull;
            return literal("null");
        }
        if (c == 't' || c == 'f') {
            out->type = Json::Type::kBool;
            out->boolean = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == '"') {
            out->type = Json::Type::kString;
            return string(&out->text);
        }
        if (c == '[' || c == '{') {
            const bool object = c == '{';
            out->type = object ? Json::Type::kObject : Json::Type::kArray;
            ++pos_;
            blank();
            if (pos_ < s_.size() && s_[pos_] == (object ? '}' : ']')) {
                ++pos_;
                return true;
            }
            for (;;) {
                blank();
                Json item;
                std::string key;
                if (object) {
                    if (!string(&key)) {
                        return false;
                    }
                    blank();
                    if (pos_ >= s_.size() || s_[pos_++] != ':') {
                        return false;
                    }
                    blank();
                }
                if (!value(&item, depth + 1)) {
                    return false;
                }
                if (object) {
                    out->members.emplace_back(key, std::move(item));
                } else {
                    out->items.push_back(std::move(item));
                }
                blank();
                if (pos_ >= s_.size()) {
                    return false;
                }
                char next = s_[pos_++];
                if (next == (object ? '}' : ']')) {
                    return true;
                }
                if (next != ',') {
                    return false;
                }
            }
        }
        // A number: optional minus, digits, optional fraction and exponent.
        std::size_t start = pos_;
        if (s_[pos_] == '-') {
            ++pos_;
        }
        std::size_t digits = pos_;
        while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
            ++pos_;
        }
        if (pos_ == digits) {
            return false;
        }
        out->type = Json::Type::kNumber;
        out->number = std::strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
        return true;
    }

    const std::string& s_;
    std::size_t pos_ = 0;
};

}  // namespace omvar::test
