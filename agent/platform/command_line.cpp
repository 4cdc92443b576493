#include "agent/platform/command_line.h"

namespace omvar::platform {

namespace {

// Appends to the record's text, always keeping one byte for the closing NUL of
// the argument being written, so that nothing ever lands past the buffer.
struct ArgWriter {
    CommandLineArgs* out;
    std::size_t used;
};

bool start_arg(ArgWriter* w) {
    CommandLineArgs* out = w->out;
    if (static_cast<std::size_t>(out->count) >= kMaxArgs || w->used >= kArgTextSize) {
        out->truncated = true;
        return false;
    }
    out->argv[out->count++] = out->text + w->used;
    return true;
}

bool put(ArgWriter* w, char c) {
    if (w->used + 1 >= kArgTextSize) {
        w->out->truncated = true;
        return false;
    }
    w->out->text[w->used++] = c;
    return true;
}

bool put_backslashes(ArgWriter* w, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        if (!put(w, '\\')) {
            return false;
        }
    }
    return true;
}

void end_arg(ArgWriter* w) { w->out->text[w->used++] = '\0'; }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::size_t skip_blanks(const char* line, std::size_t i, std::size_t n) {
    while (i < n && is_blank(line[i])) {
        ++i;
    }
    return i;
}

// The program name: quotes only group, backslashes are path characters.
bool split_program(const char* line, std::size_t* pos, std::size_t n, ArgWriter* w) {
    std::size_t i = *pos;
    bool quoted = false;
    bool ok = true;
    while (i < n && ok) {
        char c = line[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && is_blank(c)) {
            break;
        } else {
            ok = put(w, c);
        }
        ++i;
    }
    end_arg(w);
    *pos = i;
    return ok;
}

bool split_argument(const char* line, std::size_t* pos, std::size_t n, ArgWriter* w) {
    std::size_t i = *pos;
    bool quoted = false;
    bool ok = true;
    while (i < n && ok) {
        char c = line[i];
        if (!quoted && is_blank(c)) {
            break;
        }
        if (c == '\\') {
            std::size_t j = i;
            while (j < n && line[j] == '\\') {
                ++j;
            }
            std::size_t run = j - i;
            if (j < n && line[j] == '"') {
                ok = put_backslashes(w, run / 2);
                if (ok && run % 2 == 1) {
                    ok = put(w, '"');
                    ++j;  // the escaped quote is used up; an even run leaves it to the next pass
                }
            } else {
                ok = put_backslashes(w, run);
            }
            i = j;
        } else if (c == '"') {
            if (quoted && i + 1 < n && line[i + 1] == '"') {
                ok = put(w, '"');
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            ok = put(w, c);
            ++i;
        }
    }
    end_arg(w);
    *pos = i;
    return ok;
}

}  // namespace

bool split_command_line(const char* line, std::size_t length, CommandLineArgs* out) {
    out->count = 0;
    out->truncated = false;
    for (std::size_t k = 0; k <= kMaxArgs; ++k) {
        out->argv[k] = nullptr;
    }
    out->text[0] = '\0';

    std::size_t n = 0;
    while (n < length && line[n] != '\0') {
        ++n;
    }

    ArgWriter w{out, 0};
    std::size_t i = skip_blanks(line, 0, n);
    if (i == n) {
        return true;
    }
    if (!start_arg(&w) || !split_program(line, &i, n, &w)) {
        return false;
    }
    for (;;) {
        i = skip_blanks(line, i, n);
        if (i == n) {
            return true;
        }
        if (!start_arg(&w) || !split_argument(line, &i, n, &w)) {
            return false;
        }
    }
}

bool split_command_line(const char* line, CommandLineArgs* out) {
    std::size_t n = 0;
    while (line[n] != '\0') {
        ++n;
    }
    return split_command_line(line, n, out);
}

}  // namespace omvar::platform
