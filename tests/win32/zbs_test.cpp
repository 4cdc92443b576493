// omvar-zbs.exe under Windows: what the agent's scan meets in an install
// directory, an expression read as the agent reads it, a schedule file decrypted
// byte for byte, the key file's access list as status judges it, and the
// running agent's lines as watch shows them.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <thread>

#include "json_reader.h"
#include "test_support.h"
#include "win32/win_support.h"

namespace {

using namespace omvar;

class WinZbs : public ::testing::Test {
  protected:
    void SetUp() override {
        install_ = wintest::win_path(dir_.path());
        etc_ = install_ + "\\etc";
        CreateDirectoryA(etc_.c_str(), nullptr);
    }

    wintest::RunResult zbs(const std::string& arguments) {
        return wintest::run("\"" + wintest::zbs_exe() + "\" " + arguments, 60000, install_.c_str());
    }
    void encrypt(const std::string& name, const std::string& plain) {
        test::write_file(install_ + "\\plain.txt", plain);
        wintest::RunResult run = zbs("encrypt plain.txt etc\\" + name + " --install-dir " + install_);
        ASSERT_EQ(run.exit_code, 0u) << run.output;
    }

    test::TempDir dir_;
    std::string install_;
    std::string etc_;
};

TEST_F(WinZbs, ListSeesWhatTheMinuteTickMeets) {
    encrypt("nightly.zbs", "# Omvar Backup Schedule\nschedule=30 2 * * *\n");
    encrypt("noline.zbs", "# Omvar Backup Schedule\njob=1\n");
    test::write_file(etc_ + "\\plain.zbs", "# Omvar Backup Schedule\nschedule=* * * * *\n");
    CreateDirectoryA((etc_ + "\\folder.zbs").c_str(), nullptr);
    test::write_file(etc_ + "\\a.eml", "");
    test::write_file(etc_ + "\\run.now", "");
    CreateDirectoryA((etc_ + "\\folder.now").c_str(), nullptr);

    wintest::RunResult run = zbs("list --json --from \"2027-01-01 00:00\" --install-dir " + install_);
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_EQ(run.exit_code, 1u) << run.output;
    test::Json doc;
    ASSERT_TRUE(test::JsonReader::parse(run.output, &doc)) << run.output;
    std::map<std::string, std::string> states;
    for (const test::Json& row : doc["schedules"].items) {
        states[row["name"].text] = row["state"].text;
        if (row["name"].text == "nightly.zbs") {
            EXPECT_EQ(row["next"].text, "2027-01-01 02:30");
            EXPECT_EQ(row["previous"].text, "2026-12-31 02:30");
        }
    }
    const std::map<std::string, std::string> expected = {{"nightly.zbs", "ok"},
                                                         {"noline.zbs", "no-schedule-line"},
                                                         {"plain.zbs", "not-a-schedule"},
                                                         {"folder.zbs", "directory"}};
    EXPECT_EQ(states, expected);
    EXPECT_EQ(doc["key"]["state"].text, "ok");
    EXPECT_EQ(doc["updater_next"].text, "2027-01-01 00:56");
    EXPECT_EQ(doc["mail_waiting"]["count"].number, 1);
    ASSERT_EQ(doc["triggers_waiting"]["names"].items.size(), 1u);
    EXPECT_EQ(doc["triggers_waiting"]["names"].items[0].text, "run.now");
    ASSERT_EQ(doc["triggers_waiting"]["never_handled"].items.size(), 1u);

    // Only good rows: exit status 0.
    RemoveDirectoryA((etc_ + "\\folder.zbs").c_str());
    DeleteFileA((etc_ + "\\plain.zbs").c_str());
    DeleteFileA((etc_ + "\\noline.zbs").c_str());
    run = zbs("list --install-dir " + install_);
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find("nightly.zbs: ok"), std::string::npos) << run.output;
}

TEST_F(WinZbs, ListReportsAMissingKeyWithoutMakingOne) {
    test::write_file(etc_ + "\\job.zbs", "0123456789abcdef");
    wintest::RunResult run = zbs("list --install-dir " + install_);
    EXPECT_EQ(run.exit_code, 1u) << run.output;
    EXPECT_NE(run.output.find("job.zbs: no-key"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("no key file"), std::string::npos) << run.output;
    EXPECT_FALSE(wintest::exists(etc_ + "\\omvar.ak"));

    run = zbs("list --install-dir " + install_ + "\\absent");
    EXPECT_EQ(run.exit_code, 2u) << run.output;
}

TEST_F(WinZbs, ExplainReadsAsTheAgentReads) {
    wintest::RunResult run = zbs("explain \"30 8 mon,fri * *\" --from \"2027-01-01 00:00\"");
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find(
                  "in words: at minute 30 of hour 8, on Mondays and Fridays, in every month, in every year"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("next: 2027-01-01 08:30\r\nnext: 2027-01-04 08:30\r\nnext: 2027-01-08 08:30"),
              std::string::npos)
        << run.output;

    run = zbs("explain \"0 2 * Jan 2020\" --json --from \"2027-01-01 00:00\"");
    EXPECT_EQ(run.exit_code, 1u) << run.output;
    test::Json doc;
    ASSERT_TRUE(test::JsonReader::parse(run.output, &doc)) << run.output;
    EXPECT_TRUE(doc["next"].items.empty());
    ASSERT_GE(doc["warnings"].items.size(), 3u);
    EXPECT_EQ(doc["warnings"].items[0]["field"].text, "month");
    EXPECT_EQ(doc["warnings"].items[0]["item"].text, "Jan");
    EXPECT_EQ(doc["fields"].items[3]["items"].items[0]["reads_as"].number, 0);
}

TEST_F(WinZbs, DecryptGivesThePlaintextByteForByte) {
    // Line ends of every kind, a NUL, Ctrl-Z (end of file to a text-mode reader)
    // and a byte above 127: none may be changed on the way to standard output.
    const std::string plain =
        std::string("# Omvar Backup Schedule\nschedule=0 2 * * *\r\nlone\rcr\n") + '\0' + "\x1a\xff\n\n";
    encrypt("job.zbs", plain);
    wintest::RunResult run = zbs("decrypt etc\\job.zbs --install-dir " + install_);
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_EQ(run.output, plain);
}

TEST_F(WinZbs, StatusReportsAKeyFileEveryUserMayRead) {
    encrypt("nightly.zbs", "# Omvar Backup Schedule\nschedule=30 2 * * *\n");
    const std::string key = etc_ + "\\omvar.ak";
    const struct {
        const char* sddl;
        const char* level;
        const char* detail;
    } cases[] = {
        {"D:P(A;;FA;;;SY)(A;;FA;;;BA)", "ok", "usable"},
        {"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;WD)", "warn",
         "usable, but readable by others: its access list should hold only SYSTEM and "
         "Administrators; from an elevated prompt: icacls \""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(wintest::set_dacl(key, c.sddl)) << c.sddl;
        wintest::RunResult run = zbs("status --json --install-dir " + install_);
        test::Json doc;
        ASSERT_TRUE(test::JsonReader::parse(run.output, &doc)) << run.output;
        const test::Json* found = nullptr;
        for (const test::Json& check : doc["checks"].items) {
            found = check["name"].text == "key-file" ? &check : found;
        }
        ASSERT_NE(found, nullptr) << run.output;
        EXPECT_EQ((*found)["level"].text, c.level) << c.sddl << ": " << (*found)["detail"].text;
        EXPECT_EQ((*found)["detail"].text.rfind(c.detail, 0), 0u)
            << c.sddl << ": " << (*found)["detail"].text;
        if (std::string(c.level) == "warn") {
            EXPECT_NE((*found)["detail"].text.find(key + "\" /inheritance:r "), std::string::npos)
                << (*found)["detail"].text;
        }
    }
}

// Writes a line to the global debugger output as OutputDebugStringA does in a
// service, whose session is 0. Under Wine every program, a service too, writes
// to its own session's channel, so no other writer reaches the global one.
bool write_global_debug_line(DWORD pid, const std::string& text) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\DBWIN_BUFFER");
    HANDLE buffer_ready = OpenEventA(SYNCHRONIZE, FALSE, "Global\\DBWIN_BUFFER_READY");
    HANDLE data_ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, "Global\\DBWIN_DATA_READY");
    void* view = mapping == nullptr ? nullptr : MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    const bool written = view != nullptr && buffer_ready != nullptr && data_ready != nullptr &&
                         WaitForSingleObject(buffer_ready, 10000) == WAIT_OBJECT_0;
    if (written) {
        std::memcpy(view, &pid, sizeof pid);
        std::memcpy(static_cast<char*>(view) + sizeof pid, text.c_str(), text.size() + 1);
        SetEvent(data_ready);
    }
    if (view != nullptr) {
        UnmapViewOfFile(view);
    }
    for (HANDLE handle : {mapping, buffer_ready, data_ready}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
    return written;
}

TEST_F(WinZbs, WatchShowsTheAgentsFoundLineWithItsTime) {
    HANDLE global = OpenEventA(SYNCHRONIZE, FALSE, "Global\\DBWIN_BUFFER_READY");
    ASSERT_EQ(global, nullptr) << "another listener holds the global debugger output";
    HANDLE agent = wintest::start("\"" + wintest::cron_exe() + "\" " + install_, nullptr);
    ASSERT_NE(agent, nullptr);
    // Started by hand, the agent runs stand-alone once the dispatcher gives up
    // (under Wine that can take about 10 s after a service test).
    EXPECT_TRUE(test::wait_until([&] { return wintest::exists(etc_ + "\\omvarcrond.pid"); }, 30000));

    // The agent's first tick comes at the next minute boundary, and the trigger
    // is taken at a polling tick after it: up to about 65 s.
    const std::string trigger = etc_ + "\\job.zbs.now";
    wintest::RunResult watched;
    std::atomic<bool> written{false};
    std::thread watch([&] {
        // watch runs until it is ended: here a second after the agent took the trigger.
        DWORD taken = 0;
        watched = wintest::run("\"" + wintest::zbs_exe() + "\" watch --install-dir " + install_, 90000,
                               nullptr, [&] {
                                   if (taken == 0 && written && !wintest::exists(trigger)) {
                                       taken = GetTickCount();
                                   }
                                   return taken != 0 && GetTickCount() - taken > 1000;
                               });
    });
    Sleep(2000);
    // A line of another process: not the agent's, so not shown.
    OutputDebugStringA("noise from the test\r\n");
    // The service's channel, which nothing but watch creates here.
    EXPECT_TRUE(write_global_debug_line(GetProcessId(agent), "as from session 0\r\n"));
    test::write_file(trigger, "");
    written = true;
    watch.join();
    TerminateProcess(agent, 1);
    WaitForSingleObject(agent, 5000);
    CloseHandle(agent);

    EXPECT_FALSE(watched.finished) << "watch ends only when it is stopped";
    const std::regex found("(^|\n)[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} found " +
                           std::regex_replace(install_, std::regex(R"([\\.^$|()\[\]{}*+?])"), R"(\$&)") +
                           "/etc/job\\.zbs\\.now\r\n");
    EXPECT_TRUE(std::regex_search(watched.output, found)) << watched.output;
    EXPECT_EQ(watched.output.find("noise"), std::string::npos) << watched.output;
    EXPECT_NE(watched.output.find(
                  "listening on the global debugger output (the service's) and on this session's\r\n"),
              std::string::npos)
        << watched.output;
    EXPECT_NE(watched.output.find(" as from session 0\r\n"), std::string::npos) << watched.output;
}

}  // namespace
