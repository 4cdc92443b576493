// The key file and the schedule key, on every platform.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "agent/crypt/key_file.h"
#include "crypt_test_portable.h"

namespace omvar::test {
namespace {

TEST(KeyFile, FirstLoadCreatesRandomFileAndUsesItsWindows) {
    InstallDir install;
    std::string key = load_key();
    ASSERT_EQ(key.size(), 32u);

    const auto status = std::filesystem::symlink_status(install.key_path());
    EXPECT_EQ(status.type(), std::filesystem::file_type::regular);
    EXPECT_EQ(std::filesystem::file_size(install.key_path()), 4096u);
    // Owner-only mode bits: see the POSIX tests.

    std::string bytes = read_file(install.key_path());
    EXPECT_EQ(key, key_from_file_bytes(bytes));
    // Random bytes, not a constant fill.
    EXPECT_NE(bytes.find_first_not_of(bytes[0]), std::string::npos);
}

TEST(KeyFile, ExistingFileIsReadThroughTheAgreedTable) {
    InstallDir install;
    std::string expected = install.use_known_key();
    EXPECT_EQ(load_key(), expected);
    EXPECT_EQ(to_hex(expected.substr(0, 4)), to_hex(known_key_file_bytes().substr(3900, 4)));
}

TEST(KeyFile, KeyIsReadOnceAndKeptAfterTheFileChangesOrGoes) {
    InstallDir install;
    std::string expected = install.use_known_key();
    ASSERT_EQ(load_key(), expected);

    write_file(install.key_path(), std::string(4096, 'z'));
    EXPECT_EQ(load_key(), expected);

    ASSERT_TRUE(std::filesystem::remove(install.key_path()));
    EXPECT_EQ(load_key(), expected);
    EXPECT_FALSE(file_exists(install.key_path())) << "a cached key never recreates the file";

    crypt::reset_schedule_key_cache();
    EXPECT_EQ(load_key().size(), 32u);
    EXPECT_TRUE(file_exists(install.key_path()));
}

// The key is the caller's directory's: another directory's key file is read,
// not the cached one, and the working directory plays no part in it.
TEST(KeyFile, EachDirectoryGivesItsOwnKey) {
    InstallDir install;
    const std::string here = install.use_known_key();
    ASSERT_EQ(load_key(), here);
    TempDir other;
    std::filesystem::create_directory(other.file("etc"));
    write_file(other.file("etc/omvar.ak"), std::string(4096, 'z'));
    unsigned char key[crypt::kScheduleKeySize] = {};
    ASSERT_EQ(crypt::read_existing_schedule_key(other.path().c_str(), key), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), sizeof key), std::string(32, 'z'));
    EXPECT_EQ(load_key(), here);
}

TEST(KeyFile, ShortFileFailsEveryCallAndIsLeftAlone) {
    InstallDir install;
    // One byte short of the last window (3900..3903).
    std::string short_bytes = known_key_file_bytes(3903);
    write_file(install.key_path(), short_bytes);
    EXPECT_EQ(load_key(), "");
    EXPECT_EQ(load_key(), "");
    EXPECT_EQ(read_file(install.key_path()), short_bytes);

    // Nothing was cached: a repaired file is read at the next call.
    std::string repaired = known_key_file_bytes(3904);
    write_file(install.key_path(), repaired);
    EXPECT_EQ(load_key(), key_from_file_bytes(repaired));
}

TEST(KeyFile, UnusableKeyPathsFailWithoutTouchingAnything) {
    const UnusableKeyPath cases[] = {
        {"directory",
         [](const InstallDir& install, const std::string&) {
             ASSERT_TRUE(std::filesystem::create_directory(install.key_path()));
         }},
        {"no etc directory",
         [](const InstallDir& install, const std::string&) {
             ASSERT_TRUE(std::filesystem::remove(install.file("etc")));
         }},
    };
    expect_unusable_key_paths_refused(cases);
}

TEST(KeyFile, CreateNeverReplacesAnExistingFile) {
    InstallDir install;
    write_file(install.key_path(), "old");
    EXPECT_EQ(crypt::create_key_file("."), -1);
    EXPECT_EQ(read_file(install.key_path()), "old");
}

}  // namespace
}  // namespace omvar::test
