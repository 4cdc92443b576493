#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/zbs/scan.h"
#include "tools/zbs/states.h"
#include "tools/zbs/zbs.h"
#include "zbs_test_support.h"

namespace omvar::test {
namespace {

class ZbsToolTest : public ::testing::Test, public ZbsInstall {
  protected:
    // A schedule file in the scratch directory; its path.
    std::string schedule_file(const std::string& name, const std::string& plain,
                              const std::string& with_key) {
        encrypt_to(scratch.file(name), plain, with_key);
        return scratch.file(name);
    }
};

// The system's OpenSSL configuration is never read: under one that breaks every
// configuration-loading program, the tool still reads, writes and creates keys.
TEST_F(ZbsToolTest, OpensslConfigurationIsNotLoaded) {
    const std::string conf = write_unloadable_openssl_conf(scratch.file("broken.cnf"));
    ASSERT_FALSE(openssl_tool_encrypts_under(conf)) << "the configuration should break the openssl tool";
    ASSERT_TRUE(openssl_tool_encrypts_under(scratch.file("absent.cnf")));

    const std::string plain = "# Omvar Backup Schedule\nschedule=0 2 * * *\n";
    const std::string job = schedule_file("job.zbs", plain, use_known_key());
    write_file(scratch.file("new.txt"), plain);
    TempDir fresh;  // no key file yet: encrypt creates one from random bytes
    ASSERT_EQ(mkdir(fresh.file("etc").c_str(), 0755), 0);

    ASSERT_EQ(setenv("OPENSSL_CONF", conf.c_str(), 1), 0);
    ToolRun check = zbs({"check", job, "--at", "2026-03-10 02:00", "--install-dir", install.path()});
    ToolRun decrypt = zbs({"decrypt", job, "--install-dir", install.path()});
    ToolRun encrypt = zbs({"encrypt", "new.txt", "new.zbs", "--install-dir", fresh.path()});
    unsetenv("OPENSSL_CONF");

    EXPECT_EQ(check.rc, 0) << check.err;
    EXPECT_NE(check.out.find("0 2 * * *"), std::string::npos) << check.out;
    EXPECT_EQ(decrypt.rc, 0) << decrypt.err;
    EXPECT_EQ(decrypt.out, plain);
    ASSERT_EQ(encrypt.rc, 0) << encrypt.err;
    const std::string key_bytes = read_file(fresh.file("etc/omvar.ak"));
    ASSERT_EQ(key_bytes.size(), 4096u);
    EXPECT_NE(key_bytes, std::string(4096, '\0'));
    ASSERT_TRUE(
        openssl_decrypt(key_from_file_bytes(key_bytes), scratch.file("new.zbs"), scratch.file("back")));
    EXPECT_EQ(read_file(scratch.file("back")), plain);
}

TEST_F(ZbsToolTest, EncryptCreatesTheKeyLikeTheAgentAndOpensslReadsTheResult) {
    std::string plain("# Omvar Backup Schedule\nschedule=0 2 * * *\r\nblob=\0\x01\xff", 51);
    write_file(scratch.file("job.txt"), plain);
    // A leftover temporary name planted as a symlink is replaced, never written through.
    write_file(scratch.file("victim"), "keep");
    ASSERT_EQ(symlink(scratch.file("victim").c_str(), scratch.file("job.zbs.tmp").c_str()), 0);
    ToolRun run = zbs({"encrypt", "job.txt", "job.zbs", "--install-dir", install.path()});
    ASSERT_EQ(run.rc, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    // A first install has no earlier key whose files could be lost.
    EXPECT_EQ(run.err, "omvar-zbs: created a new key file " + key_path() + "\n");

    struct stat st {};
    ASSERT_EQ(stat(key_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 4096);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_FALSE(file_exists(scratch.file("job.zbs.tmp")));
    EXPECT_EQ(read_file(scratch.file("victim")), "keep");

    const std::string created = key_from_file_bytes(read_file(key_path()));
    ASSERT_TRUE(openssl_decrypt(created, scratch.file("job.zbs"), scratch.file("back")));
    EXPECT_EQ(read_file(scratch.file("back")), plain);

    run = zbs({"decrypt", "job.zbs", "--install-dir=" + install.path()});
    EXPECT_EQ(run.rc, 0) << run.err;
    EXPECT_EQ(run.out, plain);
    EXPECT_TRUE(run.err.empty()) << "the key exists now: " << run.err;

    // With schedule files waiting, a new key leaves them undecryptable: say so.
    write_file(install.file("etc/old.zbs"), read_file(scratch.file("job.zbs")));
    ASSERT_EQ(unlink(key_path().c_str()), 0);
    run = zbs({"encrypt", "job.txt", "again.zbs", "--install-dir", install.path()});
    EXPECT_EQ(run.rc, 0) << run.err;
    EXPECT_NE(run.err.find("files encrypted under an earlier key no longer decrypt"), std::string::npos)
        << run.err;
}

TEST_F(ZbsToolTest, DecryptReadsOpensslFilesAndRejectsOtherKeys) {
    use_known_key();
    schedule_file("mine.zbs", "any bytes\n", key);
    ToolRun run = zbs({"decrypt", "mine.zbs", "--install-dir", install.path()});
    EXPECT_EQ(run.rc, 0) << run.err;
    EXPECT_EQ(run.out, "any bytes\n");

    schedule_file("theirs.zbs", std::string(64, 'x'), std::string(32, 'o'));
    run = zbs({"decrypt", "theirs.zbs", "--install-dir", install.path()});
    EXPECT_EQ(run.rc, 1);
    EXPECT_NE(run.err.find("does not decrypt"), std::string::npos);

    run = zbs({"decrypt", "nothing.zbs", "--install-dir", install.path()});
    EXPECT_EQ(run.rc, 2);
    EXPECT_NE(run.err.find("cannot open"), std::string::npos);
}

TEST_F(ZbsToolTest, CheckSaysWhatTheAgentSees) {
    use_known_key();
    schedule_file("due.zbs", "# Omvar Backup Schedule v2\nSchedule=0 2 * * *\r\n", key);
    schedule_file("header.zbs", "# omvar backup schedule\nschedule=0 2 * * *\n", key);
    schedule_file("noline.zbs", "# Omvar Backup Schedule\njob=1\n", key);
    schedule_file("other.zbs", "# Omvar Backup Schedule\nschedule=0 2 * * *\n", std::string(32, 'o'));
    write_file(scratch.file("empty.zbs"), "");
    mkdir(scratch.file("dir.zbs").c_str(), 0755);
    mkfifo(scratch.file("fifo.zbs").c_str(), 0600);

    struct Case {
        std::vector<std::string> args;
        int rc;
        const char* out_has;
        const char* err_has;
    };
    const Case cases[] = {
        {{"check", "due.zbs", "--at", "2024-05-01 02:00"}, 0, "2024-05-01 02:00: due", ""},
        {{"check", "due.zbs", "--at", "2024-05-01 02:01"}, 0, "2024-05-01 02:01: not due", ""},
        {{"check", "due.zbs", "--at", "2024-05-01 02:00"}, 0, "schedule: \"0 2 * * *\"", ""},
        {{"check", "header.zbs"}, 1, "first line does not begin with \"# Omvar Backup Schedule\"", ""},
        {{"check", "noline.zbs"}, 1, "no \"schedule=\" line", ""},
        {{"check", "other.zbs"}, 1, "does not decrypt under this installation's key", ""},
        {{"check", "empty.zbs"}, 1, "not a schedule file", ""},
        {{"check", "missing.zbs"}, 2, "", "cannot open"},
        {{"check", "dir.zbs"}, 2, "", "cannot open"},
        {{"check", "fifo.zbs"}, 2, "", "cannot open"},
        {{"check", "due.zbs", "--at", "2024-13-01 02:00"}, 2, "", "--at needs"},
        {{"check", "due.zbs", "--at", "2024-02-30 02:00"}, 2, "", "--at needs"},
        {{"check", "due.zbs", "--at"}, 2, "", "--at needs"},
        {{"check", "due.zbs", "-n", "3"}, 2, "", "belongs to next"},
        {{"check"}, 2, "", "wrong number of arguments"},
        {{"check", "due.zbs", "extra.zbs"}, 2, "", "wrong number of arguments"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        SCOPED_TRACE(args[1 % args.size()]);
        args.push_back("--install-dir");
        args.push_back(install.path());
        ToolRun run = zbs(args);
        EXPECT_EQ(run.rc, c.rc) << run.out << run.err;
        EXPECT_NE(run.out.find(c.out_has), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.err_has), std::string::npos) << run.err;
    }
}

TEST_F(ZbsToolTest, KeyProblemsAreUsageErrors) {
    schedule_file("job.zbs", "# Omvar Backup Schedule\nschedule=* * * * *\n", std::string(32, 'k'));
    ToolRun run = zbs({"check", "job.zbs", "--install-dir", install.file("absent")});
    EXPECT_EQ(run.rc, 2);
    EXPECT_NE(run.err.find("cannot use the install directory " + install.file("absent") +
                           ": No such file or directory (the install directory given with --install-dir)"),
              std::string::npos)
        << run.err;

    // Only encrypt makes a key file: check and decrypt report a missing one and leave it missing.
    for (const char* command : {"check", "decrypt"}) {
        run = zbs({command, "job.zbs", "--install-dir", install.path()});
        EXPECT_EQ(run.rc, 2) << command;
        EXPECT_NE(run.err.find("no key file"), std::string::npos) << run.err;
        EXPECT_FALSE(file_exists(key_path())) << command;
    }

    rmdir(install.file("etc").c_str());
    write_file(scratch.file("plain.txt"), "# Omvar Backup Schedule\nschedule=* * * * *\n");
    run = zbs({"encrypt", "plain.txt", "out.zbs", "--install-dir", install.path()});
    EXPECT_EQ(run.rc, 2);
    EXPECT_NE(run.err.find("cannot create the key file"), std::string::npos);

    mkdir(install.file("etc").c_str(), 0755);
    write_file(key_path(), "short");
    run = zbs({"check", "job.zbs", "--install-dir", install.path()});
    EXPECT_EQ(run.rc, 2);
    EXPECT_NE(run.err.find("cannot read the key file"), std::string::npos);
    EXPECT_NE(run.err.find("shorter than 3904 bytes"), std::string::npos) << run.err;
    EXPECT_EQ(read_file(key_path()), "short");
}

TEST_F(ZbsToolTest, NextListsTheAgentsMinuteTicks) {
    struct Case {
        const char* what;
        std::string expression;
        std::string from;
        std::string count;
        std::string tz;
        std::string out;
    };
    const Case cases[] = {
        {"daily", "0 2 * * *", "2024-01-30 10:00", "3", "UTC",
         "2024-01-31 02:00\n2024-02-01 02:00\n2024-02-02 02:00\n"},
        {"month 0 is January", "0 0 1 0 *", "2024-02-01 00:00", "2", "UTC",
         "2025-01-01 00:00\n2026-01-01 00:00\n"},
        {"weekday names in the day field", "30 8 mon,FRI * *", "2024-05-01 00:00", "3", "UTC",
         "2024-05-03 08:30\n2024-05-06 08:30\n2024-05-10 08:30\n"},
        {"a range reads as its first number", "0 12 1-5 * *", "2024-05-02 00:00", "2", "UTC",
         "2024-06-01 12:00\n2024-07-01 12:00\n"},
        {"the start minute itself counts", "5 10 * * *", "2024-05-01 10:05", "1", "UTC",
         "2024-05-01 10:05\n"},
        {"repeated hour twice", "30 2 * * *", "2024-10-26 00:00", "3", "Europe/Berlin",
         "2024-10-26 02:30\n2024-10-27 02:30\n2024-10-27 02:30\n"},
        {"skipped hour not at all", "30 2 * * *", "2024-03-30 03:00", "2", "Europe/Berlin",
         "2024-04-01 02:30\n2024-04-02 02:30\n"},
        {"start inside the repeated hour takes its first pass", "30 2 27 9 2024", "2024-10-27 02:15", "5",
         "Europe/Berlin", "2024-10-27 02:30\n2024-10-27 02:30\n"},
        {"every minute", "* * * * *", "2024-12-31 23:58", "3", "UTC",
         "2024-12-31 23:58\n2024-12-31 23:59\n2025-01-01 00:00\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ToolRun run = zbs({"next", c.expression, "--from", c.from, "-n", c.count}, c.tz);
        EXPECT_EQ(run.rc, 0) << run.err;
        EXPECT_EQ(run.out, c.out);
    }
}

TEST_F(ZbsToolTest, NextGivesUpAfterTenYears) {
    for (const char* never : {"0 0 * * 1999", "5 * * *", "0 0 30 1 *"}) {
        SCOPED_TRACE(never);
        ToolRun run = zbs({"next", never, "--from", "2024-01-01 00:00"}, "Europe/Berlin");
        EXPECT_EQ(run.rc, 0);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("nothing more is due in the ten years from 2024-01-01 00:00"),
                  std::string::npos);
    }
    // A match just inside the horizon is still found; one year further is not.
    ToolRun run = zbs({"next", "0 0 1 0 2033", "--from", "2024-01-01 00:00"});
    EXPECT_EQ(run.out, "2033-01-01 00:00\n");
    run = zbs({"next", "0 0 1 0 2035", "--from", "2024-01-01 00:00"});
    EXPECT_EQ(run.out, "");
    // An expression never needs a key: nothing is created.
    EXPECT_FALSE(file_exists(key_path()));
}

TEST_F(ZbsToolTest, NextReadsScheduleFilesByTheirPathBeforeEnteringTheInstallDir) {
    use_known_key();
    mkdir(scratch.file("sub").c_str(), 0755);
    encrypt_to(scratch.file("sub/job.zbs"), "# Omvar Backup Schedule\nschedule=0 3 * * *\n", key);
    ToolRun run = zbs(
        {"next", "sub/job.zbs", "-n", "2", "--from", "2024-05-01 00:00", "--install-dir", install.path()});
    EXPECT_EQ(run.rc, 0) << run.err;
    EXPECT_EQ(run.out, "2024-05-01 03:00\n2024-05-02 03:00\n");

    schedule_file("theirs.zbs", "# Omvar Backup Schedule\nschedule=0 3 * * *\n", std::string(32, 'o'));
    run = zbs({"next", "theirs.zbs", "--install-dir", install.path()});
    EXPECT_EQ(run.rc, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("not a schedule file"), std::string::npos);

    // A missing file is not quietly read as an expression that is never due.
    for (const char* missing : {"gone.zbs", "sub/GONE.ZBS"}) {
        SCOPED_TRACE(missing);
        run = zbs({"next", missing, "--install-dir", install.path()});
        EXPECT_EQ(run.rc, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("no such schedule file"), std::string::npos) << run.err;
    }
    // With blanks it is an expression, whatever its last field.
    run = zbs({"next", "0 3 * * 2024.zbs", "-n", "1", "--from", "2024-05-01 00:00"});
    EXPECT_EQ(run.rc, 0) << run.err;
    EXPECT_EQ(run.out, "2024-05-01 03:00\n");
}

TEST_F(ZbsToolTest, UsageErrorsAndInformation) {
    struct Case {
        std::vector<std::string> args;
        int rc;
        const char* out_has;
        const char* err_has;
    };
    const Case cases[] = {
        {{"--help"}, 0, "usage: omvar-zbs", ""},
        {{"--version"}, 0, "omvar-zbs ", ""},
        {{}, 2, "", "no command"},
        {{"frobnicate", "x"}, 2, "", "unknown command"},
        {{"next", "* * * * *", "-n", "0"}, 2, "", "-n needs"},
        {{"next", "* * * * *", "-n", "ten"}, 2, "", "-n needs"},
        {{"next", "* * * * *", "--from", "2024-05-01"}, 2, "", "--from needs"},
        {{"next", "* * * * *", "--frm", "x"}, 2, "", "unknown option"},
        {{"encrypt", "only-one"}, 2, "", "wrong number"},
        {{"decrypt", "x.zbs", "--bogus"}, 2, "", "unknown option"},
        {{"encrypt", "missing.txt", "out.zbs", "--install-dir", "."}, 2, "", ""},
        // No debugger output to listen on: the agent's lines are in the journal.
        {{"watch"}, 0, "journalctl -u omvar-cron -f", ""},
        {{"watch", "x"}, 2, "", "wrong number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        ToolRun run = zbs(c.args);
        EXPECT_EQ(run.rc, c.rc) << run.out << run.err;
        EXPECT_NE(run.out.find(c.out_has), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.err_has), std::string::npos) << run.err;
    }
}

// One command's line of a synopsis: its arguments and its options, --install-dir
// (which every command takes) left out.
struct Synopsis {
    std::vector<std::string> arguments;
    std::set<std::string> options;
    bool operator==(const Synopsis& o) const { return arguments == o.arguments && options == o.options; }
};

std::ostream& operator<<(std::ostream& out, const Synopsis& s) {
    for (const std::string& a : s.arguments) {
        out << a << ' ';
    }
    for (const std::string& o : s.options) {
        out << '[' << o << "] ";
    }
    return out;
}

// Reads "omvar-zbs [--install-dir DIR] COMMAND ARGS [OPTION VALUE]..." after the
// manual page's markup is taken off; the first word outside brackets is the command.
void read_synopsis(std::string line, std::map<std::string, Synopsis>* out) {
    line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return c == '*' || c == '_'; }),
               line.end());
    std::istringstream words(line);
    std::string word, command;
    Synopsis synopsis;
    int depth = 0;
    while (words >> word) {
        const std::string bare = word.substr(word.find_first_not_of('['));
        if (bare.rfind("-", 0) == 0) {
            const std::string option = bare.substr(0, bare.find(']'));
            if (option != "--install-dir") {
                synopsis.options.insert(option);
            }
        } else if (depth == 0 && word[0] != '[' && word != "omvar-zbs") {
            (command.empty() ? command : synopsis.arguments.emplace_back()) = word;
        }
        depth += static_cast<int>(std::count(word.begin(), word.end(), '[') -
                                  std::count(word.begin(), word.end(), ']'));
    }
    (*out)[command] = synopsis;
}

// The commands' synopses in the tool's usage text, the README and the manual page.
// The manual page's list of schedule states is the tool's table of them, in its
// order, and its key states are the ones list can report.
TEST(ZbsManualPage, NamesTheStatesTheToolReports) {
    std::vector<std::string> listed;
    std::string key_line;
    std::istringstream manual_text(read_file(OMVAR_SOURCE_DIR "/docs/man/omvar-zbs.1.scd"));
    for (std::string line; std::getline(manual_text, line);) {
        // "[[ *ok*" starts the table, "|  *not-a-schedule*" continues it.
        if ((line.rfind("[[ *", 0) == 0 || line.rfind("|  *", 0) == 0) && line.back() == '*') {
            listed.push_back(line.substr(4, line.size() - 5));
        }
        if (line.find("*key* (*state*:") != std::string::npos) {
            std::getline(manual_text, key_line);
            key_line = line + " " + key_line;
        }
    }
    std::vector<std::string> table;
    for (int i = 0; i < zbs::kRowStateCount; ++i) {
        table.emplace_back(zbs::word(static_cast<zbs::RowState>(i)));
    }
    EXPECT_EQ(listed, table);
    for (zbs::KeyState state : {zbs::KeyState::kOk, zbs::KeyState::kMissing, zbs::KeyState::kTooShort,
                                zbs::KeyState::kUnreadable}) {
        EXPECT_NE(key_line.find(std::string("*") + zbs::word(state) + "*"), std::string::npos)
            << zbs::word(state) << " in: " << key_line;
    }
}

TEST_F(ZbsToolTest, UsageReadmeAndManualPageAgree) {
    const char* const kCommands[] = {"encrypt", "decrypt", "check", "next", "list", "status", "explain"};
    auto is_command = [&](const std::string& word) {
        return std::find(std::begin(kCommands), std::end(kCommands), word) != std::end(kCommands);
    };
    std::map<std::string, Synopsis> usage, readme, manual;
    std::istringstream help(zbs({"--help"}).out);
    for (std::string line; std::getline(help, line);) {
        // "  next EXPRESSION|FILE.zbs [-n N] [--from TIME]    list the next ...": the
        // description starts after two blanks.
        if (line.rfind("  ", 0) == 0 && line[2] != ' ' && is_command(line.substr(2, line.find(' ', 2) - 2))) {
            const std::size_t gap = line.find("  ", 2);
            read_synopsis(line.substr(2, gap == std::string::npos ? gap : gap - 2), &usage);
        }
    }
    std::istringstream readme_text(read_file(OMVAR_SOURCE_DIR "/README.md"));
    for (std::string line; std::getline(readme_text, line);) {
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;
        if (first == "omvar-zbs" && is_command(second) &&
            line.find(" [--install-dir DIR]") != std::string::npos) {
            read_synopsis(line, &readme);
        }
    }
    std::istringstream manual_text(read_file(OMVAR_SOURCE_DIR "/docs/man/omvar-zbs.1.scd"));
    bool in_synopsis = false;
    for (std::string line; std::getline(manual_text, line);) {
        if (line.rfind("# ", 0) == 0) {
            in_synopsis = line == "# SYNOPSIS";
        } else if (in_synopsis && line.rfind("*omvar-zbs* [", 0) == 0) {
            read_synopsis(line, &manual);
        }
    }
    ASSERT_EQ(usage.size(), std::size(kCommands));
    EXPECT_EQ(usage["next"], (Synopsis{{"EXPRESSION|FILE.zbs"}, {"-n", "--from"}}));
    for (const char* command : kCommands) {
        EXPECT_EQ(readme[command], usage[command]) << command << " in README.md";
        EXPECT_EQ(manual[command], usage[command]) << command << " in omvar-zbs.1.scd";
    }
}

// Without --install-dir: the environment, then the service's environment file
// (read as systemd reads it), then the current directory.
TEST(ZbsInstallDir, EnvironmentThenEnvironmentFileThenCurrentDirectory) {
    struct Case {
        const char* file_text;
        bool found;
        const char* value;
    };
    const Case cases[] = {
        {"# comment\nOMVAR_INSTALL_DIR=/opt/omvar\n", true, "/opt/omvar"},
        {"  OMVAR_INSTALL_DIR = \"/srv/omvar b\"  \r\n", true, "/srv/omvar b"},
        {"OMVAR_INSTALL_DIR=/a\nOMVAR_INSTALL_DIR='/b'", true, "/b"},
        {"#OMVAR_INSTALL_DIR=/a\nOTHER_OMVAR_INSTALL_DIR=/b\nOMVAR_INSTALL_DIRX=/c\n", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        std::string value;
        EXPECT_EQ(zbs::install_dir_in_environment_file(c.file_text, &value), c.found) << c.file_text;
        EXPECT_EQ(value, c.value) << c.file_text;
    }

    TempDir dir;
    write_file(dir.file("default"), "OMVAR_INSTALL_DIR=/from/file\n");
    zbs::Options options;
    zbs::find_install_dir("/from/env", dir.file("default").c_str(), &options);
    EXPECT_EQ(options.install_dir, "/from/env");
    EXPECT_EQ(options.install_dir_source, zbs::InstallDirSource::kEnvironment);
    zbs::find_install_dir("", dir.file("default").c_str(), &options);
    EXPECT_EQ(options.install_dir, "/from/file");
    EXPECT_EQ(options.install_dir_source, zbs::InstallDirSource::kEnvironmentFile);
    zbs::find_install_dir(nullptr, dir.file("absent").c_str(), &options);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(options.install_dir, cwd);
    EXPECT_EQ(options.install_dir_source, zbs::InstallDirSource::kCurrentDirectory);
}

// The tool reads an installation without moving its working directory, so
// relative paths the user gave keep their meaning.
TEST(ZbsInstallDir, ReadingAnInstallationLeavesTheWorkingDirectory) {
    TempDir install;
    mkdir(install.file("etc").c_str(), 0755);
    write_file(install.file("etc/omvar.ak"), known_key_file_bytes());
    char before[4096];
    char after[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    zbs::ScanReport report;
    EXPECT_EQ(zbs::scan_install(install.path(), 0, &report), zbs::kExitOk) << report.error;
    EXPECT_EQ(report.key_state, zbs::KeyState::kOk);
    ASSERT_NE(getcwd(after, sizeof after), nullptr);
    EXPECT_STREQ(before, after);
}

}  // namespace
}  // namespace omvar::test
