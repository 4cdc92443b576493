// The tick clock and main loop on a simulated clock: the grid, catch-up after late
// ticks, re-anchoring after clock changes, daylight-saving days and the pid file.
// Hours of ticks run in milliseconds; nothing here waits for real time.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "agent/cron/settings.h"
#include "agent/cron/tick_loop.h"
#include "agent/platform/platform.h"
#include "test_support.h"

namespace {

using omvar::cron::cron_run_with;
using omvar::cron::next_tick;
using omvar::platform::Seconds;
using omvar::test::FakeClock;
using omvar::test::local_seconds;
using omvar::test::local_text;
using omvar::test::ScopedTimeZone;
using omvar::test::TempDir;

struct Tick {
    Seconds at;     // next_tick while the tick runs
    Seconds clock;  // the clock when it ran
    int sleeps;     // one-second sleeps before it
};

// What the recording tick action sees and does. The action is a plain function,
// so it reaches its state through this pointer.
struct Recorder {
    FakeClock* clock = nullptr;
    std::atomic<int> run{1};
    std::size_t stop_after = 1;
    std::vector<Tick> ticks;
    std::function<void(std::size_t index)> during;  // runs inside tick `index`
};

Recorder* recorder = nullptr;

void record_tick() {
    Recorder& r = *recorder;
    r.ticks.push_back({next_tick, r.clock->now, r.clock->sleeps});
    if (r.during) {
        r.during(r.ticks.size() - 1);
    }
    // Also a guard against a loop that never ends.
    if (r.ticks.size() >= r.stop_after) {
        r.run.store(0);
    }
}

class TickLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::create_directory(dir_.file("etc")));
        ASSERT_LT(dir_.path().size() + 1, sizeof omvar::cron::agent_settings.install_dir);
        std::strcpy(omvar::cron::agent_settings.install_dir, dir_.path().c_str());
    }

    std::string pid_path() const { return dir_.file("etc/omvarcrond.pid"); }

    // Runs the loop on `clock` until `count` ticks have run.
    std::vector<Tick> run(FakeClock* clock, std::size_t count,
                          std::function<void(std::size_t)> during = nullptr) {
        Recorder r;
        r.clock = clock;
        r.stop_after = count;
        r.during = std::move(during);
        recorder = &r;
        cron_run_with(&r.run, record_tick);
        recorder = nullptr;
        return r.ticks;
    }

    // Every tick stands at its own place on the grid from m0_ + 60: none skipped.
    void expect_no_tick_skipped(const std::vector<Tick>& ticks) const {
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(ticks[i].at, m0_ + 60 + 3 * static_cast<Seconds>(i));
        }
    }

    // Ticks first..last all ran at clock `at`, back to back: no sleep between
    // them, and `sleeps` before them.
    static void expect_back_to_back(const std::vector<Tick>& ticks, std::size_t first, std::size_t last,
                                    Seconds at, int sleeps) {
        for (std::size_t i = first; i <= last; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(ticks[i].clock, at);
            EXPECT_EQ(ticks[i].sleeps, sleeps);
        }
    }

    ScopedTimeZone utc_{"UTC"};
    TempDir dir_;
    // A minute boundary, and the tick grid starts one minute later.
    const Seconds m0_ = local_seconds(2026, 5, 4, 10, 15, 0);
};

// What the pid file holds: this process's id on a text-mode line.
std::string pid_line() { return std::to_string(omvar::platform::process_id()) + omvar::test::kTextLineEnd; }

// The next minute boundary strictly after t (UTC, so boundaries are multiples of 60).
Seconds boundary_after(Seconds t) { return (t / 60 + 1) * 60; }

TEST_F(TickLoop, FirstTickComesAtTheNextMinuteBoundaryInOneSecondSteps) {
    struct Case {
        int start_second;
        int sleeps;
    };
    const Case cases[] = {{59, 1}, {0, 60}, {42, 18}, {1, 59}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start_second);
        FakeClock clock(m0_ + c.start_second);
        std::vector<Tick> ticks = run(&clock, 1);
        ASSERT_EQ(ticks.size(), 1u);
        EXPECT_EQ(ticks[0].at, m0_ + 60);
        EXPECT_EQ(ticks[0].clock, m0_ + 60);
        EXPECT_EQ(ticks[0].sleeps, c.sleeps);
        EXPECT_EQ(clock.slept_ms, 1000LL * c.sleeps);
    }
}

TEST_F(TickLoop, TicksFallEveryThreeSecondsOnTheMinuteGrid) {
    FakeClock clock(m0_ + 59);
    std::vector<Tick> ticks = run(&clock, 60);  // three minutes
    ASSERT_EQ(ticks.size(), 60u);
    expect_no_tick_skipped(ticks);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ticks[i].clock, ticks[i].at);
        EXPECT_EQ(ticks[i].sleeps, 1 + 3 * static_cast<int>(i));
    }
    // Seconds 0, 3, ... 57 of each minute: twenty ticks per minute.
    EXPECT_EQ(local_text(ticks[0].at), "2026-05-04 10:16:00");
    EXPECT_EQ(local_text(ticks[19].at), "2026-05-04 10:16:57");
    EXPECT_EQ(local_text(ticks[20].at), "2026-05-04 10:17:00");
}

TEST_F(TickLoop, PidFileHoldsThePidWhileRunningAndIsRemovedAfter) {
    // A file left behind by a killed agent, longer than the new contents.
    omvar::test::write_file(pid_path(), "4194304\nleft over\n");
    FakeClock clock(m0_ + 58);
    std::string during_tick;
    run(&clock, 2, [&](std::size_t) { during_tick = omvar::test::read_file(pid_path()); });
    EXPECT_EQ(during_tick, pid_line());
    EXPECT_FALSE(omvar::test::file_exists(pid_path()));
}

TEST_F(TickLoop, PidFileNeverWritesThroughASymlink) {
    OMVAR_POSIX_ONLY("symlinks");
    TempDir elsewhere;
    const std::string target = elsewhere.file("precious");
    omvar::test::write_file(target, "keep me\n");
    std::filesystem::create_symlink(target, pid_path());
    FakeClock clock(m0_ + 59);
    std::string during_tick;
    run(&clock, 1, [&](std::size_t) { during_tick = omvar::test::read_file(pid_path()); });
    EXPECT_EQ(omvar::test::read_file(target), "keep me\n");
    EXPECT_EQ(during_tick, pid_line());
    EXPECT_FALSE(omvar::test::file_exists(pid_path()));
    EXPECT_TRUE(omvar::test::file_exists(target));
}

TEST_F(TickLoop, MissingEtcDirectoryDoesNotStopTheLoop) {
    ASSERT_TRUE(std::filesystem::remove(dir_.file("etc")));
    FakeClock clock(m0_ + 59);
    EXPECT_EQ(run(&clock, 3).size(), 3u);
}

// The longest install directory the agent accepts still gets its pid file, so
// that no agent runs without it (or, on Linux, without its one-agent lock). On
// Windows the agent cannot enter a directory beyond MAX_PATH at all.
TEST_F(TickLoop, LongestInstallDirectoryStillHasItsPidFile) {
    OMVAR_SKIP_WITHOUT_LONG_PATHS();
    std::string dir = dir_.path();
    while (dir.size() < 1023) {
        dir += "/" + std::string(std::min<std::size_t>(200, 1023 - dir.size() - 1), 'd');
    }
    ASSERT_EQ(dir.size(), 1023u);
    std::filesystem::create_directories(dir + "/etc");
    std::strcpy(omvar::cron::agent_settings.install_dir, dir.c_str());
    const std::string pid = dir + "/etc/omvarcrond.pid";
    FakeClock clock(m0_ + 59);
    std::string during_tick;
    run(&clock, 1, [&](std::size_t) { during_tick = omvar::test::read_file(pid); });
    EXPECT_EQ(during_tick, pid_line());
    EXPECT_FALSE(omvar::test::file_exists(pid));
}

TEST_F(TickLoop, FlagAlreadyClearWritesAndRemovesThePidFileWithoutATick) {
    // The clock notes, at every reading, what the pid file holds.
    FakeClock clock(1'800'000'000);
    std::vector<std::string> seen;
    clock.on_read = [&] {
        seen.push_back(omvar::test::file_exists(pid_path()) ? omvar::test::read_file(pid_path()) : "<none>");
    };

    Recorder r;
    r.run.store(0);
    recorder = &r;
    cron_run_with(&r.run, record_tick);
    recorder = nullptr;

    EXPECT_TRUE(r.ticks.empty());
    EXPECT_EQ(clock.sleeps, 0);
    ASSERT_FALSE(seen.empty());
    for (const std::string& contents : seen) {
        EXPECT_EQ(contents, pid_line());
    }
    EXPECT_FALSE(omvar::test::file_exists(pid_path()));
}

TEST_F(TickLoop, ForwardJumpOfThirtySecondsRunsTheSkippedTicksBackToBack) {
    FakeClock clock(m0_ + 59);
    clock.jump_at(m0_ + 62, 30);  // between the ticks of :00 and :03
    std::vector<Tick> ticks = run(&clock, 13);
    ASSERT_EQ(ticks.size(), 13u);
    EXPECT_EQ(ticks[0].clock, m0_ + 60);
    expect_no_tick_skipped(ticks);
    // :03 to :30 all run at once, at clock :32, with no sleep between them.
    expect_back_to_back(ticks, 1, 10, m0_ + 92, ticks[1].sleeps);
    EXPECT_EQ(ticks[11].clock, m0_ + 93);
    EXPECT_EQ(ticks[12].clock, m0_ + 96);
}

TEST_F(TickLoop, JumpOfTwoMinutesReanchorsAtTheNextBoundaryOfTheNewClock) {
    struct Case {
        Seconds delta;
        Seconds next;  // the first tick after the change
    };
    // The change lands at :62, so the clock reads :182 or -:58 afterwards.
    const Case cases[] = {{120, m0_ + 240}, {-120, m0_}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delta);
        FakeClock clock(m0_ + 59);
        clock.jump_at(m0_ + 62, c.delta);
        std::vector<Tick> ticks = run(&clock, 4);
        ASSERT_EQ(ticks.size(), 4u);
        EXPECT_EQ(ticks[0].at, m0_ + 60);
        // The tick times in between are never visited.
        for (std::size_t i = 1; i < ticks.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(ticks[i].at, c.next + 3 * static_cast<Seconds>(i - 1));
            EXPECT_EQ(ticks[i].clock, ticks[i].at);
        }
    }
}

// Whether a clock change re-anchors depends on how far the next tick was at that
// moment (d = 3 while a tick runs, then 2, 1 and 0 after each one-second sleep),
// so every change is tried at each of these four places. Changes of 58 to 63
// seconds are where the outcome depends on the place; the rule is that a
// difference of exactly 60 keeps the grid and 61 re-anchors.
TEST_F(TickLoop, ReanchoringBandEdgesAtEveryPhaseOfTheWait) {
    struct Case {
        Seconds delta;
        bool reanchors[4];  // change made with d = 3, 2, 1, 0
    };
    const Case cases[] = {
        {30, {false, false, false, false}},  {60, {false, false, false, false}},
        {61, {false, false, false, true}},   {62, {false, false, true, true}},
        {63, {false, true, true, true}},     {64, {true, true, true, true}},
        {120, {true, true, true, true}},     {-30, {false, false, false, false}},
        {-57, {false, false, false, false}}, {-58, {true, false, false, false}},
        {-59, {true, true, false, false}},   {-60, {true, true, true, false}},
        {-61, {true, true, true, true}},     {-120, {true, true, true, true}},
    };
    // Ticks run from :00 every 3 s; the change comes before the tick due at T = :30.
    const Seconds t = m0_ + 90;
    const std::size_t before = 9;  // the tick at T - 3
    for (const Case& c : cases) {
        for (int phase = 0; phase < 4; ++phase) {
            const int d = 3 - phase;
            SCOPED_TRACE("change " + std::to_string(c.delta) + " s with d = " + std::to_string(d));
            FakeClock clock(m0_ + 59);
            std::function<void(std::size_t)> during;
            if (d == 3) {
                // The change happens while the tick at T - 3 runs (a long tick
                // looks the same to the loop).
                during = [&](std::size_t index) {
                    if (index == before) {
                        clock.now += c.delta;
                    }
                };
            } else {
                clock.jump_at(t - d, c.delta);
            }
            std::vector<Tick> ticks = run(&clock, before + 2, during);
            ASSERT_EQ(ticks.size(), before + 2);
            ASSERT_EQ(ticks[before].at, t - 3);
            ASSERT_EQ(ticks[before].clock, t - 3);

            const Seconds changed = t - d + c.delta;
            const Tick& next = ticks[before + 1];
            if (c.reanchors[phase]) {
                EXPECT_EQ(next.at, boundary_after(changed));
                EXPECT_EQ(next.clock, next.at);
            } else {
                EXPECT_EQ(next.at, t);
                // Forward: due already, runs at once; backward: waits for T again.
                EXPECT_EQ(next.clock, c.delta > 0 ? changed : t);
            }
        }
    }
}

TEST_F(TickLoop, TickOverrunningByTenSecondsIsFollowedByCatchUpTicksNoneSkipped) {
    FakeClock clock(m0_ + 59);
    std::vector<Tick> ticks = run(&clock, 9, [&](std::size_t index) {
        if (index == 2) {  // the tick at :06 takes 10 seconds
            clock.now += 10;
        }
    });
    ASSERT_EQ(ticks.size(), 9u);
    expect_no_tick_skipped(ticks);
    // :09, :12 and :15 are late and run back to back at :16; :18 is waited for.
    expect_back_to_back(ticks, 3, 5, m0_ + 76, ticks[2].sleeps);
    EXPECT_EQ(ticks[6].clock, m0_ + 78);
    EXPECT_EQ(ticks[6].sleeps, ticks[2].sleeps + 2);
    EXPECT_EQ(ticks[8].clock, m0_ + 84);
}

// The zone's rules come from the host's time-zone database, which the Windows
// runtime does not read.
class DaylightSaving : public TickLoop {
  protected:
    void SetUp() override {
        OMVAR_POSIX_ONLY("the host's time-zone database");
        TickLoop::SetUp();
    }
    ScopedTimeZone berlin_{"Europe/Berlin"};
};

int local_hour(Seconds t) {
    std::tm local{};
    omvar::platform::clock_to_local(t, &local);
    return local.tm_hour;
}

TEST_F(DaylightSaving, FallBackDayTicksTheRepeatedHourTwice) {
    // 25 October 2026: at 03:00 summer time the clock goes back to 02:00.
    const Seconds start = local_seconds(2026, 10, 25, 0, 59, 30);
    const Seconds end = local_seconds(2026, 10, 25, 4, 0, 0);
    ASSERT_EQ(end - (start + 30), 4 * 3600) << "no daylight-saving data for Europe/Berlin";

    FakeClock clock(start);
    std::vector<Tick> ticks = run(&clock, 4 * 1200);  // 01:00 to 04:00 local, four real hours
    ASSERT_EQ(ticks.size(), 4u * 1200);
    EXPECT_EQ(local_text(ticks.front().at), "2026-10-25 01:00:00");
    EXPECT_EQ(local_text(ticks.back().at), "2026-10-25 03:59:57");

    int hour_two = 0;
    std::vector<std::size_t> half_past_two;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        // Seconds since the epoch never jump: every tick 3 s after the one before.
        ASSERT_EQ(ticks[i].at, ticks[0].at + 3 * static_cast<Seconds>(i)) << i;
        ASSERT_EQ(ticks[i].clock, ticks[i].at) << i;
        hour_two += local_hour(ticks[i].at) == 2;
        if (local_text(ticks[i].at) == "2026-10-25 02:30:00") {
            half_past_two.push_back(i);
        }
    }
    EXPECT_EQ(hour_two, 2 * 1200);
    ASSERT_EQ(half_past_two.size(), 2u);
    EXPECT_EQ(ticks[half_past_two[1]].at - ticks[half_past_two[0]].at, 3600);
}

TEST_F(DaylightSaving, SpringForwardDayGoesFromOneFiftyNineToThree) {
    // 29 March 2026: at 02:00 winter time the clock goes forward to 03:00.
    const Seconds start = local_seconds(2026, 3, 29, 0, 59, 30);
    const Seconds end = local_seconds(2026, 3, 29, 4, 0, 0);
    ASSERT_EQ(end - (start + 30), 2 * 3600) << "no daylight-saving data for Europe/Berlin";

    FakeClock clock(start);
    std::vector<Tick> ticks = run(&clock, 2 * 1200);  // 01:00 to 04:00 local, two real hours
    ASSERT_EQ(ticks.size(), 2u * 1200);
    int per_hour[24] = {};
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        ASSERT_EQ(ticks[i].at, ticks[0].at + 3 * static_cast<Seconds>(i)) << i;
        ASSERT_EQ(ticks[i].clock, ticks[i].at) << i;
        ++per_hour[local_hour(ticks[i].at)];
    }
    EXPECT_EQ(per_hour[1], 1200);
    EXPECT_EQ(per_hour[2], 0);
    EXPECT_EQ(per_hour[3], 1200);
    EXPECT_EQ(local_text(ticks[1199].at), "2026-03-29 01:59:57");
    EXPECT_EQ(local_text(ticks[1200].at), "2026-03-29 03:00:00");
}

}  // namespace
