#include <windows.h>

#include <cstring>

#include "agent/base/text.h"
#include "agent/platform/system.h"
#include "agent/platform/win32/search_pattern.h"

namespace omvar::platform {

namespace {

constexpr std::size_t kPatternSize = 1024;

static_assert(sizeof(WIN32_FIND_DATAA{}.cFileName) == kEntryNameSize, "entry names are MAX_PATH bytes");

// Every entry: the directory's wildcard pattern. With a filter: "<dir>/*<filter>",
// the system's own wildcard; it also matches 8.3 short names (a "*.now" search
// finds "job.nowx"), so callers check the names they get.
bool build_pattern(const char* dir, const char* extension_filter, char* out, std::size_t size) {
    if (extension_filter == nullptr) {
        return platform::build_search_pattern(dir, out, size);
    }
    return base::format_checked(out, size, "%s/*%s", dir, extension_filter);
}

void copy_entry(const WIN32_FIND_DATAA& found, DirEntry* entry) {
    std::memcpy(entry->name, found.cFileName, sizeof entry->name);
    entry->name[sizeof entry->name - 1] = '\0';
    entry->directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

int dir_first(const char* dir, const char* extension_filter, DirSearch* search, DirEntry* entry) {
    search->handle = 0;
    search->open = false;
    search->listed = false;  // never needed: every poll searches
    // The system filters by itself; the filter is kept only for callers that look.
    search->extension_filter = extension_filter;
    char pattern[kPatternSize];
    if (!build_pattern(dir, extension_filter, pattern, sizeof pattern)) {
        return -1;
    }
    WIN32_FIND_DATAA found;
    HANDLE handle = FindFirstFileA(pattern, &found);
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    search->handle = reinterpret_cast<std::intptr_t>(handle);
    search->open = true;
    copy_entry(found, entry);
    return 0;
}

int dir_next(DirSearch* search, DirEntry* entry) {
    if (!search->open) {
        return -1;
    }
    WIN32_FIND_DATAA found;
    if (!FindNextFileA(reinterpret_cast<HANDLE>(search->handle), &found)) {
        return -1;
    }
    copy_entry(found, entry);
    return 0;
}

void dir_close(DirSearch* search) {
    if (search->open) {
        FindClose(reinterpret_cast<HANDLE>(search->handle));
        search->open = false;
        search->handle = 0;
    }
}

// Every poll searches: the search answers for the whole directory at once, and
// a missed change notification must never delay a trigger.
bool system::dir_watch_unchanged(const char*, const char*) { return false; }
void system::dir_watch_settle(const char*) {}
void system::dir_watch_forget() {}

}  // namespace omvar::platform
