// omvar-cron.exe end to end: registered and run as the service omvarCron through
// the service manager's own tool, started by hand beside it, and run as the
// registered service process of Windows 95/98/ME (Wine reporting that family).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "json_reader.h"
#include "test_support.h"
#include "win32/win_support.h"

namespace {

using namespace omvar;

constexpr char kService[] = "omvarCron";

wintest::RunResult sc(const std::string& arguments, int timeout_ms = 30000) {
    return wintest::run("sc.exe " + arguments, timeout_ms);
}

bool query_shows(const char* state) {
    return sc(std::string("query ") + kService).output.find(state) != std::string::npos;
}

class Service : public ::testing::Test {
  protected:
    void SetUp() override {
        // A service left by an aborted run would make the create fail.
        sc(std::string("stop ") + kService);
        sc(std::string("delete ") + kService);
        root_ = wintest::win_path(dir_.path());
    }
    void TearDown() override {
        if (solo_ != nullptr) {
            TerminateProcess(solo_, 1);
            WaitForSingleObject(solo_, 5000);
            CloseHandle(solo_);
        }
        sc(std::string("stop ") + kService);
        test::wait_until([] { return !query_shows("RUNNING") && !query_shows("PENDING"); }, 10000);
        sc(std::string("delete ") + kService);
    }

    std::string make_dir(const std::string& name) {
        std::string dir = root_ + "\\" + name;
        CreateDirectoryA(dir.c_str(), nullptr);
        return dir;
    }

    // An install directory holding the agent and an etc directory.
    std::string make_install(const std::string& name) {
        std::string dir = make_dir(name);
        CreateDirectoryA((dir + "\\etc").c_str(), nullptr);
        wintest::copy_program(wintest::cron_exe(), dir + "\\omvar-cron.exe");
        return dir;
    }

    test::TempDir dir_;
    std::string root_;
    HANDLE solo_ = nullptr;
};

// "<pid>\r\n" read from a pid file; 0 when it is not (yet) in that form.
DWORD pid_in(const std::string& path) {
    std::string text = test::read_file(path);
    if (text.size() < 3 || text.compare(text.size() - 2, 2, "\r\n") != 0 ||
        !std::all_of(text.begin(), text.end() - 2,
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return 0;
    }
    return static_cast<DWORD>(std::stoul(text));
}

bool has_line(wintest::DbwinListener& listener, DWORD pid, const std::string& text) {
    for (const wintest::DebugLine& line : listener.lines()) {
        if (line.pid == pid && line.text == text) {
            return true;
        }
    }
    return false;
}

TEST_F(Service, RunsSchedulesAndTriggersUntilStoppedWhileAStandAloneAgentKeepsTicking) {
    const std::string svc = make_install("svc");
    const std::string solo = make_install("solo");
    wintest::Engine engine(make_dir("engine"));
    ASSERT_TRUE(engine.ready());
    wintest::DbwinListener listener;
    ASSERT_TRUE(listener.listening());

    for (const std::string& trigger :
         {svc + "\\etc\\job.zbs.now", svc + "\\etc\\job.nowx", solo + "\\etc\\solo.zbs.now"}) {
        test::write_file(trigger, "");
    }

    // Started by hand, the agent finds no service manager and runs stand-alone.
    // It must be running before the service starts: under Wine the dispatcher of
    // a process started by hand first waits, about 10 s, on the control pipe of
    // the service started last before it fails with 1063, and one started while
    // a service start is pending can take that service's place.
    solo_ = wintest::start("\"" + solo + "\\omvar-cron.exe\" " + solo, nullptr);
    ASSERT_NE(solo_, nullptr);
    DWORD solo_exit = 0;
    ASSERT_TRUE(test::wait_until(
        [&] { return pid_in(solo + "\\etc\\omvarcrond.pid") == GetProcessId(solo_); }, 30000))
        << "pid file: " << test::read_file(solo + "\\etc\\omvarcrond.pid") << " process "
        << GetProcessId(solo_) << " exit code "
        << (GetExitCodeProcess(solo_, &solo_exit) ? solo_exit : 0xffffffff);

    // Leave at least 12 seconds before the minute boundary, so that the minute of
    // the agents' first tick is known before they start.
    std::time_t now = std::time(nullptr);
    ASSERT_TRUE(test::wait_until(
        [&] {
            now = std::time(nullptr);
            return std::localtime(&now)->tm_sec < 48;
        },
        15000));
    std::time_t first_tick = now + 60 - std::localtime(&now)->tm_sec;
    const int minute = std::localtime(&first_tick)->tm_min;

    // A schedule file due at the minute of the first tick, written by the tool
    // under the installation's key.
    const std::string plain = root_ + "\\nightly.txt";
    test::write_file(plain, "# Omvar Backup Schedule 1\nschedule=" + std::to_string(minute) + " * * * *\n");
    wintest::RunResult zbs = wintest::run("\"" + wintest::zbs_exe() + "\" encrypt " + plain + " " + svc +
                                              "\\etc\\nightly.zbs --install-dir " + svc,
                                          20000);
    ASSERT_TRUE(zbs.finished) << zbs.output;
    ASSERT_EQ(zbs.exit_code, 0u) << zbs.output;

    // The install directory follows the program unquoted: the rest of the line is taken verbatim.
    wintest::RunResult created =
        sc(std::string("create ") + kService + " binpath= \"" + svc + "\\omvar-cron.exe " + svc + "\"");
    ASSERT_EQ(created.exit_code, 0u) << created.output;
    wintest::RunResult started = sc(std::string("start ") + kService);
    ASSERT_EQ(started.exit_code, 0u) << started.output;
    EXPECT_TRUE(query_shows("RUNNING"));

    DWORD service_pid = 0;
    ASSERT_TRUE(
        test::wait_until([&] { return (service_pid = pid_in(svc + "\\etc\\omvarcrond.pid")) != 0; }, 10000))
        << test::read_file(svc + "\\etc\\omvarcrond.pid");
    EXPECT_NE(service_pid, GetProcessId(solo_));

    // The minute tick sends the schedule file, the next tick the service's
    // trigger; the stand-alone agent's trigger comes at its own polling tick.
    const std::string nightly = svc + "/etc/nightly.zbs";
    const std::string job = svc + "/etc/job.zbs";
    const std::string solo_job = solo + "/etc/solo.zbs";
    ASSERT_TRUE(test::wait_until([&] { return engine.messages().size() >= 6; }, 100000))
        << test::read_file(engine.record());
    std::vector<std::string> messages = engine.messages();
    std::vector<std::string> requests;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (messages[i] == std::string(1, '\0')) {
            continue;
        }
        requests.push_back(messages[i]);
    }
    EXPECT_EQ(messages.size(), 6u);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), std::string(1, '\0')), 3)
        << "one probe per request";
    std::vector<std::string> service_requests;
    for (const std::string& r : requests) {
        if (r.rfind(svc + "/", 0) == 0) {
            service_requests.push_back(r);
        }
    }
    EXPECT_EQ(service_requests, (std::vector<std::string>{nightly + '\0', job + '\0'}));
    EXPECT_EQ(std::count(requests.begin(), requests.end(), solo_job + '\0'), 1);

    EXPECT_TRUE(listener.wait_for(
        [&](const wintest::DebugLine& l) { return l.text == "found " + solo + "/etc/solo.zbs.now\r\n"; },
        5000));
    EXPECT_TRUE(has_line(listener, service_pid, "found " + svc + "/etc/job.zbs.now\r\n"));
    EXPECT_TRUE(has_line(listener, GetProcessId(solo_), "found " + solo + "/etc/solo.zbs.now\r\n"));
    EXPECT_FALSE(wintest::exists(svc + "\\etc\\job.zbs.now"));
    EXPECT_FALSE(wintest::exists(solo + "\\etc\\solo.zbs.now"));
    // Seen by the search through its short name, but not a trigger.
    EXPECT_TRUE(wintest::exists(svc + "\\etc\\job.nowx"));
    for (const wintest::DebugLine& line : listener.lines()) {
        EXPECT_EQ(line.text.find("nowx"), std::string::npos) << line.text;
    }

    HANDLE service_process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, service_pid);
    ASSERT_NE(service_process, nullptr);
    wintest::RunResult stopped = sc(std::string("stop ") + kService);
    EXPECT_EQ(stopped.exit_code, 0u) << stopped.output;
    EXPECT_TRUE(test::wait_until([] { return query_shows("STOPPED"); }, 10000));
    EXPECT_FALSE(wintest::exists(svc + "\\etc\\omvarcrond.pid"));
    // The dispatcher returns once the service has stopped, and the process ends with 0.
    DWORD service_exit = 1;
    EXPECT_EQ(WaitForSingleObject(service_process, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(service_process, &service_exit));
    EXPECT_EQ(service_exit, 0u);
    CloseHandle(service_process);

    // The stand-alone agent has no stop path: it runs until it is killed.
    EXPECT_EQ(WaitForSingleObject(solo_, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    wintest::RunResult deleted = sc(std::string("delete ") + kService);
    EXPECT_EQ(deleted.exit_code, 0u) << deleted.output;
}

TEST_F(Service, MissingInstallDirectoryEndsWith94BeforeAnyStatus) {
    const std::string missing = root_ + "\\not-installed";

    // Started by hand: the check comes before the dispatcher is even tried.
    wintest::RunResult direct = wintest::run("\"" + wintest::cron_exe() + "\" " + missing, 20000);
    ASSERT_TRUE(direct.finished) << direct.output;
    EXPECT_EQ(direct.exit_code, 94u);

    wintest::DbwinListener listener;
    ASSERT_TRUE(listener.listening());
    wintest::RunResult created =
        sc(std::string("create ") + kService + " binpath= \"" + wintest::cron_exe() + " " + missing + "\"");
    ASSERT_EQ(created.exit_code, 0u) << created.output;
    wintest::RunResult started = sc(std::string("start ") + kService, 60000);
    EXPECT_NE(started.exit_code, 0u) << started.output;
    EXPECT_TRUE(listener.wait_for(
        [](const wintest::DebugLine& l) {
            return l.pid != GetCurrentProcessId() && l.text == "agent\\cron\\cron:167\r\n";
        },
        5000));
    std::string query = sc(std::string("query ") + kService).output;
    EXPECT_NE(query.find("STOPPED"), std::string::npos) << query;
    EXPECT_EQ(query.find("RUNNING"), std::string::npos) << query;
}

// Wine reports the 95/98/ME family (platform 1, version 4.10) to every program
// named omvar-cron.exe while this key exists; the agent then registers itself as
// a service process instead of calling the dispatcher. The key is removed again
// so that the other tests see the NT family.
constexpr char kWin98Key[] = "HKCU\\Software\\Wine\\AppDefaults\\omvar-cron.exe";

class Win98Mode : public Service {
  protected:
    void SetUp() override {
        Service::SetUp();
        wintest::RunResult added =
            wintest::run(std::string("reg.exe add ") + kWin98Key + " /v Version /d win98 /f", 20000);
        ASSERT_EQ(added.exit_code, 0u) << added.output;
    }
    void TearDown() override {
        wintest::RunResult removed = wintest::run(std::string("reg.exe delete ") + kWin98Key + " /f", 20000);
        EXPECT_EQ(removed.exit_code, 0u) << removed.output;
        Service::TearDown();
    }
};

TEST_F(Win98Mode, BadInstallDirectoryEndsWith38AndItsLine) {
    wintest::DbwinListener listener;
    ASSERT_TRUE(listener.listening());
    wintest::RunResult run =
        wintest::run("\"" + wintest::cron_exe() + "\" " + root_ + "\\not-installed", 20000);
    ASSERT_TRUE(run.finished) << run.output;
    // 94 would be the NT family's code for the same failure.
    EXPECT_EQ(run.exit_code, 38u);
    EXPECT_TRUE(listener.wait_for(
        [](const wintest::DebugLine& l) {
            return l.pid != GetCurrentProcessId() && l.text == "agent\\cron\\cron:167\r\n";
        },
        5000));
}

TEST_F(Win98Mode, LoopTurnsATriggerIntoProbeThenPath) {
    const std::string dir = make_install("win98");
    wintest::Engine engine(make_dir("engine"));
    ASSERT_TRUE(engine.ready());
    wintest::DbwinListener listener;
    ASSERT_TRUE(listener.listening());
    test::write_file(dir + "\\etc\\job.zbs.now", "");

    solo_ = wintest::start("\"" + dir + "\\omvar-cron.exe\" " + dir, nullptr);
    ASSERT_NE(solo_, nullptr);
    const DWORD pid = GetProcessId(solo_);
    ASSERT_TRUE(test::wait_until([&] { return pid_in(dir + "\\etc\\omvarcrond.pid") == pid; }, 30000))
        << test::read_file(dir + "\\etc\\omvarcrond.pid");
    // The loop's first tick comes at the next minute boundary, triggers at the ticks after it.
    ASSERT_TRUE(test::wait_until([&] { return engine.messages().size() >= 2; }, 90000))
        << test::read_file(engine.record());
    EXPECT_EQ(engine.messages(),
              (std::vector<std::string>{std::string(1, '\0'), dir + "/etc/job.zbs" + '\0'}));
    EXPECT_TRUE(listener.wait_for(
        [&](const wintest::DebugLine& l) {
            return l.pid == pid && l.text == "found " + dir + "/etc/job.zbs.now\r\n";
        },
        5000));
    EXPECT_FALSE(wintest::exists(dir + "\\etc\\job.zbs.now"));
    // No stop path in this mode: the loop goes on until the process is ended.
    EXPECT_EQ(WaitForSingleObject(solo_, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(Service, StatusJudgesTheRegistration) {
    const std::string svc = make_install("svc");
    const std::string blank = make_install("with blank");
    struct Case {
        const char* what;
        std::string binpath;  // as sc takes it after "binpath= "
        const char* start;
        std::string install_dir;  // the one status checks
        const char* level;
        const char* detail;
    };
    const Case cases[] = {
        {"automatic, this directory", svc + "\\omvar-cron.exe " + svc, "auto", svc, "ok",
         "registered, automatic start"},
        // Two backslashes: sc reads one before the closing quote as escaping it.
        {"trailing backslash", svc + "\\omvar-cron.exe " + svc + "\\\\", "auto", svc, "ok",
         "runs this install directory"},
        {"manual start", svc + "\\omvar-cron.exe " + svc, "demand", svc, "warn",
         "does not start with Windows"},
        {"another directory", svc + "\\omvar-cron.exe " + root_, "auto", svc, "fail", "not this one"},
        {"install directory in quotes", svc + "\\omvar-cron.exe \\\"" + svc + "\\\"", "auto", svc, "fail",
         "quotes become part of the path"},
        {"blank in the unquoted program path", blank + "\\omvar-cron.exe " + blank, "auto", blank, "fail",
         "no quotes: Windows may start"},
        {"blank in the quoted program path", "\\\"" + blank + "\\omvar-cron.exe\\\" " + blank, "auto", blank,
         "ok", "runs this install directory"},
    };
    auto service_check = [](const std::string& install_dir) {
        wintest::RunResult run = wintest::run(
            "\"" + wintest::zbs_exe() + "\" status --json --install-dir \"" + install_dir + "\"", 60000);
        test::Json doc;
        EXPECT_TRUE(test::JsonReader::parse(run.output, &doc)) << run.output;
        for (const test::Json& check : doc["checks"].items) {
            if (check["name"].text == "service") {
                return std::make_pair(check["level"].text, check["detail"].text);
            }
        }
        return std::make_pair(std::string("missing"), run.output);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        wintest::RunResult created =
            sc(std::string("create ") + kService + " binpath= \"" + c.binpath + "\" start= " + c.start);
        ASSERT_EQ(created.exit_code, 0u) << created.output;
        auto [level, detail] = service_check(c.install_dir);
        EXPECT_EQ(level, c.level) << detail;
        EXPECT_NE(detail.find(c.detail), std::string::npos) << detail;
        EXPECT_EQ(sc(std::string("delete ") + kService).exit_code, 0u);
    }
    auto [level, detail] = service_check(svc);
    EXPECT_EQ(level, "warn") << detail;
    EXPECT_NE(detail.find("is not registered"), std::string::npos) << detail;
}

}  // namespace
