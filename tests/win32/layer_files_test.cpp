// Directory search, files, pid file, key file, debugger output and the host
// calls of the Win32 layer, on the file system and kernel that Wine provides.
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "agent/cron/debug_log.h"
#include "agent/cron/hosting.h"
#include "agent/cron/settings.h"
#include "agent/cron/tick_actions.h"
#include "agent/cron/tick_loop.h"
#include "agent/crypt/key_file.h"
#include "agent/platform/inspect.h"
#include "agent/platform/platform.h"
#include "agent/platform/service_host.h"
#include "agent/platform/win32/acl_readers.h"
#include "test_support.h"
#include "win32/win_support.h"

namespace {

using namespace omvar;

void touch(const std::string& path) { test::write_file(path, "x"); }

class Win32Files : public ::testing::Test {
  protected:
    void SetUp() override {
        install_ = wintest::win_path(dir_.path());
        etc_ = install_ + "\\etc";
        CreateDirectoryA(etc_.c_str(), nullptr);
    }
    void TearDown() override { crypt::reset_schedule_key_cache(); }

    test::TempDir dir_;
    std::string install_;
    std::string etc_;
    test::ScopedCwd cwd_;
};

std::set<std::string> list(const char* dir, const char* filter) {
    std::set<std::string> names;
    platform::DirSearch search{};
    platform::DirEntry entry{};
    if (platform::dir_first(dir, filter, &search, &entry) != 0) {
        EXPECT_FALSE(search.open);
        return names;
    }
    do {
        names.insert(entry.name);
    } while (platform::dir_next(&search, &entry) == 0);
    platform::dir_close(&search);
    EXPECT_FALSE(search.open);
    return names;
}

TEST_F(Win32Files, DirectorySearchListsEveryEntryWhateverTheSpelling) {
    for (const char* name : {"a.zbs", "B.ZBS", "Mail.EML", "job.nowx", "x.now"}) {
        touch(etc_ + "\\" + name);
    }
    CreateDirectoryA((etc_ + "\\d.now").c_str(), nullptr);
    const std::set<std::string> all = {".", "..", "a.zbs", "B.ZBS", "Mail.EML", "job.nowx", "x.now", "d.now"};

    std::string doubled = install_;
    doubled.insert(2, "\\\\");  // "C:\\\users..." : runs of backslashes
    const std::string spellings[] = {
        install_ + "/etc",  // the agent's own: backslashes, then a forward slash
        etc_,               // backslashes only
        etc_ + "\\\\",      // trailing backslashes
        doubled + "\\\\etc",
        dir_.path() + "/etc",  // forward slashes after the drive
    };
    for (const std::string& dir : spellings) {
        EXPECT_EQ(list(dir.c_str(), nullptr), all) << dir;
    }
    std::filesystem::current_path(etc_);
    EXPECT_EQ(list(".", nullptr), all) << "\".\" lists the current directory";

    EXPECT_TRUE(list((install_ + "/missing").c_str(), nullptr).empty());
}

TEST_F(Win32Files, DirectoryBitIsReported) {
    CreateDirectoryA((etc_ + "\\d.now").c_str(), nullptr);
    touch(etc_ + "\\f.now");
    platform::DirSearch search{};
    platform::DirEntry entry{};
    ASSERT_EQ(platform::dir_first((install_ + "/etc").c_str(), ".now", &search, &entry), 0);
    std::set<std::string> dirs;
    std::set<std::string> files;
    do {
        (platform::is_directory(entry) ? dirs : files).insert(entry.name);
    } while (platform::dir_next(&search, &entry) == 0);
    platform::dir_close(&search);
    EXPECT_EQ(dirs, std::set<std::string>{"d.now"});
    EXPECT_EQ(files, std::set<std::string>{"f.now"});
}

TEST_F(Win32Files, TriggerSearchIgnoresCaseAndMayMatchShortNames) {
    for (const char* name : {"job.nowx", "Y.NOW", "a.zbs", "now"}) {
        touch(etc_ + "\\" + name);
    }
    std::set<std::string> found = list((install_ + "/etc").c_str(), ".now");
    EXPECT_TRUE(found.count("Y.NOW") == 1);
    EXPECT_EQ(found.count("a.zbs") + found.count("now"), 0u);
    // job.nowx answers too where the system matches 8.3 short names (Windows
    // and Wine do): the poll must check the names it gets.
    for (const std::string& name : found) {
        EXPECT_TRUE(name == "Y.NOW" || name == "job.nowx") << name;
    }
}

TEST_F(Win32Files, PollPassesOverNamesThatOnlyLookLikeTriggers) {
    test::Recorder recorder;  // what the poll hands to the backup engine, without an engine
    touch(etc_ + "\\job.nowx");
    touch(etc_ + "\\job.zbs");
    ASSERT_EQ(cron::agent_init(install_.c_str()), 0);
    // Only meaningful where the search answers "*.now" with the short-name match.
    ASSERT_EQ(list((install_ + "/etc").c_str(), ".now"), std::set<std::string>{"job.nowx"});

    {
        test::DebugCapture debug;
        cron::poll_run_now();
        EXPECT_TRUE(debug.lines().empty());
        EXPECT_TRUE(recorder.requests().empty());
        EXPECT_TRUE(wintest::exists(etc_ + "\\job.nowx")) << "not a trigger: must never be deleted";
    }

    touch(etc_ + "\\Run.zbs.NOW");
    {
        test::DebugCapture debug;
        cron::poll_run_now();
        EXPECT_EQ(debug.lines(), std::vector<std::string>{"found " + install_ + "/etc/Run.zbs.NOW\r\n"});
        EXPECT_EQ(recorder.requests(), std::vector<std::string>{install_ + "/etc/Run.zbs"});
        EXPECT_FALSE(wintest::exists(etc_ + "\\Run.zbs.NOW"));
        EXPECT_TRUE(wintest::exists(etc_ + "\\job.nowx"));
    }
}

TEST_F(Win32Files, DeleteFileRemovesFilesOnly) {
    touch(etc_ + "\\t.now");
    CreateDirectoryA((etc_ + "\\d.now").c_str(), nullptr);
    EXPECT_EQ(platform::delete_file((install_ + "/etc/t.now").c_str()), 0);
    EXPECT_FALSE(wintest::exists(etc_ + "\\t.now"));
    EXPECT_EQ(platform::delete_file((install_ + "/etc/d.now").c_str()), -1);
    EXPECT_TRUE(wintest::exists(etc_ + "\\d.now"));
    EXPECT_EQ(platform::delete_file((install_ + "/etc/none.now").c_str()), -1);
}

namespace pid_loop {
std::atomic<int> flag{1};
std::string path;
std::string seen;
void tick() {
    seen = test::read_file(path);
    flag.store(0);
}
}  // namespace pid_loop

TEST_F(Win32Files, PidFileHoldsThePidAndCrLf) {
    const std::string path = install_ + "/etc/omvarcrond.pid";
    touch(path);  // one left behind by a killed agent is replaced
    static platform::PidFile pid_file;
    int holder = -1;
    ASSERT_EQ(platform::pid_file_acquire(path.c_str(), &pid_file, &holder), platform::PidLock::kAcquired);
    EXPECT_EQ(holder, 0);
    ASSERT_EQ(platform::pid_file_write(&pid_file, 4242), 0);
    EXPECT_EQ(test::read_file(path), "4242\r\n");
    platform::pid_file_release(&pid_file);
    EXPECT_FALSE(wintest::exists(path));

    // The loop writes the agent's own pid and removes the file when it ends.
    ASSERT_EQ(cron::agent_init(install_.c_str()), 0);
    test::FakeClock clock(1700000000);
    pid_loop::path = path;
    pid_loop::seen.clear();
    pid_loop::flag.store(1);
    cron::cron_run_with(&pid_loop::flag, pid_loop::tick);
    EXPECT_EQ(pid_loop::seen, std::to_string(GetCurrentProcessId()) + "\r\n");
    EXPECT_FALSE(wintest::exists(path));
}

TEST_F(Win32Files, KeyFileIsCreatedOnceAndReadThroughDescriptors) {
    // etc\ as under Program Files: its entries, Users' read among them, are inherited.
    ASSERT_TRUE(wintest::set_dacl(etc_, "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"));
    ASSERT_EQ(cron::agent_init(install_.c_str()), 0);
    EXPECT_EQ(platform::file_status(crypt::kKeyFilePath), platform::FileStatus::kMissing);
    unsigned char key[crypt::kScheduleKeySize];
    ASSERT_EQ(crypt::load_schedule_key(".", key), 0);
    const std::string sddl = wintest::dacl_sddl(etc_ + "\\omvar.ak");
    if (wintest::under_wine()) {
        // Wine keeps only what the Unix mode can hold: no entry for Everyone.
        EXPECT_EQ(sddl.find(";WD)"), std::string::npos) << sddl;
        EXPECT_EQ(sddl.rfind("D:", 0), 0u) << sddl;
    } else {
        EXPECT_EQ(sddl, "D:P(A;;FA;;;SY)(A;;FA;;;BA)");
    }
    const std::string bytes = test::read_file(etc_ + "\\omvar.ak");
    ASSERT_EQ(bytes.size(), crypt::kKeyFileSize) << "binary mode: no byte added or lost";
    for (int i = 0; i < crypt::kKeyWindowCount; ++i) {
        EXPECT_EQ(std::string(reinterpret_cast<char*>(key) + i * 4, 4),
                  bytes.substr(crypt::kKeyWindows[i], 4));
    }
    EXPECT_EQ(platform::file_create_exclusive(crypt::kKeyFilePath), -1) << "never an existing file";
    EXPECT_EQ(test::read_file(etc_ + "\\omvar.ak"), bytes);

    const int fd = platform::file_open_read(crypt::kKeyFilePath);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::file_seek(fd, 4095), 0);
    char tail[4];
    EXPECT_EQ(platform::file_read(fd, tail, sizeof tail), 1);
    EXPECT_EQ(platform::file_seek(fd, -1), -1);
    platform::file_close(fd);
}

// The rule omvar-zbs status applies to the key file's access list.
TEST(Win32AccessList, OnlyEntriesThatLetEveryUserReadOpenIt) {
    const struct {
        const char* sddl;
        bool open;
    } cases[] = {
        {"D:P(A;;FA;;;SY)(A;;FA;;;BA)", false},                  // as the agent creates it
        {"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;WD)", true},  // Everyone may read and run it
        {"D:(A;;GR;;;BU)", true},                                // Users, by a generic right
        {"D:(A;;FR;;;AU)", true},                                // Authenticated Users
        {"D:(A;;WD;;;IU)", true},                                // Interactive may rewrite the list
        {"D:(A;OICIIO;GA;;;BU)", false},                         // for the children of a folder only
        {"D:(A;;FW;;;BU)(A;;FA;;;S-1-5-21-1-2-3-1001)", false},  // writing; one named user
    };
    for (const auto& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl, SDDL_REVISION_1, &descriptor,
                                                                         nullptr))
            << c.sddl;
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) << c.sddl;
        EXPECT_EQ(platform::acl_lets_others_read(present ? dacl : nullptr), c.open) << c.sddl;
        LocalFree(descriptor);
    }
    // No list at all lets everyone do anything (Wine reads "D:NO_ACCESS_CONTROL" as an empty one).
    EXPECT_TRUE(platform::acl_lets_others_read(nullptr));
}

TEST_F(Win32Files, OnlyFilesOnDiskAreOpenedForReading) {
    touch(etc_ + "\\job.zbs");
    CreateDirectoryA((etc_ + "\\dir.zbs").c_str(), nullptr);
    std::FILE* file = platform::open_regular_file((install_ + "/etc/job.zbs").c_str());
    EXPECT_NE(file, nullptr);
    if (file != nullptr) {
        std::fclose(file);
    }
    const int fd = platform::file_open_regular((install_ + "/etc/job.zbs").c_str());
    EXPECT_GE(fd, 0);
    platform::file_close(fd);
    for (const std::string& path :
         {install_ + "/etc/dir.zbs", std::string("NUL"), install_ + "/etc/none.zbs"}) {
        std::FILE* f = platform::open_regular_file(path.c_str());
        EXPECT_EQ(f, nullptr) << path;
        if (f != nullptr) {
            std::fclose(f);
        }
        const int d = platform::file_open_regular(path.c_str());
        EXPECT_EQ(d, -1) << path;
        platform::file_close(d);
    }
}

TEST_F(Win32Files, ChangeDirectory) {
    EXPECT_EQ(platform::change_directory(etc_.c_str()), 0);
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), etc_));
    EXPECT_EQ(platform::change_directory((install_ + "\\gone").c_str()), -1);
    EXPECT_EQ(platform::change_directory(("\"" + install_ + "\"").c_str()), -1)
        << "quotes are part of the path";
}

TEST(Win32DebugOutput, LinesReachADebuggerOutputListener) {
    wintest::DbwinListener listener;
    ASSERT_TRUE(listener.listening());
    const DWORD pid = GetCurrentProcessId();
    cron::debug_log("found %s", "C:\\Apps\\Backup/etc/job.zbs.now");
    const std::string long_path(400, 'q');
    cron::debug_log("found %s", long_path.c_str());
    ASSERT_EQ(cron::agent_init("C:\\omvar-not-there"), 1);

    const std::vector<std::string> expected = {
        "found C:\\Apps\\Backup/etc/job.zbs.now\r\n",
        "found " + long_path.substr(0, 253 - 6) + "\r\n",  // cut to the 256-byte line
        "agent\\cron\\cron:167\r\n",
    };
    ASSERT_TRUE(
        listener.wait_for([&](const wintest::DebugLine& l) { return l.text == expected.back(); }, 5000));
    std::vector<std::string> ours;
    for (const wintest::DebugLine& line : listener.lines()) {
        if (line.pid == pid) {
            ours.push_back(line.text);
        }
    }
    EXPECT_EQ(ours, expected);
}

TEST(Win32Host, VersionQueryReportsTheNtFamily) {
    // The system's own host is in force unless a test stands in for it.
    EXPECT_EQ(cron::detect_platform(), cron::kPlatformNt);
}

// The PE header's subsystem field: 2 graphical, 3 console.
int subsystem_of(const std::string& exe) {
    std::string image = test::read_file(exe);
    if (image.size() < 0x40) {
        return -1;
    }
    std::uint32_t pe = 0;
    std::memcpy(&pe, image.data() + 0x3c, sizeof pe);
    const std::size_t field = pe + 4 + 20 + 68;
    if (image.size() < field + 2 || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        return -1;
    }
    std::uint16_t subsystem = 0;
    std::memcpy(&subsystem, image.data() + field, sizeof subsystem);
    return subsystem;
}

TEST(Win32Executables, AgentIsGraphicalAndToolIsConsole) {
    EXPECT_EQ(subsystem_of(wintest::cron_exe()), IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(subsystem_of(wintest::zbs_exe()), IMAGE_SUBSYSTEM_WINDOWS_CUI);
}

}  // namespace
