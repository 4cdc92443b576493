// Helpers of the key, stream, schedule-file and tool tests: an install directory
// that is the current directory for the test, a key file of known bytes, and the
// openssl command-line tool as the independent implementation.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/crypt/key_file.h"
#include "standins/deadline.h"
#include "test_support.h"

namespace omvar::test {

// The agreed window table, written out independently of the code's copy: every
// program sharing a key file depends on it.
constexpr long kAgreedWindows[8] = {3900, 531, 2672, 1473, 3336, 900, 2974, 102};

inline std::string known_key_file_bytes(std::size_t size = 4096) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + 7) & 0xff);
    }
    return bytes;
}

inline std::string key_from_file_bytes(const std::string& bytes) {
    std::string key;
    for (long offset : kAgreedWindows) {
        key += bytes.substr(static_cast<std::size_t>(offset), 4);
    }
    return key;
}

inline std::string to_hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

inline std::string shell_quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// Runs a shell command with no input and a time limit (exit status 124 when it
// was stopped); its exit status, or -1 when it did not exit normally.
inline int run_shell(const std::string& command) {
    const std::string limited = "timeout 30 sh -c " + shell_quote(command) + " </dev/null";
    int status = std::system(limited.c_str());
    return (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
}

// AES-256-CBC with the zero IV, by the openssl tool; extra may hold "-nopad".
inline bool openssl_encrypt(const std::string& key, const std::string& plain, const std::string& out,
                            const std::string& extra = "") {
    std::string command = "openssl enc -aes-256-cbc -K " + to_hex(key) +
                          " -iv 00000000000000000000000000000000 " + extra + " -in " + shell_quote(plain) +
                          " -out " + shell_quote(out);
    return run_shell(command) == 0;
}

inline bool openssl_decrypt(const std::string& key, const std::string& in, const std::string& out) {
    std::string command = "openssl enc -d -aes-256-cbc -K " + to_hex(key) +
                          " -iv 00000000000000000000000000000000 -in " + shell_quote(in) + " -out " +
                          shell_quote(out) + " 2>/dev/null";
    return run_shell(command) == 0;
}

// A temporary install directory with an etc directory, made the current
// directory for the life of the object; the key cache starts and ends empty.
class InstallDir {
  public:
    InstallDir() {
        char old[4096];
        old_cwd_ = getcwd(old, sizeof old) != nullptr ? old : "/";
        mkdir(dir_.file("etc").c_str(), 0755);
        crypt::reset_schedule_key_cache();
        if (chdir(dir_.path().c_str()) != 0) {
            std::abort();
        }
    }
    ~InstallDir() {
        crypt::reset_schedule_key_cache();
        if (chdir(old_cwd_.c_str()) != 0) {
            std::abort();
        }
    }
    InstallDir(const InstallDir&) = delete;
    InstallDir& operator=(const InstallDir&) = delete;

    const std::string& path() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }
    std::string key_path() const { return dir_.file("etc/omvar.ak"); }

    // Writes a key file of known bytes and returns the key it yields.
    std::string use_known_key() {
        std::string bytes = known_key_file_bytes();
        write_file(key_path(), bytes);
        return key_from_file_bytes(bytes);
    }

  private:
    TempDir dir_;
    std::string old_cwd_;
};

}  // namespace omvar::test
