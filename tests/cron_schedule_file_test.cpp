#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/cron/schedule_file.h"
#include "agent/dispatch/backup_channel.h"
#include "agent/platform/platform.h"
#include "crypt_test_portable.h"
#include "test_support.h"

namespace omvar::test {
namespace {

// Monday 5 January 2009, 02:00.
std::tm monday_0200() {
    std::tm t{};
    t.tm_min = 0;
    t.tm_hour = 2;
    t.tm_mday = 5;
    t.tm_mon = 0;
    t.tm_year = 109;
    t.tm_wday = 1;
    return t;
}

// The backup engine's mailslot always opens; the engine is never started.
class ScheduleFileTest : public ::testing::Test {
  protected:
    Recorder recorder;
    InstallDir install;
    std::string key = install.use_known_key();
    std::string scan_dir = install.file("etc");

    void SetUp() override { recorder.launch_result = -1; }

    void write_schedule(const std::string& name, const std::string& plain, const std::string& with_key) {
        std::string plain_path = install.file("plain");
        write_file(plain_path, plain);
        ASSERT_TRUE(encrypt_file(with_key, plain_path, scan_dir + "/" + name));
    }

    // The paths submitted while evaluating one entry; checks the wire messages.
    std::vector<std::string> evaluate(const std::string& name, bool directory = false,
                                      std::tm t = monday_0200()) {
        recorder.calls.clear();
        platform::DirEntry entry{};
        std::snprintf(entry.name, sizeof entry.name, "%s", name.c_str());
        entry.directory = directory;
        cron::evaluate_schedule_file(scan_dir.c_str(), &entry, &t);
        std::vector<std::string> paths;
        const std::vector<std::string> m = recorder.messages();
        for (std::size_t i = 0; i + 1 < m.size(); i += 2) {
            EXPECT_EQ(m[i], std::string(1, '\0')) << "probe before every request";
            EXPECT_EQ(m[i + 1].back(), '\0');
            paths.push_back(m[i + 1].substr(0, m[i + 1].size() - 1));
        }
        EXPECT_EQ(m.size() % 2, 0u);
        return paths;
    }
};

TEST_F(ScheduleFileTest, HeaderAndScheduleLineRules) {
    const std::string header = "# Omvar Backup Schedule\n";
    const std::string due = "schedule=0 2 * * *\n";
    const std::string not_due = "schedule=1 2 * * *\n";
    struct Case {
        const char* what;
        std::string plain;
        bool submitted;
    };
    const Case cases[] = {
        {"plain header", header + due, true},
        {"header with a version word", "# Omvar Backup Schedule 2.1\n" + due, true},
        {"header with CR LF and other lines first", "# Omvar Backup Schedule\r\njob=x\nschedule x\n" + due,
         true},
        {"expression followed by CR LF", header + "schedule=0 2 * * *\r\n", true},
        {"upper-case prefix", header + "SCHEDULE=0 2 * * *\n", true},
        {"mixed-case prefix, no final line feed", header + "Schedule=0 2 mon 0 2009", true},
        {"header in other case", "# omvar backup schedule\n" + due, false},
        {"header after a blank", " # Omvar Backup Schedule\n" + due, false},
        {"header after a byte-order mark", "\xEF\xBB\xBF# Omvar Backup Schedule\n" + due, false},
        {"header cut short", "# Omvar Backup Schedul\n" + due, false},
        {"schedule line before the header", due + header, false},
        {"no schedule line", header + "job=x\n", false},
        {"header only", "# Omvar Backup Schedule", false},
        {"first schedule line counts, not the second", header + not_due + due, false},
        {"blank before the prefix", header + " schedule=0 2 * * *\n", false},
        {"expression not due", header + not_due, false},
        {"empty plaintext", "", false},
        {"a piece of a long line that begins with the prefix",
         header + std::string(1023, 'x') + "schedule=0 2 * * *\n", true},
        {"prefix inside a long line's first piece", header + std::string(1000, 'x') + "schedule=0 2 * * *\n",
         false},
        {"carriage return inside the expression cuts it", header + "schedule=0 2 * *\r *\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_schedule("job.zbs", c.plain, key);
        std::vector<std::string> expected;
        if (c.submitted) {
            expected.push_back(scan_dir + "/job.zbs");
        }
        EXPECT_EQ(evaluate("job.zbs"), expected);
    }
    EXPECT_EQ(recorder.count(Recorder::Call::kLaunch), 0);
}

TEST_F(ScheduleFileTest, RequestCarriesTheNameAsFoundAndGoesToTheBackupMailslot) {
    write_schedule("Nightly.ZBS", "# Omvar Backup Schedule\nschedule=0 2 * * *\n", key);
    EXPECT_EQ(evaluate("Nightly.ZBS"), std::vector<std::string>{scan_dir + "/Nightly.ZBS"});
    ASSERT_EQ(recorder.count(Recorder::Call::kOpen), 1);
    EXPECT_EQ(recorder.calls.front().text, dispatch::kBackupMailslot);

    std::tm later = monday_0200();
    later.tm_min = 1;
    EXPECT_TRUE(evaluate("Nightly.ZBS", 0, later).empty());
}

TEST_F(ScheduleFileTest, FilesThatAreNotScheduleFilesAreSkippedSilently) {
    DebugCapture debug;
    const std::string good = "# Omvar Backup Schedule\nschedule=* * * * *\n";
    // Under another key.
    write_schedule("other.zbs", good, std::string(32, 'q'));
    EXPECT_TRUE(evaluate("other.zbs").empty());
    // Not encrypted at all.
    write_file(scan_dir + "/plain.zbs", good);
    EXPECT_TRUE(evaluate("plain.zbs").empty());
    // Zero bytes.
    write_file(scan_dir + "/empty.zbs", "");
    EXPECT_TRUE(evaluate("empty.zbs").empty());
    // Gone before it could be opened.
    EXPECT_TRUE(evaluate("missing.zbs").empty());
    EXPECT_TRUE(debug.lines().empty());
    EXPECT_EQ(recorder.count(Recorder::Call::kLaunch), 0);
}

TEST_F(ScheduleFileTest, DirectoriesAndSpecialFilesAreNeverRead) {
    ASSERT_TRUE(std::filesystem::create_directory(scan_dir + "/job.zbs"));
    EXPECT_TRUE(evaluate("job.zbs", true).empty());
    // Even when the entry does not say so.
    EXPECT_TRUE(evaluate("job.zbs", false).empty());
    // FIFOs: see the POSIX tests.
    // The entry's word alone is enough to skip a real schedule file.
    write_schedule("flagged.zbs", "# Omvar Backup Schedule\nschedule=* * * * *\n", key);
    EXPECT_TRUE(evaluate("flagged.zbs", true).empty());
}

TEST_F(ScheduleFileTest, PathThatWouldNotFitIsSkipped) {
    write_schedule("job.zbs", "# Omvar Backup Schedule\nschedule=* * * * *\n", key);
    std::string long_dir = scan_dir;
    while (long_dir.size() < 1020) {
        long_dir += "/.";
    }
    platform::DirEntry entry{};
    std::snprintf(entry.name, sizeof entry.name, "job.zbs");
    std::tm t = monday_0200();
    cron::evaluate_schedule_file(long_dir.c_str(), &entry, &t);
    EXPECT_TRUE(recorder.messages().empty());
}

TEST(ScheduleFileKey, FirstEvaluationCreatesTheKeyFileAndOldFilesFail) {
    InstallDir install;
    Recorder recorder;
    const std::string scan_dir = install.file("etc");
    // Written under some earlier key that is gone now.
    write_file(install.file("plain"), "# Omvar Backup Schedule\nschedule=* * * * *\n");
    ASSERT_TRUE(encrypt_file(std::string(32, 'e'), install.file("plain"), scan_dir + "/old.zbs"));

    platform::DirEntry entry{};
    std::snprintf(entry.name, sizeof entry.name, "old.zbs");
    std::tm t = monday_0200();
    cron::evaluate_schedule_file(scan_dir.c_str(), &entry, &t);

    EXPECT_TRUE(recorder.messages().empty());
    EXPECT_EQ(read_file(install.key_path()).size(), 4096u);
}

TEST(ScheduleFileKey, NoKeyMeansEveryFileIsSkipped) {
    InstallDir install;
    Recorder recorder;
    std::string key = install.use_known_key();
    const std::string scan_dir = install.file("etc");
    write_file(install.file("plain"), "# Omvar Backup Schedule\nschedule=* * * * *\n");
    ASSERT_TRUE(encrypt_file(key, install.file("plain"), scan_dir + "/job.zbs"));
    write_file(install.key_path(), "short");

    platform::DirEntry entry{};
    std::snprintf(entry.name, sizeof entry.name, "job.zbs");
    std::tm t = monday_0200();
    cron::evaluate_schedule_file(scan_dir.c_str(), &entry, &t);
    cron::evaluate_schedule_file(scan_dir.c_str(), &entry, &t);
    EXPECT_TRUE(recorder.messages().empty());
    EXPECT_EQ(read_file(install.key_path()), "short");

    // Once the key file is right again, the next evaluation uses it.
    install.use_known_key();
    cron::evaluate_schedule_file(scan_dir.c_str(), &entry, &t);
    EXPECT_EQ(recorder.messages().size(), 2u);
}

}  // namespace
}  // namespace omvar::test
