// Decryption throughput of the encrypted line stream on a 64 MiB file, against
// `openssl enc -d` and against a bare EVP loop over the same file in the same
// run, and the cost of evaluating one small schedule file against opening and
// reading that file plainly. The ratios are printed after the table.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "agent/cron/schedule_file.h"
#include "agent/crypt/estream.h"
#include "agent/crypt/key_file.h"
#include "agent/platform/inspect.h"
#include "agent/platform/platform.h"
#include "bench/null_system.h"
#include "tests/encrypted_file.h"

namespace {

constexpr long kLargeSize = 64L * 1024 * 1024;

struct Fixture {
    std::string dir;
    std::string large;
    std::string small_name = "job.zbs";
    unsigned char key[32];
    std::string key_hex;
};

// Built once: an install directory (made the current directory) with a new key
// file, a 64 MiB file of text lines and a small schedule file.
const Fixture& fixture() {
    static Fixture f;
    static bool ready = false;
    if (ready) {
        return f;
    }
    char pattern[] = "/tmp/omvar-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0 || mkdir("etc", 0755) != 0) {
        std::abort();
    }
    f.dir = pattern;
    if (omvar::crypt::load_schedule_key(".", f.key) != 0) {
        std::abort();
    }
    char hex[3];
    for (unsigned char b : f.key) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        f.key_hex += hex;
    }
    std::string text;
    text.reserve(static_cast<std::size_t>(kLargeSize) + 128);
    for (long i = 0; static_cast<long>(text.size()) < kLargeSize; ++i) {
        text += "line ";
        text += std::to_string(i);
        text.append(static_cast<std::size_t>(20 + i % 90), 'x');
        text += '\n';
    }
    text.resize(static_cast<std::size_t>(kLargeSize));
    f.large = f.dir + "/large.bin";
    if (!omvar::test::write_encrypted_file(f.large.c_str(), text) ||
        !omvar::test::write_encrypted_file(
            (f.dir + "/etc/" + f.small_name).c_str(),
            "# Omvar Backup Schedule 1\njob=nightly\nsource=C:\\Data\ntarget=D:\\Backup\n"
            "schedule=0 2 * * *\r\nretain=7\n")) {
        std::abort();
    }
    ready = true;
    return f;
}

void BM_StreamGetsLarge(benchmark::State& state) {
    const Fixture& f = fixture();
    char line[1024];
    for (auto _ : state) {
        std::FILE* file = std::fopen(f.large.c_str(), "rb");
        omvar::crypt::EncryptedStream stream;
        omvar::crypt::estream_open(&stream, file, 0, ".");
        long lines = 0;
        while (omvar::crypt::estream_gets(&stream, line, sizeof line) != nullptr) {
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
        omvar::crypt::estream_close(&stream);
        std::fclose(file);
    }
    state.SetBytesProcessed(state.iterations() * kLargeSize);
}
BENCHMARK(BM_StreamGetsLarge)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline in process: the same cipher over the same file, 64 KiB at a time.
void BM_BareEvpLarge(benchmark::State& state) {
    const Fixture& f = fixture();
    static unsigned char in[65536];
    static unsigned char out[65536 + 32];
    const unsigned char iv[16] = {};
    for (auto _ : state) {
        std::FILE* file = std::fopen(f.large.c_str(), "rb");
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, f.key, iv);
        std::size_t n = 0;
        int produced = 0;
        while ((n = std::fread(in, 1, sizeof in, file)) > 0) {
            EVP_DecryptUpdate(ctx, out, &produced, in, static_cast<int>(n));
            benchmark::DoNotOptimize(out[0]);
        }
        EVP_DecryptFinal_ex(ctx, out, &produced);
        EVP_CIPHER_CTX_free(ctx);
        std::fclose(file);
    }
    state.SetBytesProcessed(state.iterations() * kLargeSize);
}
BENCHMARK(BM_BareEvpLarge)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline out of process: the openssl tool, including its start-up.
void BM_OpensslEncLarge(benchmark::State& state) {
    const Fixture& f = fixture();
    const std::string command = "openssl enc -d -aes-256-cbc -K " + f.key_hex +
                                " -iv 00000000000000000000000000000000 -in " + f.large + " -out /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("openssl enc -d failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kLargeSize);
}
BENCHMARK(BM_OpensslEncLarge)->Unit(benchmark::kMillisecond)->UseRealTime();

// One evaluation of a small schedule file with the key cached, due or not due
// (due also sends the request to a channel that does nothing).
void BM_EvaluateSmallScheduleFile(benchmark::State& state) {
    const Fixture& f = fixture();
    omvar::platform::DirEntry entry{};
    std::snprintf(entry.name, sizeof entry.name, "%s", f.small_name.c_str());
    std::tm t{};
    t.tm_hour = 2;
    t.tm_min = state.range(0) != 0 ? 0 : 1;
    t.tm_mday = 5;
    t.tm_year = 109;
    t.tm_wday = 1;
    const std::string dir = f.dir + "/etc";
    for (auto _ : state) {
        omvar::cron::evaluate_schedule_file(dir.c_str(), &entry, &t);
    }
}
BENCHMARK(BM_EvaluateSmallScheduleFile)->Arg(0)->Arg(1);

// Baseline: open, read and close the same file without decrypting it.
void BM_ReadSmallFilePlainly(benchmark::State& state) {
    const Fixture& f = fixture();
    const std::string path = f.dir + "/etc/" + f.small_name;
    char buf[1024];
    for (auto _ : state) {
        std::FILE* file = omvar::platform::open_regular_file(path.c_str());
        benchmark::DoNotOptimize(std::fread(buf, 1, sizeof buf, file));
        std::fclose(file);
    }
}
BENCHMARK(BM_ReadSmallFilePlainly);

// The usual table, then each figure as a ratio of times against its baseline
// measured in the same run (the medians when repetitions are asked for).
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Plain text: the output usually goes to a log.
    RatioReporter() : ConsoleReporter(OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || (run.run_type == Run::RT_Aggregate && !median)) {
                continue;
            }
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty()) {
                name += "/" + run.run_name.args;
            }
            Figure& figure = seconds_[name];
            if (median || !figure.median) {
                figure.seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
                figure.median = median;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        GetOutputStream() << "\nratios of real time (lower is faster):\n";
        ratio("stream gets, 64 MiB / openssl enc -d", "BM_StreamGetsLarge", "BM_OpensslEncLarge");
        ratio("stream gets, 64 MiB / bare EVP loop", "BM_StreamGetsLarge", "BM_BareEvpLarge");
        ratio("evaluate small file, not due / plain read", "BM_EvaluateSmallScheduleFile/0",
              "BM_ReadSmallFilePlainly");
        ratio("evaluate small file, due / plain read", "BM_EvaluateSmallScheduleFile/1",
              "BM_ReadSmallFilePlainly");
    }

  private:
    struct Figure {
        double seconds = 0;
        bool median = false;
    };

    void ratio(const char* what, const std::string& measured, const std::string& baseline) {
        auto m = seconds_.find(measured);
        auto b = seconds_.find(baseline);
        if (m == seconds_.end() || b == seconds_.end() || b->second.seconds <= 0) {
            return;  // one of them was filtered out or failed
        }
        char line[128];
        int n =
            std::snprintf(line, sizeof line, "  %-45s %.2f\n", what, m->second.seconds / b->second.seconds);
        if (n > 0 && static_cast<std::size_t>(n) < sizeof line) {
            GetOutputStream() << line;
        }
    }

    std::map<std::string, Figure> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const Fixture& f = fixture();
    std::string cleanup = "rm -rf " + f.dir;
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
