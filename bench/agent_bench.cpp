// The agent's own costs: one schedule match, a minute tick over 10,000 schedule
// files against plainly opening and reading the same files (through the
// agent's stream and in a bare C loop), the run-now polls beside those files,
// omvar-zbs list over
// them against that tick, the heap allocations
// of such a tick (the C runtime's and OpenSSL's apart), and the real binary's CPU
// time and peak memory while it idles.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "agent/cron/schedule.h"
#include "agent/cron/settings.h"
#include "agent/cron/tick_actions.h"
#include "agent/cron/tick_loop.h"
#include "agent/crypt/key_file.h"
#include "agent/platform/inspect.h"
#include "agent/platform/platform.h"
#include "bench/null_system.h"
#include "tests/encrypted_file.h"
#include "tools/zbs/scan.h"

// ---------------------------------------------------------------- allocation counters

// Every malloc of the process goes through here while counting is on; OpenSSL's
// own go through its memory hooks as well, and C++ allocations through new.
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void __libc_free(void*);

namespace {
bool counting = false;
long malloc_calls = 0;
long openssl_calls = 0;
long new_calls = 0;
}  // namespace

extern "C" void* malloc(std::size_t n) {
    if (counting) {
        ++malloc_calls;
    }
    return __libc_malloc(n);
}
extern "C" void* calloc(std::size_t a, std::size_t b) {
    if (counting) {
        ++malloc_calls;
    }
    return __libc_calloc(a, b);
}
extern "C" void* realloc(void* p, std::size_t n) {
    if (counting) {
        ++malloc_calls;
    }
    return __libc_realloc(p, n);
}
void* operator new(std::size_t n) {
    if (counting) {
        ++new_calls;
    }
    void* p = malloc(n != 0 ? n : 1);  // counted there too
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete(void* p, std::size_t) noexcept { __libc_free(p); }

namespace {

void* openssl_malloc(std::size_t n, const char*, int) {
    if (counting) {
        ++openssl_calls;
    }
    return __libc_malloc(n);
}
void* openssl_realloc(void* p, std::size_t n, const char*, int) {
    if (counting) {
        ++openssl_calls;
    }
    return __libc_realloc(p, n);
}
void openssl_free(void* p, const char*, int) { std::free(p); }

// ---------------------------------------------------------------- fixture

constexpr int kScheduleFiles = 10000;
constexpr int kDueEvery = 100;  // one file in a hundred is due at the tick

bool install_made = false;

struct Install {
    std::string dir;
    std::vector<std::string> files;
    omvar::platform::Seconds tick_time = 0;  // a minute boundary: 02:00 local
};

// An install directory (the agent's settings point at it) with 10,000 schedule
// files of a typical size, one in a hundred due at 02:00 and one in a hundred
// never due.
const Install& install() {
    static Install f;
    if (!f.dir.empty()) {
        return f;
    }
    char pattern[] = "/tmp/omvar-agent-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::abort();
    }
    f.dir = pattern;
    install_made = true;
    if (mkdir((f.dir + "/etc").c_str(), 0755) != 0 || omvar::cron::agent_init(f.dir.c_str()) != 0) {
        std::abort();
    }
    unsigned char key[32];
    if (omvar::crypt::load_schedule_key(".", key) != 0) {
        std::abort();
    }
    for (int i = 0; i < kScheduleFiles; ++i) {
        std::string name = f.dir + "/etc/job" + std::to_string(i) + ".zbs";
        std::string text = "# Omvar Backup Schedule 1\njob=job" + std::to_string(i) + "\nsource=C:\\Data\\" +
                           std::to_string(i) + "\ntarget=D:\\Backup\n" +
                           (i % kDueEvery == 0               ? "schedule=0 2 * * *\r\n"
                            : i % kDueEvery == kDueEvery / 2 ? "schedule=0 0 * * 2020\r\n"  // never due
                                                             : "schedule=30 3 * * *\r\n") +
                           "retain=7\n";
        if (!omvar::test::write_encrypted_file(name.c_str(), text)) {
            std::abort();
        }
        f.files.push_back(name);
    }
    std::tm t{};
    t.tm_year = 109;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = 2;
    t.tm_isdst = -1;
    f.tick_time = static_cast<omvar::platform::Seconds>(std::mktime(&t));
    return f;
}

void minute_tick(const Install& f) {
    omvar::cron::last_minute = -1;
    omvar::cron::next_tick = f.tick_time;
    omvar::cron::on_tick();
}

// ---------------------------------------------------------------- benchmarks

void BM_MatchSchedule(benchmark::State& state) {
    static const char* const kExpressions[] = {"56 * * * *", "0 2 * * *", "30 8 mon,fri * *",
                                               "0 12 1,15 * 2009", "5 4 3 2 1"};
    std::tm t{};
    t.tm_min = 30;
    t.tm_hour = 8;
    t.tm_mday = 5;
    t.tm_year = 109;
    t.tm_wday = 1;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(omvar::cron::match_schedule(kExpressions[i], &t));
        i = (i + 1) % (sizeof kExpressions / sizeof kExpressions[0]);
    }
}
BENCHMARK(BM_MatchSchedule);

void BM_MinuteTick10k(benchmark::State& state) {
    const Install& f = install();
    for (auto _ : state) {
        minute_tick(f);
    }
}
BENCHMARK(BM_MinuteTick10k)->Unit(benchmark::kMillisecond)->UseRealTime();

// omvar-zbs list over the same files: each one read as the tick reads it, plus
// its next and previous due minute and its warnings (the never-due ones search
// the whole ten-year horizon both ways). Compared with BM_MinuteTick10k.
void BM_List10k(benchmark::State& state) {
    const Install& f = install();
    for (auto _ : state) {
        omvar::zbs::ScanReport report;
        if (omvar::zbs::scan_install(f.dir, f.tick_time, &report) != 0 ||
            report.rows.size() != static_cast<std::size_t>(kScheduleFiles)) {
            state.SkipWithError("the list did not see every file");
            break;
        }
        benchmark::DoNotOptimize(report.rows.data());
    }
}
BENCHMARK(BM_List10k)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: open, read and close the same 10,000 files without decrypting them.
void BM_OpenReadClose10k(benchmark::State& state) {
    const Install& f = install();
    char buf[1024];
    for (auto _ : state) {
        for (const std::string& path : f.files) {
            std::FILE* file = omvar::platform::open_regular_file(path.c_str());
            benchmark::DoNotOptimize(std::fread(buf, 1, sizeof buf, file));
            std::fclose(file);
        }
    }
}
BENCHMARK(BM_OpenReadClose10k)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline in C: open, fstat, read to the end and close the same 10,000 files,
// the least any reader of whole files does.
void BM_CReadLoop10k(benchmark::State& state) {
    const Install& f = install();
    char buf[1024];
    for (auto _ : state) {
        for (const std::string& path : f.files) {
            int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat st {};
            fstat(fd, &st);
            while (read(fd, buf, sizeof buf) > 0) {
            }
            close(fd);
        }
    }
}
BENCHMARK(BM_CReadLoop10k)->Unit(benchmark::kMillisecond)->UseRealTime();

// The run-now polls between two minute ticks with the 10,000 files in etc and
// no trigger: CPU time of 15 polling ticks (45 seconds of the agent's clock).
// The minute tick before them is not counted.
void BM_Polls10k(benchmark::State& state) {
    const Install& f = install();
    constexpr int kPolls = 15;
    for (auto _ : state) {
        state.PauseTiming();
        minute_tick(f);
        state.ResumeTiming();
        for (int i = 1; i <= kPolls; ++i) {
            omvar::cron::next_tick = f.tick_time + 3 * i;
            omvar::cron::on_tick();
        }
    }
}
BENCHMARK(BM_Polls10k)->Iterations(10)->Unit(benchmark::kMillisecond);

// Heap allocations of one minute tick over the 10,000 files (after a first tick
// that has loaded the key), split by who asked for them.
void BM_TickAllocations(benchmark::State& state) {
    const Install& f = install();
    minute_tick(f);
    long ticks = 0;
    malloc_calls = openssl_calls = new_calls = 0;
    for (auto _ : state) {
        counting = true;
        minute_tick(f);
        counting = false;
        ++ticks;
    }
    // OpenSSL's hooks bypass malloc; new goes through it and is taken out again.
    state.counters["total_per_tick"] = static_cast<double>(malloc_calls + openssl_calls) / ticks;
    state.counters["openssl_per_tick"] = static_cast<double>(openssl_calls) / ticks;
    state.counters["libc_per_tick"] = static_cast<double>(malloc_calls - new_calls) / ticks;
    state.counters["new_per_tick"] = static_cast<double>(new_calls) / ticks;
}
BENCHMARK(BM_TickAllocations)->Iterations(5)->Unit(benchmark::kMillisecond);

// The real binary left alone with an install directory of 100 schedule files
// (none due) and no engine: CPU time per 60 seconds of its clock, peak RSS.
// With OMVAR_BENCH_FAKETIME set to libfaketime's library, the agent's clock and
// sleeps run 10 times fast, so 60 agent seconds pass in about 6.
void BM_AgentIdle(benchmark::State& state) {
    const char* binary = std::getenv("OMVAR_BENCH_AGENT");
    const char* faketime = std::getenv("OMVAR_BENCH_FAKETIME");
    if (binary == nullptr) {
        state.SkipWithError("OMVAR_BENCH_AGENT not set");
        return;
    }
    char pattern[] = "/tmp/omvar-idle-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::abort();
    }
    const std::string dir = pattern;
    mkdir((dir + "/etc").c_str(), 0755);
    const Install& f = install();
    for (int i = 0; i < 100; ++i) {
        std::string copy = "cp " + f.files[static_cast<std::size_t>(i + 1)] + " " + dir + "/etc/";
        if (std::system(copy.c_str()) != 0) {
            std::abort();
        }
    }
    std::string key = "cp " + f.dir + "/etc/omvar.ak " + dir + "/etc/";
    if (std::system(key.c_str()) != 0) {
        std::abort();
    }
    const double speed = faketime != nullptr ? 10.0 : 1.0;
    const double agent_seconds = 60.0;
    double cpu_ms = 0;
    long rss_kib = 0;
    for (auto _ : state) {
        pid_t child = fork();
        if (child == 0) {
            if (faketime != nullptr) {
                setenv("LD_PRELOAD", faketime, 1);
                setenv("FAKETIME", "+0 x10", 1);
                setenv("FAKETIME_NO_CACHE", "1", 1);
            }
            int null_fd = open("/dev/null", O_WRONLY);
            dup2(null_fd, 2);
            execl(binary, binary, dir.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        timespec wait{};
        double real = agent_seconds / speed;
        wait.tv_sec = static_cast<time_t>(real);
        wait.tv_nsec = static_cast<long>((real - static_cast<double>(wait.tv_sec)) * 1e9);
        nanosleep(&wait, nullptr);
        kill(child, SIGTERM);
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        cpu_ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
        rss_kib = usage.ru_maxrss;
    }
    state.counters["cpu_ms_per_60s"] = cpu_ms;
    state.counters["peak_rss_kib"] = static_cast<double>(rss_kib);
    std::string cleanup = "rm -rf " + dir;
    if (std::system(cleanup.c_str()) != 0) {
        std::abort();
    }
}
BENCHMARK(BM_AgentIdle)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // Before OpenSSL allocates anything.
    if (CRYPTO_set_mem_functions(openssl_malloc, openssl_realloc, openssl_free) != 1) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (install_made) {
        std::string cleanup = "rm -rf " + install().dir;
        return std::system(cleanup.c_str()) == 0 ? 0 : 1;
    }
    return 0;
}
