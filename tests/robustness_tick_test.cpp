// Hostile contents of the scan directory, one minute tick or poll at a time:
// odd names, special files, symlinks, damaged and huge schedule files. The engine's
// channel and the companion starts are recorded instead of used.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "agent/cron/settings.h"
#include "agent/cron/tick_actions.h"
#include "agent/cron/tick_loop.h"
#include "agent/platform/platform.h"
#include "crypt_test_support.h"
#include "standins/standin_control.h"
#include "test_support.h"

namespace omvar::test {
namespace {

class HostileScanDir : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_agent_state();
        ASSERT_EQ(cron::agent_init(install_.path().c_str()), 0);
        key_ = install_.use_known_key();
    }
    void TearDown() override { reset_agent_state(); }

    std::vector<std::string> requests() const { return recorder_.requests(); }

    std::string etc(const std::string& name) const { return install_.file("etc/" + name); }

    void encrypt_to(const std::string& path, const std::string& plain) {
        write_file(install_.file("plain.txt"), plain);
        ASSERT_TRUE(openssl_encrypt(key_, install_.file("plain.txt"), path));
    }
    void due_schedule(const std::string& name) {
        encrypt_to(etc(name), "# Omvar Backup Schedule\nschedule=0 2 * * *\n");
    }

    // The minute tick of 02:00 UTC, then (poll) the tick 3 seconds later.
    void minute_tick() {
        cron::next_tick = local_seconds(2026, 12, 9, 2, 0, 0);
        cron::on_tick();
    }
    void poll_tick() {
        cron::next_tick = local_seconds(2026, 12, 9, 2, 0, 3);
        cron::on_tick();
    }

    // Runs one minute tick in a child process, so that a tick that hangs is seen
    // as one (and killed) instead of hanging the test. The child's requests come
    // back through a file.
    bool minute_tick_ends_within(int timeout_ms, std::vector<std::string>* got) {
        const std::string out = install_.file("child-requests.txt");
        pid_t child = fork();
        if (child == 0) {
            minute_tick();
            std::string text;
            for (const std::string& r : requests()) {
                text += r + "\n";
            }
            write_file(out, text);
            _exit(0);
        }
        int status = 0;
        bool ended = wait_until([&] { return waitpid(child, &status, WNOHANG) == child; }, timeout_ms);
        if (!ended) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return false;
        }
        *got = read_lines(out);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    ScopedTimeZone zone_{"UTC"};
    Recorder recorder_;
    InstallDir install_;
    std::string key_;
};

TEST_F(HostileScanDir, NamesTravelExactlyAsTheDirectoryGivesThem) {
    const char* const names[] = {
        "with blank.zbs",  "\"quoted\".zbs",    "it's.zbs",    "\xc3\xa9t\xc3\xa9.zbs", "\xff\xfe raw.zbs",
        "back\\slash.zbs", "-leading-dash.zbs", "tab\tin.zbs", "new\nline.zbs",         "%s%n.zbs",
    };
    for (const char* name : names) {
        SCOPED_TRACE(name);
        recorder_.calls.clear();
        due_schedule(name);
        minute_tick();
        EXPECT_EQ(requests(), std::vector<std::string>{etc(name)});
        ASSERT_EQ(unlink(etc(name).c_str()), 0);
        cron::last_minute = -1;
    }
}

// The request and the deletion use the name's exact bytes; its "found" line
// shows control bytes escaped, so a name such as "a" LF "found evil.now" cannot
// add a line of its own to the journal, and so are bytes that are not UTF-8 and
// Unicode line breaks, so that the journal stores the line as text.
TEST_F(HostileScanDir, TriggerNamesTravelExactlyWithoutTheirExtension) {
    const struct {
        const char* name;
        const char* shown;
    } names[] = {
        {"with blank", "with blank"},
        {"\"quoted\"", "\"quoted\""},
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
        {"\xff raw", "\\xff raw"},
        {"caf\xe9", "caf\\xe9"},
        {"x\x80y", "x\\x80y"},
        {"a\xe2\x80\xa8"
         "found b\x85",
         "a\\xe2\\x80\\xa8found b\\x85"},
        {"%s%n", "%s%n"},
        {"a\nfound evil.now", "a\\nfound evil.now"},
        {"tab\tjob.zbs", "tab\\tjob.zbs"},
        {"\x1b[2J\x1b[31mred\x7f\r", "\\x1b[2J\\x1b[31mred\\x7f\\x0d"},
    };
    minute_tick();
    for (const auto& n : names) {
        SCOPED_TRACE(n.shown);
        recorder_.calls.clear();
        DebugCapture debug;
        write_file(etc(std::string(n.name) + ".now"), "ignored contents");
        poll_tick();
        EXPECT_EQ(requests(), std::vector<std::string>{etc(n.name)});
        EXPECT_FALSE(file_exists(etc(std::string(n.name) + ".now")));
        EXPECT_EQ(debug.lines(),
                  std::vector<std::string>{"found " + etc(std::string(n.shown) + ".now") + "\r\n"});
    }
}

TEST_F(HostileScanDir, SpecialFilesNeverHangTheTick) {
    // FIFOs without a writer would block an open for reading, and a read of one
    // with a writer that never writes would block for ever.
    ASSERT_EQ(mkfifo(etc("pipe.zbs").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(etc("held.zbs").c_str(), 0600), 0);
    int writer = open(etc("held.zbs").c_str(), O_RDWR);  // keeps a writer on held.zbs
    ASSERT_GE(writer, 0);
    ASSERT_EQ(symlink("/dev/zero", etc("zero.zbs").c_str()), 0);
    ASSERT_EQ(symlink("pipe.zbs", etc("to-pipe.zbs").c_str()), 0);
    ASSERT_EQ(mkdir(etc("dir.zbs").c_str(), 0755), 0);
    due_schedule("good.zbs");

    std::vector<std::string> got;
    EXPECT_TRUE(minute_tick_ends_within(5000, &got)) << "the minute tick hung";
    close(writer);
    EXPECT_EQ(got, std::vector<std::string>{etc("good.zbs")});
}

TEST_F(HostileScanDir, SymlinkedScheduleFilesAreReadAsTheirTargetsAndSentByTheirOwnName) {
    encrypt_to(install_.file("elsewhere.zbs"), "# Omvar Backup Schedule\nschedule=0 2 * * *\n");
    ASSERT_EQ(symlink(install_.file("elsewhere.zbs").c_str(), etc("link.zbs").c_str()), 0);
    ASSERT_EQ(symlink(install_.file("gone.zbs").c_str(), etc("dangling.zbs").c_str()), 0);
    minute_tick();
    EXPECT_EQ(requests(), std::vector<std::string>{etc("link.zbs")});
}

TEST_F(HostileScanDir, TriggerSymlinkIsDeletedItselfNeverItsTarget) {
    write_file(install_.file("precious"), "keep me");
    ASSERT_EQ(symlink(install_.file("precious").c_str(), etc("job.zbs.now").c_str()), 0);
    minute_tick();
    poll_tick();
    EXPECT_EQ(requests(), std::vector<std::string>{etc("job.zbs")});
    EXPECT_EQ(read_file(install_.file("precious")), "keep me");
    struct stat st {};
    EXPECT_NE(lstat(etc("job.zbs.now").c_str(), &st), 0);
}

TEST_F(HostileScanDir, DamagedAndHugeScheduleFiles) {
    const std::string header = "# Omvar Backup Schedule\n";
    const std::string due = "schedule=0 2 * * *\n";
    struct Case {
        const char* name;
        std::string plain;
        long cut;  // bytes cut off the ciphertext's end; -1 leaves it whole
        bool expected;
    };
    const Case cases[] = {
        // The padded last block lost: the schedule line sits in earlier blocks.
        {"last block lost", header + due + std::string(40, '#'), 16, true},
        // A ragged tail (not a multiple of 16): only the incomplete tail is lost.
        {"ragged tail", header + due + std::string(40, '#'), 5, true},
        // Cut inside the header: nothing to match.
        {"cut in the header", header + due, 32, false},
        // Nothing left.
        {"cut to nothing", header + due, 48, false},
        // Eight MiB of other lines before the schedule line: read to the end.
        {"huge, line at the end", header + std::string(8 << 20, 'x') + "\n" + due, -1, true},
        // One line of 8 MiB: read in 1023-byte pieces, none begins with the prefix.
        {"huge single line", header + std::string(8 << 20, 'y'), -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recorder_.calls.clear();
        cron::last_minute = -1;
        const std::string path = etc("job.zbs");
        encrypt_to(path, c.plain);
        if (c.cut >= 0) {
            std::string bytes = read_file(path);
            ASSERT_GE(static_cast<long>(bytes.size()), c.cut);
            write_file(path, bytes.substr(0, bytes.size() - static_cast<std::size_t>(c.cut)));
        }
        minute_tick();
        EXPECT_EQ(requests().size(), c.expected ? 1u : 0u);
    }
}

TEST_F(HostileScanDir, ReadOnlyTriggerIsStillHandled) {
    write_file(etc("ro.now"), "");
    ASSERT_EQ(chmod(etc("ro.now").c_str(), 0444), 0);
    minute_tick();
    poll_tick();
    EXPECT_EQ(requests(), std::vector<std::string>{etc("ro")});
    EXPECT_FALSE(file_exists(etc("ro.now")));
}

}  // namespace
}  // namespace omvar::test
