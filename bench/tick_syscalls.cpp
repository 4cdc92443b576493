// One minute tick of the agent in a process of its own, for counting its system
// calls with strace:
//   tick_syscalls DIR N   makes DIR/etc with a key file and N schedule files of
//                         80 bytes, none due at the tick
//   tick_syscalls DIR     runs one minute tick over DIR (requests and program
//                         starts are only counted, never made)
// bench/run traces the second form with N files and with none; the difference
// divided by N is what one schedule file costs.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "agent/cron/settings.h"
#include "agent/cron/tick_actions.h"
#include "agent/cron/tick_loop.h"
#include "agent/crypt/key_file.h"
#include "agent/platform/platform.h"
#include "bench/null_system.h"
#include "tests/encrypted_file.h"

namespace {

int make_files(int count) {
    unsigned char key[omvar::crypt::kScheduleKeySize];
    if (omvar::crypt::load_schedule_key(".", key) != 0) {
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        char name[64];
        char text[80];
        std::snprintf(name, sizeof name, "etc/job%05d.zbs", i);
        // 70 bytes of text: 80 bytes of ciphertext.
        int n = std::snprintf(text, sizeof text,
                              "# Omvar Backup Schedule 1\njob=job%05d\nschedule=30 3 * * *\nretain=7\n", i);
        if (n < 0 ||
            !omvar::test::write_encrypted_file(name, std::string(text, static_cast<std::size_t>(n)))) {
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: tick_syscalls DIR [N]\n");
        return 2;
    }
    if (argc == 3) {
        mkdir((std::string(argv[1]) + "/etc").c_str(), 0755);
    }
    if (omvar::cron::agent_init(argv[1]) != 0) {
        return 1;
    }
    if (argc == 3) {
        return make_files(std::atoi(argv[2]));
    }
    std::tm t{};
    t.tm_year = 109;
    t.tm_mday = 5;
    t.tm_hour = 2;
    t.tm_isdst = -1;
    omvar::cron::next_tick = static_cast<omvar::platform::Seconds>(std::mktime(&t));
    omvar::cron::on_tick();
    return omvar::bench::null_writes == 0 ? 0 : 1;
}
