// Helpers of the key, stream, schedule-file and tick tests that hold on every
// platform: an install directory that is the current directory for the test, a
// key file of known bytes, and encrypted files written in-process by the
// stream's own writing direction (the POSIX tests check that direction against
// the openssl tool byte for byte).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "agent/crypt/estream.h"
#include "agent/crypt/key_file.h"
#include "encrypted_file.h"
#include "hex.h"
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

// A whole key file whose windows spell out the given 32-byte key.
inline std::string key_file_bytes_for(const std::string& key) {
    std::string bytes = known_key_file_bytes();
    for (std::size_t i = 0; i < 8; ++i) {
        bytes.replace(static_cast<std::size_t>(kAgreedWindows[i]), 4, key.substr(4 * i, 4));
    }
    return bytes;
}

// An estream record with its file, closed in the right order.
struct OpenedStream {
    std::FILE* file = nullptr;
    crypt::EncryptedStream stream{};
    int open_result = -1;

    OpenedStream(const std::string& path, int encrypt) {
        file = std::fopen(path.c_str(), encrypt != 0 ? "wb" : "rb");
        if (file != nullptr) {
            open_result = crypt::estream_open(&stream, file, encrypt, ".");
        }
    }
    ~OpenedStream() {
        if (open_result == 0) {
            crypt::estream_close(&stream);
        }
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    OpenedStream(const OpenedStream&) = delete;
    OpenedStream& operator=(const OpenedStream&) = delete;
};

// AES-256-CBC with the zero IV under any key, written by the stream's encrypting
// direction. The stream takes its key from "etc/omvar.ak" below the current
// directory, so a key file for `key` stands there while it writes; the file that
// was there before (or its absence) is put back, and the key cache starts empty
// again afterwards.
inline bool encrypt_file(const std::string& key, const std::string& plain_path, const std::string& out_path) {
    namespace fs = std::filesystem;
    if (key.size() != crypt::kScheduleKeySize) {
        return false;
    }
    const std::string key_path = crypt::kKeyFilePath;
    std::error_code ec;
    const bool had_key_file = fs::is_regular_file(key_path, ec);
    const std::string saved = had_key_file ? read_file(key_path) : "";
    write_file(key_path, key_file_bytes_for(key));
    crypt::reset_schedule_key_cache();

    const bool ok = write_encrypted_file(out_path.c_str(), read_file(plain_path));

    if (had_key_file) {
        write_file(key_path, saved);
    } else {
        fs::remove(key_path, ec);
    }
    crypt::reset_schedule_key_cache();
    return ok;
}

// A temporary install directory with an etc directory, made the current
// directory for the life of the object; the key cache starts and ends empty.
class InstallDir {
  public:
    InstallDir() {
        std::error_code ec;
        std::filesystem::create_directory(dir_.file("etc"), ec);
        crypt::reset_schedule_key_cache();
        std::filesystem::current_path(dir_.path(), ec);
        if (ec) {
            std::abort();
        }
    }
    ~InstallDir() { crypt::reset_schedule_key_cache(); }
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
    ScopedCwd cwd_;
};

// The schedule key of the current directory, or "" when loading it fails.
inline std::string load_key() {
    unsigned char key[crypt::kScheduleKeySize] = {};
    if (crypt::load_schedule_key(".", key) != 0) {
        return "";
    }
    return std::string(reinterpret_cast<char*>(key), sizeof key);
}

// A key path that no key can be loaded from: make() turns a fresh install
// directory's key path into it, next to a file "victim" of key-file bytes.
struct UnusableKeyPath {
    const char* what;
    void (*make)(const InstallDir& install, const std::string& victim);
};

// Each case fails to load, and neither the victim nor the path a link names
// ("nowhere") is written or made.
template <std::size_t N>
void expect_unusable_key_paths_refused(const UnusableKeyPath (&cases)[N]) {
    for (const UnusableKeyPath& c : cases) {
        SCOPED_TRACE(c.what);
        InstallDir install;
        const std::string victim = install.file("victim");
        write_file(victim, known_key_file_bytes());
        c.make(install, victim);
        EXPECT_EQ(load_key(), "");
        EXPECT_EQ(read_file(victim), known_key_file_bytes());
        EXPECT_FALSE(file_exists(install.file("nowhere")));
    }
}

}  // namespace omvar::test
