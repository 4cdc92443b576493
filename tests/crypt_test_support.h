// The POSIX part of the key, stream, schedule-file and tool helpers: the openssl
// command-line tool as the independent implementation, run through a shell, and
// a deadline for every test. The portable part is crypt_test_portable.h.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypt_test_portable.h"
#include "standins/deadline.h"

namespace omvar::test {

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

struct ToolRun {
    int rc;
    std::string out;
    std::string err;
};

// Runs a program with its arguments through the shell (command: the quoted program
// and anything before it, such as "cd DIR && TZ=UTC "), its output and errors
// captured in files of the directory scratch.
inline ToolRun run_captured(std::string command, const std::vector<std::string>& args,
                            const std::string& scratch) {
    for (const std::string& arg : args) {
        command += " " + shell_quote(arg);
    }
    const std::string out = scratch + "/out";
    const std::string err = scratch + "/err";
    ToolRun run{run_shell(command + " >" + shell_quote(out) + " 2>" + shell_quote(err)), "", ""};
    run.out = read_file(out);
    run.err = read_file(err);
    return run;
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

// An OpenSSL configuration that activates a provider that does not exist: a
// libcrypto that loads it fails every cipher fetch (and, from OpenSSL 3.2 on,
// its initialisation). Written to path; returns path.
inline std::string write_unloadable_openssl_conf(const std::string& path) {
    write_file(path,
               "openssl_conf = omvar_init\n"
               "[omvar_init]\n"
               "providers = omvar_providers\n"
               "[omvar_providers]\n"
               "omvar_absent = omvar_absent_section\n"
               "[omvar_absent_section]\n"
               "activate = 1\n");
    return path;
}

// Whether the openssl tool, which loads its configuration, can encrypt under
// OPENSSL_CONF=conf: what a library that reads the configuration would do.
inline bool openssl_tool_encrypts_under(const std::string& conf) {
    return run_shell("echo x | OPENSSL_CONF=" + shell_quote(conf) + " openssl enc -aes-256-cbc -K " +
                     std::string(64, '0') + " -iv " + std::string(32, '0') + " >/dev/null 2>&1") == 0;
}

}  // namespace omvar::test
