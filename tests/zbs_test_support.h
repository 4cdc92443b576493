// The install directory the omvar-zbs tests run the tool on, and the run itself
// (for the programs that are built after the tool: OMVAR_ZBS_BINARY).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "crypt_test_support.h"

namespace omvar::test {

// An install directory with its etc directory, and a scratch directory for
// plaintexts and the tool's output.
struct ZbsInstall {
    TempDir install;
    TempDir scratch;
    std::string key;  // set by use_known_key()

    ZbsInstall() { mkdir(install.file("etc").c_str(), 0755); }

    std::string key_path() const { return install.file("etc/omvar.ak"); }

    // An owner-only key file of known bytes, as the agent makes it; its key.
    std::string use_known_key() {
        const std::string bytes = known_key_file_bytes();
        write_file(key_path(), bytes);
        chmod(key_path().c_str(), 0600);
        key = key_from_file_bytes(bytes);
        return key;
    }

    // path holds plain encrypted by the openssl tool under with_key.
    void encrypt_to(const std::string& path, const std::string& plain, const std::string& with_key) {
        write_file(scratch.file("plain"), plain);
        ASSERT_TRUE(openssl_encrypt(with_key, scratch.file("plain"), path)) << path;
    }

    // etc/name: a schedule file due at expression, under the install's key.
    void schedule(const std::string& name, const std::string& expression) {
        encrypt_to(install.file("etc/" + name), "# Omvar Backup Schedule\nschedule=" + expression + "\n",
                   key);
    }

    // Runs the tool in cwd (default: the scratch directory) under TZ=tz; prefix
    // comes before the program (a setpriv call).
    ToolRun zbs(const std::vector<std::string>& args, const std::string& tz = "UTC",
                const std::string& cwd = "", const std::string& prefix = "") {
        return run_captured("cd " + shell_quote(cwd.empty() ? scratch.path() : cwd) +
                                " && TZ=" + shell_quote(tz) + " " + prefix + shell_quote(OMVAR_ZBS_BINARY),
                            args, scratch.path());
    }
};

}  // namespace omvar::test
