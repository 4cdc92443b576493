// omvar-zbs status: each finding against the installation states that produce it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mqueue.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "json_reader.h"
#include "zbs_test_support.h"

namespace omvar::test {
namespace {

struct Finding {
    const char* check;
    const char* level;
    const char* detail_has;
};

// An install directory with a key, the three programs and one good schedule file.
struct Installation : ZbsInstall {
    int lock_fd = -1;

    Installation() {
        use_known_key();
        for (const char* program : {"omvar-backup.exe", "omvar-update1.exe", "omvar-txmail.exe"}) {
            write_file(install.file(program), "#!/bin/sh\n");
            chmod(install.file(program).c_str(), 0755);
        }
        schedule("nightly.zbs", "30 2 * * *");
    }
    ~Installation() {
        if (lock_fd >= 0) {
            close(lock_fd);
        }
    }

    // A pid file naming pid, locked by this process when lock is set (as a running agent holds it).
    void pid_file(long pid, bool lock) {
        write_file(install.file("etc/omvarcrond.pid"), std::to_string(pid) + "\n");
        if (lock) {
            lock_fd = open(install.file("etc/omvarcrond.pid").c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_EQ(flock(lock_fd, LOCK_EX | LOCK_NB), 0);
        }
    }
    static long gone_pid() {
        pid_t child = fork();
        if (child == 0) {
            _exit(0);
        }
        waitpid(child, nullptr, 0);
        return child;
    }

    Json status(int* rc, const std::string& prefix = "") {
        const ToolRun run =
            run_captured(prefix + shell_quote(OMVAR_ZBS_BINARY),
                         {"status", "--json", "--install-dir", install.path()}, scratch.path());
        *rc = run.rc;
        Json doc;
        EXPECT_TRUE(JsonReader::parse(run.out, &doc)) << run.out << run.err;
        return doc;
    }
};

const Json* find_check(const Json& doc, const std::string& name) {
    for (const Json& check : doc["checks"].items) {
        if (check["name"].text == name) {
            return &check;
        }
    }
    return nullptr;
}

TEST(ZbsStatus, FindingsFollowTheInstallation) {
    struct Case {
        const char* what;
        std::function<void(Installation*)> setup;
        std::vector<Finding> findings;
    };
    const Case cases[] = {
        {"a healthy installation with a running agent",
         [](Installation* t) { t->pid_file(getpid(), true); },
         {{"agent", "ok", "holding the pid file's lock"},
          {"key-file", "ok", "usable"},
          {"schedule-files", "ok", "1 ok"},
          {"engine-program", "ok", "present and startable"},
          {"etc-directory", "ok", "writable"},
          {"triggers", "ok", "0 waiting"}}},
        {"no pid file", [](Installation*) {}, {{"agent", "fail", "not running"}}},
        {"a pid file of a process that is gone",
         [](Installation* t) { t->pid_file(Installation::gone_pid(), false); },
         {{"agent", "fail", "does not exist"}}},
        {"a pid file of a live process that holds no lock",
         [](Installation* t) { t->pid_file(getpid(), false); },
         {{"agent", "fail", "nothing holds the pid file's lock"}}},
        {"a pid file without a number",
         [](Installation* t) { write_file(t->install.file("etc/omvarcrond.pid"), "x\n"); },
         {{"agent", "fail", "holds no process id"}}},
        {"a key file others may read",
         [](Installation* t) { chmod(t->install.file("etc/omvar.ak").c_str(), 0644); },
         {{"key-file", "warn", "readable by others"}}},
        {"a short key file",
         [](Installation* t) { write_file(t->install.file("etc/omvar.ak"), std::string(100, 'k')); },
         {{"key-file", "fail", "100 bytes"}, {"schedule-files", "fail", "nightly.zbs (no-key)"}}},
        {"no key file while schedule files exist",
         [](Installation* t) { unlink(t->install.file("etc/omvar.ak").c_str()); },
         {{"key-file", "fail", "no key file"}}},
        {"no key file and no schedule file",
         [](Installation* t) {
             unlink(t->install.file("etc/omvar.ak").c_str());
             unlink(t->install.file("etc/nightly.zbs").c_str());
         },
         {{"key-file", "warn", "no key file"}, {"schedule-files", "ok", "0 ok"}}},
        {"a failing and a never-due schedule file",
         [](Installation* t) {
             write_file(t->install.file("etc/plain.zbs"), "plain text");
             t->schedule("past.zbs", "0 0 * * 2020");
         },
         {{"schedule-files", "fail", "plain.zbs (not-a-schedule)"}}},
        {"only a never-due schedule file besides a good one",
         [](Installation* t) { t->schedule("past.zbs", "0 0 * * 2020"); },
         {{"schedule-files", "warn", "never due: past.zbs"}}},
        {"no engine",
         [](Installation* t) { unlink(t->install.file("omvar-backup.exe").c_str()); },
         {{"engine-program", "fail", "no backup can start"}}},
        {"an engine that may not be executed",
         [](Installation* t) { chmod(t->install.file("omvar-backup.exe").c_str(), 0644); },
         {{"engine-program", "fail", "Permission denied"}}},
        {"no updater and a mailer that is a directory",
         [](Installation* t) {
             unlink(t->install.file("omvar-update1.exe").c_str());
             unlink(t->install.file("omvar-txmail.exe").c_str());
             mkdir(t->install.file("omvar-txmail.exe").c_str(), 0755);
         },
         {{"updater-program", "warn", "No such file"}, {"mailer-program", "warn", "not a regular file"}}},
        {"an etc that cannot be listed: one failed check, the others still made",
         [](Installation* t) {
             std::filesystem::remove_all(t->install.file("etc"));
             write_file(t->install.file("etc"), "");
         },
         {{"install-directory", "fail",
           "/etc: Not a directory (the install directory given with --install-dir)"},
          {"schedule-files", "fail", "not checked"},
          {"engine-program", "ok", "present and startable"}}},
        {"triggers waiting and a directory named like one",
         [](Installation* t) {
             write_file(t->install.file("etc/job.now"), "");
             mkdir(t->install.file("etc/folder.now").c_str(), 0755);
         },
         {{"triggers", "warn", "1 waiting: job.now; never handled"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Installation fresh;
        c.setup(&fresh);
        int rc = -1;
        const Json doc = fresh.status(&rc);
        // The verdict is the worst level of any check; only "fail" fails.
        bool any_fail = false;
        bool any_warn = false;
        for (const Json& check : doc["checks"].items) {
            any_fail = any_fail || check["level"].text == "fail";
            any_warn = any_warn || check["level"].text == "warn";
        }
        EXPECT_EQ(rc, any_fail ? 1 : 0);
        EXPECT_EQ(doc["verdict"].text, any_fail ? "fail" : (any_warn ? "warn" : "ok"));
        for (const Finding& f : c.findings) {
            const Json* check = find_check(doc, f.check);
            ASSERT_NE(check, nullptr) << f.check;
            EXPECT_EQ((*check)["level"].text, f.level) << f.check << ": " << (*check)["detail"].text;
            EXPECT_NE((*check)["detail"].text.find(f.detail_has), std::string::npos)
                << f.check << ": " << (*check)["detail"].text;
        }
    }
}

TEST(ZbsStatus, EveryCheckIsThereWithTheDocumentedKeys) {
    Installation installation;
    int rc = -1;
    const Json doc = installation.status(&rc);
    EXPECT_EQ(doc.keys(),
              (std::vector<std::string>{"install_dir", "install_dir_source", "checks", "verdict"}));
    EXPECT_EQ(doc["install_dir"].text, installation.install.path());
    EXPECT_EQ(doc["install_dir_source"].text, "option");
    std::vector<std::string> names;
    for (const Json& check : doc["checks"].items) {
        EXPECT_EQ(check.keys(), (std::vector<std::string>{"name", "level", "detail"}));
        names.push_back(check["name"].text);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"install-directory", "agent", "key-file", "schedule-files",
                                               "engine-program", "updater-program", "mailer-program",
                                               "engine-channel", "etc-directory", "triggers", "zone"}));
    // The zone the agent would take from the same environment.
    const char* tz = std::getenv("TZ");
    const std::string zone = tz != nullptr ? std::string("TZ=") + tz : "(/etc/localtime)";
    EXPECT_NE(doc["checks"].items.back()["detail"].text.find(zone), std::string::npos);
    EXPECT_EQ(doc["verdict"].text, "fail");  // no agent runs
    EXPECT_EQ(rc, 1);
    // The program as it is started, then the command line the agent forms.
    const std::string dir = installation.install.path();
    EXPECT_EQ((*find_check(doc, "engine-program"))["detail"].text,
              "present and startable: " + dir + "/omvar-backup.exe (command line: \"" + dir +
                  "\\omvar-backup.exe\" background)");

    // Found through the environment when no --install-dir is given, from anywhere.
    rc = -1;
    const std::string command = "cd / && OMVAR_INSTALL_DIR=" + shell_quote(dir) + " " +
                                shell_quote(OMVAR_ZBS_BINARY) + " status --json >" +
                                shell_quote(installation.scratch.file("out"));
    EXPECT_EQ(run_shell(command), 1);
    Json found;
    ASSERT_TRUE(JsonReader::parse(read_file(installation.scratch.file("out")), &found));
    EXPECT_EQ(found["install_dir"].text, dir);
    EXPECT_EQ(found["install_dir_source"].text, "environment");
    EXPECT_EQ((*find_check(found, "schedule-files"))["level"].text, "ok");
}

// A relative install directory is taken from where the tool runs.
TEST(ZbsStatus, ARelativeInstallDirectoryFindsThePrograms) {
    Installation installation;
    const std::string path = installation.install.path();
    const std::size_t slash = path.rfind('/');
    const std::string command = "cd " + shell_quote(path.substr(0, slash)) + " && " +
                                shell_quote(OMVAR_ZBS_BINARY) + " status --json --install-dir " +
                                shell_quote(path.substr(slash + 1)) + " >" +
                                shell_quote(installation.scratch.file("out"));
    EXPECT_EQ(run_shell(command), 1);  // no agent runs
    Json doc;
    ASSERT_TRUE(JsonReader::parse(read_file(installation.scratch.file("out")), &doc));
    ASSERT_NE(find_check(doc, "engine-program"), nullptr);
    EXPECT_EQ((*find_check(doc, "engine-program"))["level"].text, "ok")
        << (*find_check(doc, "engine-program"))["detail"].text;
    EXPECT_EQ((*find_check(doc, "schedule-files"))["level"].text, "ok");
}

// The program shown is the one the agent starts: in the install directory, its
// backslash an ordinary byte, not where a Windows reading of the command line leads.
TEST(ZbsStatus, ProgramIsShownWhereTheAgentStartsIt) {
    TempDir temp;
    const std::string dir = temp.file("my\\dir");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    write_file(dir + "/omvar-backup.exe", "#!/bin/sh\n");
    chmod((dir + "/omvar-backup.exe").c_str(), 0755);
    const ToolRun run =
        run_captured(shell_quote(OMVAR_ZBS_BINARY), {"status", "--json", "--install-dir", dir}, temp.path());
    Json doc;
    ASSERT_TRUE(JsonReader::parse(run.out, &doc)) << run.out << run.err;
    ASSERT_NE(find_check(doc, "engine-program"), nullptr);
    EXPECT_EQ((*find_check(doc, "engine-program"))["detail"].text,
              "present and startable: " + dir + "/omvar-backup.exe (command line: \"" + dir +
                  "\\omvar-backup.exe\" background)");
}

TEST(ZbsStatus, TheEnginesQueueMustBelongToRootOrTheAgentsUser) {
    Installation installation;
    // Uses the one queue name "/omvarbackup": registered to run alone.
    mq_attr attr{};
    attr.mq_maxmsg = 4;
    attr.mq_msgsize = 64;
    mqd_t queue = mq_open("/omvarbackup", O_RDWR | O_CREAT | O_EXCL, 0600, &attr);
    if (queue == static_cast<mqd_t>(-1)) {
        GTEST_SKIP() << "the queue /omvarbackup exists already (an engine of another test runs)";
    }
    int rc = -1;
    Json doc = installation.status(&rc);
    ASSERT_NE(find_check(doc, "engine-channel"), nullptr);
    EXPECT_EQ((*find_check(doc, "engine-channel"))["level"].text, "ok");
    if (geteuid() == 0 && fchown(queue, 12345, 12345) == 0) {
        doc = installation.status(&rc);
        EXPECT_EQ((*find_check(doc, "engine-channel"))["level"].text, "fail");
        EXPECT_NE((*find_check(doc, "engine-channel"))["detail"].text.find("belongs to user 12345"),
                  std::string::npos);
    }
    mq_close(queue);
    mq_unlink("/omvarbackup");
    doc = installation.status(&rc);
    EXPECT_EQ((*find_check(doc, "engine-channel"))["level"].text, "ok");
    EXPECT_NE((*find_check(doc, "engine-channel"))["detail"].text.find("does not exist"), std::string::npos);
}

}  // namespace
}  // namespace omvar::test
