// The wildcard pattern that lists a whole directory with the Windows search.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "agent/platform/win32/search_pattern.h"

namespace {

using omvar::platform::build_search_pattern;

struct Case {
    const char* dir;
    const char* pattern;
};

const Case kCases[] = {
    {".", "*"},
    {"C:\\Apps\\Backup/etc", "C:\\Apps\\Backup/etc\\*"},
    {"C:\\Apps\\Backup\\etc", "C:\\Apps\\Backup\\etc\\*"},
    {"C:\\Apps\\Backup\\etc\\", "C:\\Apps\\Backup\\etc\\*"},
    // A drive prefix gets exactly one backslash, however many followed it.
    {"C:Apps\\etc", "C:\\Apps\\etc\\*"},
    {"C:\\\\\\Apps\\etc", "C:\\Apps\\etc\\*"},
    {"C:", "C:\\*"},
    {"C:\\", "C:\\*"},
    // A network path keeps its two leading backslashes.
    {"\\\\server\\share\\etc", "\\\\server\\share\\etc\\*"},
    {"\\\\\\server\\share", "\\\\server\\share\\*"},
    // One leading backslash is dropped; runs inside become one.
    {"\\Apps\\etc", "Apps\\etc\\*"},
    {"Apps\\\\\\etc", "Apps\\etc\\*"},
    // Forward slashes are left as they are.
    {"/opt/omvar/etc", "/opt/omvar/etc\\*"},
    {"/opt/omvar/etc/", "/opt/omvar/etc/\\*"},
    {"./etc", "./etc\\*"},
    {"..", "..\\*"},
    {"", "\\*"},
    {"\\", "\\*"},
};

TEST(SearchPattern, Table) {
    for (const Case& c : kCases) {
        char out[1024];
        ASSERT_TRUE(build_search_pattern(c.dir, out, sizeof out)) << c.dir;
        EXPECT_STREQ(out, c.pattern) << "dir \"" << c.dir << '"';
    }
}

// The pattern needs the directory, "\*" and its NUL: one byte less and it is
// refused, never cut.
TEST(SearchPattern, RefusesWhatDoesNotFit) {
    const std::string dir(1021, 'a');
    char out[1024];
    ASSERT_TRUE(build_search_pattern(dir.c_str(), out, dir.size() + 3));
    EXPECT_EQ(std::string(out), dir + "\\*");

    char small[1024];
    std::memset(small, 'x', sizeof small);
    EXPECT_FALSE(build_search_pattern(dir.c_str(), small, dir.size() + 2));
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(small[dir.size() + 2], 'x') << "written past the buffer";

    EXPECT_FALSE(build_search_pattern("C:\\x", small, 4));
    EXPECT_EQ(small[0], '\0');
    EXPECT_FALSE(build_search_pattern("anything", small, 0));
}

}  // namespace
