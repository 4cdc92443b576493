// Schedule-file evaluation over arbitrary plaintext: the text is encrypted under
// the installation's key, evaluated as a minute tick would, and the messages sent
// to a recording channel are compared with a plain reading of the file format.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "agent/cron/schedule.h"
#include "agent/cron/schedule_file.h"
#include "agent/platform/platform.h"
#include "fuzz_support.h"
#include "tests/encrypted_file.h"

namespace {

std::vector<std::string> messages;
int opens = 0;
int launches = 0;

// The lines as a 1024-byte fgets buffer returns them: up to a line feed, or 1023 bytes.
std::vector<std::string> pieces_of(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t lf = text.find('\n', at);
        std::size_t n = lf == std::string::npos ? text.size() - at : lf - at + 1;
        if (n > 1023) {
            n = 1023;
        }
        out.push_back(text.substr(at, n));
        at += n;
    }
    return out;
}

bool reference_due(const std::string& plain, const std::tm& t) {
    std::vector<std::string> pieces = pieces_of(plain);
    if (pieces.empty() || std::strncmp(pieces[0].c_str(), "# Omvar Backup Schedule", 23) != 0) {
        return false;
    }
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        std::string line = pieces[i].c_str();  // as C text: an embedded NUL ends it
        line = line.substr(0, line.find('\n'));
        line = line.substr(0, line.find('\r'));
        if (line.size() >= 9 && strncasecmp(line.c_str(), "schedule=", 9) == 0) {
            return omvar::cron::match_schedule(line.c_str() + 9, &t) == 1;
        }
    }
    return false;
}

}  // namespace

// This target's channel and launcher: every request is kept, no engine starts.
namespace omvar::platform {

int mailslot_open(const char*, MailslotHandle* handle) {
    ++opens;
    *handle = 3;
    return 0;
}
int mailslot_write(MailslotHandle, const void* data, std::size_t length) {
    messages.emplace_back(static_cast<const char*>(data), length);
    return 0;
}
void mailslot_close(MailslotHandle) {}
int launch_process(const LaunchSpec&) {
    ++launches;
    return -1;
}

}  // namespace omvar::platform

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = false;
    if (!ready) {
        unsigned char key[32];
        for (int i = 0; i < 32; ++i) {
            key[i] = static_cast<unsigned char>(i * 37 + 11);
        }
        omvar::fuzz::use_key(key);
        ready = true;
    }
    omvar::fuzz::Reader in{data, size};
    const std::uint8_t flags = in.byte();
    std::tm t{};
    t.tm_min = in.byte() % 60;
    t.tm_hour = in.byte() % 24;
    t.tm_mday = 1 + in.byte() % 31;
    t.tm_mon = in.byte() % 12;
    t.tm_year = 100 + in.byte() % 60;
    t.tm_wday = in.byte() % 7;
    std::string plain = in.rest();
    if ((flags & 1) != 0) {
        // Help the fuzzer past the header most of the time.
        plain = "# Omvar Backup Schedule\n" + plain;
    }

    FUZZ_CHECK(omvar::test::write_encrypted_file("etc/job.zbs", plain));
    messages.clear();
    opens = 0;
    launches = 0;
    omvar::platform::DirEntry entry{};
    std::strcpy(entry.name, "job.zbs");
    const std::string dir = omvar::fuzz::install_dir() + "/etc";
    omvar::cron::evaluate_schedule_file(dir.c_str(), &entry, &t);

    const bool due = reference_due(plain, t);
    FUZZ_CHECK(launches == 0);
    if (due) {
        const std::string path = dir + "/job.zbs";
        FUZZ_CHECK(opens == 1);
        FUZZ_CHECK(messages.size() == 2);
        FUZZ_CHECK(messages[0] == std::string(1, '\0'));
        FUZZ_CHECK(messages[1] == path + std::string(1, '\0'));
    } else {
        FUZZ_CHECK(opens == 0);
        FUZZ_CHECK(messages.empty());
    }
    return 0;
}
