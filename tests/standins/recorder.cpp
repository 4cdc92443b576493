// Stand-in for the updater omvar-update1.exe and the mail sender omvar-txmail.exe
// (copy it into an install directory under either name), for unit and end-to-end
// tests. Each run appends one block to a record file in a single write and exits 0.
//
// Environment (all optional):
//   OMVAR_RECORDER_RECORD=path    record file (default "recorder-record.txt" in the
//                                 working directory)
//   OMVAR_RECORDER_SLEEP_MS=n     keep running this long after recording, to show that
//                                 the starter does not wait
//
// Block, one field per line, separated by a tab:
//   run    <last path component of argv[0]>
//   argv0  <argv[0]>
//   arg    <argv[i]>          one line per further argument
//   cwd    <working directory>
//   nice   <niceness>
//   fds    <open descriptors, ascending, comma-separated, e.g. 0,1,2>
//   sigign <SigIgn mask from /proc/self/status, hex>
//   sigblk <SigBlk mask from /proc/self/status, hex>
//   end
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::string open_descriptors() {
    std::vector<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return "?";
    }
    int own = dirfd(dir);
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        int fd = std::atoi(entry->d_name);
        if (fd != own) {
            fds.push_back(fd);
        }
    }
    closedir(dir);
    std::sort(fds.begin(), fds.end());
    std::string out;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        out += (i > 0 ? "," : "") + std::to_string(fds[i]);
    }
    return out;
}

// A line of /proc/self/status such as "SigIgn:\t0000000000001000".
std::string status_field(const char* key) {
    std::FILE* f = std::fopen("/proc/self/status", "re");
    if (f == nullptr) {
        return "?";
    }
    char line[256];
    std::string value = "?";
    std::size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, key, n) == 0 && line[n] == ':') {
            const char* p = line + n + 1;
            while (*p == ' ' || *p == '\t') {
                ++p;
            }
            value.assign(p, std::strcspn(p, "\n"));
            break;
        }
    }
    std::fclose(f);
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    // Listed first, before this program opens anything of its own.
    std::string fds = open_descriptors();

    const char* record_env = std::getenv("OMVAR_RECORDER_RECORD");
    std::string record = record_env != nullptr && record_env[0] != '\0' ? record_env : "recorder-record.txt";

    std::string name = argv[0];
    std::size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) {
        name = name.substr(slash + 1);
    }
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        std::strcpy(cwd, "?");
    }
    errno = 0;
    int nice_value = getpriority(PRIO_PROCESS, 0);

    std::string block = "run\t" + name + "\nargv0\t" + argv[0] + "\n";
    for (int i = 1; i < argc; ++i) {
        block += std::string("arg\t") + argv[i] + "\n";
    }
    block += std::string("cwd\t") + cwd + "\nnice\t" + std::to_string(nice_value) + "\nfds\t" + fds +
             "\nsigign\t" + status_field("SigIgn") + "\nsigblk\t" + status_field("SigBlk") + "\nend\n";

    int fd = open(record.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t ignored = write(fd, block.data(), block.size());
        (void)ignored;
        close(fd);
    }

    const char* sleep_env = std::getenv("OMVAR_RECORDER_SLEEP_MS");
    long ms = sleep_env != nullptr ? std::strtol(sleep_env, nullptr, 10) : 0;
    if (ms > 0) {
        timespec t{ms / 1000, (ms % 1000) * 1000000L};
        nanosleep(&t, nullptr);
    }
    return 0;
}
