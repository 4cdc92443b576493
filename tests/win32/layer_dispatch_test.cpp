// The mailslot channel and the companion launches of the Win32 layer, against
// real Windows programs: the engine and recorder stand-ins.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "agent/cron/settings.h"
#include "agent/dispatch/backup_channel.h"
#include "agent/dispatch/launch.h"
#include "agent/platform/platform.h"
#include "agent/platform/system.h"
#include "agent/platform/win32/launch_record.h"
#include "test_support.h"
#include "win32/win_support.h"

namespace {

using namespace omvar;
using wintest::Engine;

// Every launch, open and sleep is the system's own, and counted.
class Win32Dispatch : public ::testing::Test {
  protected:
    void SetUp() override {
        recorder_.to_system = true;
        clock_.on_sleep = [this](unsigned ms) {
            sleeps.push_back(ms);
            if (really_sleep) {
                Sleep(ms);
            }
        };
        install_ = wintest::win_path(dir_.path());
    }
    void TearDown() override { _putenv_s("OMVAR_RECORDER_RECORD", ""); }

    int launches() const { return recorder_.count(test::Recorder::Call::kLaunch); }
    int opens() const { return recorder_.count(test::Recorder::Call::kOpen); }
    int launch_failures() const {
        int n = 0;
        for (const test::Recorder::Call& call : recorder_.calls) {
            n += call.kind == test::Recorder::Call::kLaunch && call.result != 0 ? 1 : 0;
        }
        return n;
    }

    test::Recorder recorder_;
    test::FakeClock clock_{platform::system::clock_now()};
    std::vector<unsigned> sleeps;
    bool really_sleep = false;
    test::TempDir dir_;
    std::string install_;
    test::ScopedCwd cwd_;
};

std::string with_nul(const std::string& s) { return s + std::string(1, '\0'); }
const std::string kProbe(1, '\0');

TEST_F(Win32Dispatch, RunningEngineReadsProbeThenPathForEachRequest) {
    Engine engine(install_);
    ASSERT_TRUE(engine.ready());
    const std::vector<std::string> paths = {
        "C:\\Apps\\Backup/etc/nightly.zbs",
        "C:\\Daten\\Sicherung \xe4\xf6\xfc/etc/w\xf6"
        "chentlich.zbs",                  // ANSI code page bytes pass unchanged
        "C:\\" + std::string(1020, 'p'),  // 1023 bytes: the longest path
    };
    std::vector<std::string> expected;
    for (const std::string& path : paths) {
        dispatch::submit_backup_request(path.c_str());
        expected.push_back(kProbe);
        expected.push_back(with_nul(path));
    }
    ASSERT_TRUE(test::wait_until([&] { return engine.messages().size() >= expected.size(); }, 5000));
    EXPECT_EQ(engine.messages(), expected);
    EXPECT_EQ(launches(), 0) << "a running engine is never started";
    EXPECT_EQ(opens(), 3);
    EXPECT_TRUE(sleeps.empty());
}

TEST_F(Win32Dispatch, MissingMailslotFailsToOpen) {
    platform::MailslotHandle handle = 0;
    EXPECT_EQ(platform::system::mailslot_open("\\\\.\\mailslot\\omvarbackup", &handle), -1);
    EXPECT_EQ(handle, -1);
    EXPECT_EQ(dispatch::mailslot_open(dispatch::kBackupMailslot), dispatch::kMailslotOpenFailed);
    // No channel is open afterwards: a write has nowhere to go.
    EXPECT_EQ(dispatch::mailslot_write("x", 2), dispatch::kMailslotWriteFailed);
}

TEST_F(Win32Dispatch, MissingEngineIsStartedBelowNormalAndGetsTheRequest) {
    wintest::copy_program(wintest::engine_exe(), install_ + "\\omvar-backup.exe");
    ASSERT_EQ(cron::agent_init(install_.c_str()), 0);
    really_sleep = true;  // the engine needs the time to create its mailslot
    const std::string path = install_ + "/etc/job.zbs";
    dispatch::submit_backup_request(path.c_str());

    const std::string record = install_ + "\\engine-record.txt";
    ASSERT_TRUE(test::wait_until([&] { return wintest::engine_messages(record).size() >= 2; }, 5000));
    EXPECT_EQ(wintest::engine_messages(record), (std::vector<std::string>{kProbe, with_nul(path)}));
    EXPECT_EQ(launches(), 1);
    EXPECT_EQ(opens(), 2);
    EXPECT_EQ(sleeps, std::vector<unsigned>{3000});
    std::string text = test::read_file(record);
    EXPECT_NE(text.find("\tcmdline=\"" + install_ + "\\omvar-backup.exe\" background\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\tcwd=" + install_ + "\t"), std::string::npos) << text;

    // The engine belongs to no one here: stop it through its stop file.
    cwd_.restore();
    std::ofstream(install_ + "\\engine-stop") << "stop\n";
    EXPECT_TRUE(test::wait_until([&] { return !wintest::exists(install_ + "\\engine-ready"); }, 5000));
}

TEST_F(Win32Dispatch, EngineThatCannotStartCostsNoWaitAndDeliversNothing) {
    ASSERT_EQ(cron::agent_init(install_.c_str()), 0);
    dispatch::submit_backup_request((install_ + "/etc/job.zbs").c_str());
    EXPECT_EQ(opens(), 2);
    EXPECT_EQ(launches(), 1);
    EXPECT_EQ(launch_failures(), 1);
    EXPECT_TRUE(sleeps.empty());
}

// One recorder run, as the recorder wrote it.
std::vector<std::map<std::string, std::string>> recorder_runs(const std::string& record) {
    std::vector<std::map<std::string, std::string>> runs;
    std::map<std::string, std::string> run;
    std::istringstream lines(test::read_file(record));
    for (std::string line; std::getline(lines, line);) {
        std::size_t tab = line.find('\t');
        if (line == "end") {
            runs.push_back(run);
            run.clear();
        } else if (tab != std::string::npos) {
            run[line.substr(0, tab)] = line.substr(tab + 1);
        }
    }
    return runs;
}

struct CompanionCase {
    const char* program;
    dispatch::Companion which;
    const char* arguments;
    const char* desktop;  // nullptr: not set, inherited
    DWORD creation_flags;
    unsigned wait_ms;  // sleep after a successful start
};

const CompanionCase kCompanions[] = {
    {"omvar-update1.exe", dispatch::kUpdater, "", "WinSta0\\Default", 0, 0},
    {"omvar-txmail.exe", dispatch::kMailSender, "", nullptr, 0, 0},
    {"omvar-backup.exe", dispatch::kBackupEngine, " background", "WinSta0\\Default",
     BELOW_NORMAL_PRIORITY_CLASS, 3000},
};

TEST_F(Win32Dispatch, CompanionsStartWithTheirCommandLineDirectoryAndDesktop) {
    const std::string record = install_ + "\\recorder-record.txt";
    _putenv_s("OMVAR_RECORDER_RECORD", record.c_str());  // the agent's environment is passed on
    for (const CompanionCase& c : kCompanions) {
        wintest::copy_program(wintest::recorder_exe(), install_ + "\\" + c.program);
    }
    ASSERT_EQ(cron::agent_init(install_.c_str()), 0);
    // Run from elsewhere: the working directory must come from the launch.
    cwd_.restore();
    for (const CompanionCase& c : kCompanions) {
        SCOPED_TRACE(c.program);
        sleeps.clear();
        std::size_t before = recorder_runs(record).size();
        dispatch::launch_companion(c.which);
        ASSERT_TRUE(test::wait_until([&] { return recorder_runs(record).size() > before; }, 5000));
        auto run = recorder_runs(record).back();
        EXPECT_EQ(run["cmdline"], "\"" + install_ + "\\" + c.program + "\"" + c.arguments);
        EXPECT_EQ(run["cwd"], install_);
        // No busy cursor; Wine may add flags of its own to what the child sees.
        EXPECT_NE(std::stoul(run["flags"], nullptr, 16) & STARTF_FORCEOFFFEEDBACK, 0u) << run["flags"];
        if (c.desktop != nullptr) {
            EXPECT_EQ(run["desktop"], c.desktop);
        }
        EXPECT_EQ(sleeps, c.wait_ms != 0 ? std::vector<unsigned>{c.wait_ms} : std::vector<unsigned>{});
    }
    EXPECT_EQ(launch_failures(), 0);
}

// What CreateProcessA is handed; Wine ignores the priority class, so the flag is
// checked here rather than in the child.
TEST_F(Win32Dispatch, LaunchRecordHoldsOnlyTheAgreedFields) {
    for (const CompanionCase& c : kCompanions) {
        SCOPED_TRACE(c.program);
        std::string command = std::string("\"C:\\Apps\\Backup\\") + c.program + "\"" + c.arguments;
        platform::LaunchSpec launch_spec{command.c_str(), "C:\\Apps\\Backup", c.creation_flags != 0,
                                         c.desktop};
        static platform::LaunchRecord record;
        ASSERT_TRUE(platform::prepare_launch(launch_spec, &record));
        EXPECT_STREQ(record.command_line, command.c_str());
        EXPECT_EQ(record.creation_flags, c.creation_flags);

        STARTUPINFOA expected{};
        expected.cb = sizeof(STARTUPINFOA);
        expected.dwFlags = STARTF_FORCEOFFFEEDBACK;
        if (c.desktop != nullptr) {
            EXPECT_STREQ(record.startup.lpDesktop, c.desktop);
            expected.lpDesktop = record.startup.lpDesktop;
        } else {
            EXPECT_EQ(record.startup.lpDesktop, nullptr);
        }
        EXPECT_EQ(std::memcmp(&record.startup, &expected, sizeof expected), 0) << "every other field is zero";
    }
}

TEST_F(Win32Dispatch, LaunchFailsForAMissingProgramOrDirectory) {
    wintest::copy_program(wintest::recorder_exe(), install_ + "\\omvar-update1.exe");
    struct {
        const char* what;
        std::string command;
        std::string dir;
    } cases[] = {
        {"missing program", "\"" + install_ + "\\omvar-nothing.exe\"", install_},
        {"missing working directory", "\"" + install_ + "\\omvar-update1.exe\"", install_ + "\\gone"},
    };
    for (const auto& c : cases) {
        platform::LaunchSpec launch_spec{c.command.c_str(), c.dir.c_str(), false, nullptr};
        EXPECT_EQ(platform::system::launch_process(launch_spec), -1) << c.what;
    }
    EXPECT_FALSE(wintest::exists(install_ + "\\recorder-record.txt"));
}

}  // namespace
