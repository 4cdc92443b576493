#include "agent/platform/win32/search_pattern.h"

#include <cstring>

namespace omvar::platform {

namespace {

struct Writer {
    char* out;
    std::size_t size;
    std::size_t length;
    bool full;

    void put(char c) {
        if (length + 1 >= size) {
            full = true;
            return;
        }
        out[length++] = c;
        out[length] = '\0';
    }
    char last() const { return length > 0 ? out[length - 1] : '\0'; }
};

}  // namespace

bool build_search_pattern(const char* dir, char* out, std::size_t size) {
    if (size == 0) {
        return false;
    }
    out[0] = '\0';
    Writer w{out, size, 0, false};

    if (std::strcmp(dir, ".") == 0) {
        w.put('*');
        return !w.full;
    }

    const char* rest = dir;
    if (dir[0] != '\0' && dir[1] == ':') {
        w.put(dir[0]);
        w.put(':');
        w.put('\\');
        rest = dir + 2;
    } else if (dir[0] == '\\' && dir[1] == '\\') {
        w.put('\\');
        w.put('\\');
        rest = dir + 2;
    }
    while (*rest == '\\') {
        ++rest;
    }
    for (; *rest != '\0'; ++rest) {
        if (*rest == '\\' && w.last() == '\\') {
            continue;
        }
        w.put(*rest);
    }
    if (w.last() != '\\') {
        w.put('\\');
    }
    w.put('*');
    if (w.full) {
        out[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace omvar::platform
