#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include "agent/crypt/key_file.h"

namespace omvar::fuzz {

const std::string& install_dir() {
    static std::string dir;
    if (!dir.empty()) {
        return dir;
    }
    struct stat st {};
    std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/omvar-fuzz-XXXXXX";
    std::string buffer = pattern;
    if (mkdtemp(&buffer[0]) == nullptr || chdir(buffer.c_str()) != 0 || mkdir("etc", 0700) != 0) {
        std::abort();
    }
    dir = buffer;
    std::atexit([] {
        std::string command = "rm -rf '" + dir + "'";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "could not remove %s\n", dir.c_str());
        }
    });
    return dir;
}

void use_key(const unsigned char* key) {
    install_dir();
    unsigned char bytes[crypt::kKeyFileSize] = {};
    for (int i = 0; i < crypt::kKeyWindowCount; ++i) {
        std::memcpy(bytes + crypt::kKeyWindows[i], key + i * crypt::kKeyWindowSize, crypt::kKeyWindowSize);
    }
    std::FILE* f = std::fopen(crypt::kKeyFilePath, "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(std::fwrite(bytes, 1, sizeof bytes, f) == sizeof bytes);
    FUZZ_CHECK(std::fclose(f) == 0);
    crypt::reset_schedule_key_cache();
}

}  // namespace omvar::fuzz
