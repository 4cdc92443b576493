// The shared ASCII text helpers: one contract for every caller, letters folded
// on both sides, nothing else folded, nothing read past a text's end.
#include <gtest/gtest.h>

#include <string>

#include "agent/base/text.h"
#include "agent/crypt/key_file.h"

namespace {

using omvar::base::ascii_lower;
using omvar::base::ends_with_ignoring_case;
using omvar::base::equals_ignoring_case;
using omvar::base::has_extension;
using omvar::base::starts_with_ignoring_case;

TEST(BaseText, AsciiLowerFoldsOnlyAsciiCapitals) {
    for (int c = -128; c < 128; ++c) {
        char ch = static_cast<char>(c);
        char expected = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
        EXPECT_EQ(ascii_lower(ch), expected) << c;
    }
}

TEST(BaseText, ComparisonsIgnoreAsciiCaseOnEitherSide) {
    struct Case {
        std::string a;
        std::string b;
        bool equals;
        bool starts;  // a starts with b
        bool ends;    // a ends with b
    };
    const Case cases[] = {
        {"job.ZBS", "job.zbs", true, true, true},
        {"job.zbs", "JOB.ZBS", true, true, true},  // the second text need not be lower case
        {"Sun", "sUN", true, true, true},
        {"", "", true, true, true},
        {"x.now", ".NOW", false, false, true},
        {".now", "x.now", false, false, false},  // the suffix is longer than the text
        {"Schedule=0 2 * * *", "schedule=", false, true, false},
        {"schedule", "schedule=", false, false, false},  // text ends inside the prefix
        {"abc", "", false, true, true},
        {"", "a", false, false, false},
        {"job.zb", "job.zbs", false, false, false},
        {"job.zbs", "job.zb", false, true, false},
        // Only ASCII letters fold: '@' and '`' sit next to 'A' and 'a', and a
        // Latin-1 capital is not its small letter.
        {"@", "`", false, false, false},
        {"[", "{", false, false, false},
        {"\xc4", "\xe4", false, false, false},
        {"caf\xc9", "CAF\xc9", true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.a + "' / '" + c.b + "'");
        EXPECT_EQ(equals_ignoring_case(c.a.c_str(), c.b.c_str()), c.equals);
        EXPECT_EQ(equals_ignoring_case(c.b.c_str(), c.a.c_str()), c.equals);
        EXPECT_EQ(starts_with_ignoring_case(c.a.c_str(), c.b.c_str()), c.starts);
        EXPECT_EQ(ends_with_ignoring_case(c.a.c_str(), c.b.c_str()), c.ends);
    }
}

// The extension is the part from the last "."; the agent's scan and omvar-zbs
// list both sort entries by it.
TEST(BaseText, ExtensionIsThePartFromTheLastDot) {
    struct Case {
        const char* name;
        const char* extension;
        bool has;
    };
    const Case cases[] = {
        {"job.zbs", ".zbs", true},    {"JOB.ZBS", ".zbs", true},   {".zbs", ".zbs", true},
        {"a.zbs.bak", ".zbs", false}, {"a.bak.zbs", ".zbs", true}, {"zbs", ".zbs", false},
        {"job.zbsx", ".zbs", false},  {"job.", ".zbs", false},     {"mail.Eml", ".eml", true},
        {"x.now.zbs", ".now", false}, {"", ".zbs", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(has_extension(c.name, c.extension), c.has) << c.name;
    }
}

// The length that every program sharing a key file relies on, derived from the
// key-window table rather than written down a second time.
TEST(KeyWindows, ShortestUsableKeyFileFollowsTheTable) {
    EXPECT_EQ(omvar::crypt::kKeyFileMinLength, 3904);
    EXPECT_LE(omvar::crypt::kKeyFileMinLength, static_cast<long>(omvar::crypt::kKeyFileSize));
}

}  // namespace
