// encrypt and decrypt: the agent's stream record in both directions.
#include <cstdio>
#include <filesystem>
#include <string>

#include "agent/crypt/estream.h"
#include "agent/platform/inspect.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

// Encrypts everything of plain into out; false on a read or write failure.
bool encrypt_into(const std::string& key_dir, std::FILE* plain, std::FILE* out) {
    crypt::EncryptedStream stream;
    if (crypt::estream_open(&stream, out, 1, key_dir.c_str()) != 0) {
        return false;
    }
    unsigned char buffer[4096];
    bool ok = true;
    for (;;) {
        std::size_t n = std::fread(buffer, 1, sizeof buffer, plain);
        if (n > 0 && crypt::estream_write(&stream, buffer, static_cast<long>(n)) != 0) {
            ok = false;
            break;
        }
        if (n < sizeof buffer) {
            ok = std::ferror(plain) == 0;
            break;
        }
    }
    ok = ok && crypt::estream_finish(&stream) == 0;
    crypt::estream_close(&stream);
    return ok;
}

}  // namespace

int run_encrypt(const Options& options) {
    const std::string& plain_path = options.args[0];
    const std::string& out_path = options.args[1];
    int result = prepare_key(options, true);
    if (result != kExitOk) {
        return result;
    }
    std::FILE* plain = platform::open_regular_file(plain_path.c_str());
    if (plain == nullptr) {
        return fail(kExitUsage, "cannot open %s (missing, not a regular file, or no permission)",
                    plain_path.c_str());
    }
    // Written beside the target and renamed into place, so that the agent never
    // meets a half-written schedule file; the temporary name does not end in .zbs.
    // A leftover of an interrupted run is removed first (a symlink itself, never
    // its target); "x" then refuses whatever appears there meanwhile.
    const std::string temp_path = out_path + ".tmp";
    std::error_code error;
    std::filesystem::remove(temp_path, error);
    std::FILE* out = std::fopen(temp_path.c_str(), "wbx");
    if (out == nullptr) {
        std::fclose(plain);
        return fail(kExitUsage, "cannot create %s (exists already, or no permission)", temp_path.c_str());
    }
    bool ok = encrypt_into(options.install_dir, plain, out);
    ok = (std::fclose(out) == 0) && ok;
    std::fclose(plain);
    if (ok) {
        std::filesystem::rename(temp_path, out_path, error);
    }
    if (!ok || error) {
        std::filesystem::remove(temp_path, error);
        return fail(kExitUsage, "cannot write %s", out_path.c_str());
    }

    std::string expression;
    std::string reason;
    if (read_schedule_expression(options.install_dir, out_path, &expression, &reason) == kExitInvalid) {
        fail(kExitOk,
             "warning: the agent will not act on %s: the header is missing or no \"schedule=\" line follows",
             out_path.c_str());
    }
    if (!ends_with_zbs(out_path)) {
        fail(kExitOk, "warning: the agent reads only files whose names end in .zbs");
    }
    return kExitOk;
}

int run_decrypt(const Options& options) {
    const std::string& path = options.args[0];
    int result = prepare_key(options);
    if (result != kExitOk) {
        return result;
    }
    // The plaintext byte for byte: no "\n" may become "\r\n" on the way out.
    if (platform::set_binary_mode(stdout) != 0) {
        return fail(kExitUsage, "cannot switch standard output to binary mode");
    }
    std::FILE* file = nullptr;
    crypt::EncryptedStream stream;
    int opened = open_schedule_stream(options.install_dir, path, &file, &stream);
    if (opened != kExitOk) {
        return opened;
    }
    unsigned char buffer[4096];
    bool written = true;
    long n = 0;
    while ((n = crypt::estream_read(&stream, buffer, static_cast<long>(sizeof buffer))) > 0) {
        written = written &&
                  std::fwrite(buffer, 1, static_cast<std::size_t>(n), stdout) == static_cast<std::size_t>(n);
    }
    bool clean = stream.final_ok != 0;
    crypt::estream_close(&stream);
    std::fclose(file);
    if (std::fflush(stdout) != 0 || !written) {
        return fail(kExitUsage, "cannot write to standard output");
    }
    if (!clean) {
        return fail(
            kExitInvalid,
            "%s does not decrypt cleanly under this installation's key (another key, damaged, empty, or not "
            "encrypted); the output lacks its last block",
            path.c_str());
    }
    return kExitOk;
}

}  // namespace omvar::zbs
