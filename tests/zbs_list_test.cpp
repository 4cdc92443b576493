// omvar-zbs list and explain as an administrator runs them: every kind of entry
// the agent's scan can meet, the JSON documents, exit statuses, and that list
// changes nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "json_reader.h"
#include "zbs_test_support.h"

namespace omvar::test {
namespace {

// Root reads every file whatever its mode; without these two capabilities it
// is held to the mode bits like anyone else, which makes a file unreadable.
std::string without_read_override() {
    if (geteuid() != 0) {
        return "";
    }
    return run_shell("command -v setpriv >/dev/null") == 0
               ? "setpriv --bounding-set=-dac_override,-dac_read_search "
               : "";
}

class ZbsListTest : public ::testing::Test, public ZbsInstall {
  protected:
    void SetUp() override { use_known_key(); }

    Json list_json(const std::string& dir, const std::string& prefix = "") {
        ToolRun run =
            zbs({"list", "--json", "--from", "2027-01-01 00:00", "--install-dir", dir}, "UTC", "", prefix);
        Json doc;
        EXPECT_TRUE(JsonReader::parse(run.out, &doc)) << run.out << run.err;
        return doc;
    }

    static std::map<std::string, std::string> states(const Json& doc) {
        std::map<std::string, std::string> out;
        for (const Json& row : doc["schedules"].items) {
            out[row["name"].text] = row["state"].text;
        }
        return out;
    }
};

TEST_F(ZbsListTest, EveryKindOfEntryGetsItsState) {
    const std::string etc = install.file("etc");
    schedule("nightly.zbs", "30 2 * * *");
    schedule("upper.ZBS", "0 12 * * *");
    schedule("past.zbs", "0 0 * * 2020");
    encrypt_to(etc + "/header.zbs", "# omvar backup schedule\nschedule=* * * * *\n", key);
    encrypt_to(etc + "/noline.zbs", "# Omvar Backup Schedule\njob=1\n", key);
    encrypt_to(etc + "/otherkey.zbs", "# Omvar Backup Schedule\nschedule=* * * * *\n", std::string(32, 'o'));
    write_file(etc + "/plain.zbs", "# Omvar Backup Schedule\nschedule=* * * * *\n");
    mkdir((etc + "/folder.zbs").c_str(), 0755);
    mkfifo((etc + "/fifo.zbs").c_str(), 0600);
    ASSERT_EQ(symlink("nowhere", (etc + "/dangling.zbs").c_str()), 0);
    ASSERT_EQ(symlink("folder.zbs", (etc + "/linked-dir.zbs").c_str()), 0);
    schedule("locked.zbs", "* * * * *");
    chmod((etc + "/locked.zbs").c_str(), 0);
    const std::string odd_name = std::string("odd\xff\x01\"name.zbs");
    schedule(odd_name, "0 3 * * *");
    write_file(etc + "/notes.txt", "not scanned");
    write_file(etc + "/a.eml", "");
    write_file(etc + "/b.EML", "");
    write_file(etc + "/run.now", "");
    mkdir((etc + "/folder.now").c_str(), 0755);

    const std::string prefix = without_read_override();
    const bool can_lock = geteuid() != 0 || !prefix.empty();
    const Json doc = list_json(install.path(), prefix);
    const std::map<std::string, std::string> expected = {
        {"nightly.zbs", "ok"},
        {"upper.ZBS", "ok"},
        {"past.zbs", "ok"},
        {"header.zbs", "not-a-schedule"},
        {"noline.zbs", "no-schedule-line"},
        {"otherkey.zbs", "not-a-schedule"},
        {"plain.zbs", "not-a-schedule"},
        {"folder.zbs", "directory"},
        {"linked-dir.zbs", "directory"},
        {"fifo.zbs", "not-regular"},
        {"dangling.zbs", "not-regular"},
        {"locked.zbs", can_lock ? "unreadable" : "ok"},
        {odd_name, "ok"},
    };
    EXPECT_EQ(states(doc), expected);
    if (!can_lock) {
        std::fprintf(stderr,
                     "note: running as root without setpriv: the unreadable state was not produced\n");
    }
    for (const Json& row : doc["schedules"].items) {
        SCOPED_TRACE(row["name"].text);
        const bool ok = row["state"].text == "ok";
        EXPECT_EQ(row["expression"].is_null(), !ok);
        EXPECT_EQ(row["next"].is_null(), !ok);
        EXPECT_EQ(row["previous"].is_null(), !ok);
        // Every state but ok says why.
        EXPECT_EQ(row["warnings"].items.empty(), ok && row["name"].text != "past.zbs");
        if (row["state"].text == "unreadable") {
            EXPECT_EQ(row["warnings"].items[0]["message"].text, "Permission denied");
        }
    }
    // A list of ok rows, in the directory's own order: check the values of two.
    for (const Json& row : doc["schedules"].items) {
        if (row["name"].text == "nightly.zbs") {
            EXPECT_EQ(row["expression"].text, "30 2 * * *");
            EXPECT_EQ(row["next"].text, "2027-01-01 02:30");
            EXPECT_EQ(row["previous"].text, "2026-12-31 02:30");
        }
        if (row["name"].text == "past.zbs") {
            EXPECT_EQ(row["next"].text, "never");
            EXPECT_EQ(row["previous"].text, "2020-12-31 00:00");
            ASSERT_EQ(row["warnings"].items.size(), 2u);
            EXPECT_EQ(row["warnings"].items[0]["field"].text, "year");
            EXPECT_EQ(row["warnings"].items[0]["item"].text, "2020");
        }
    }
    EXPECT_EQ(doc["updater_next"].text, "2027-01-01 00:56");
    EXPECT_EQ(doc["mail_waiting"]["count"].number, 2);
    ASSERT_EQ(doc["triggers_waiting"]["names"].items.size(), 1u);
    EXPECT_EQ(doc["triggers_waiting"]["names"].items[0].text, "run.now");
    ASSERT_EQ(doc["triggers_waiting"]["never_handled"].items.size(), 1u);
    EXPECT_EQ(doc["triggers_waiting"]["never_handled"].items[0].text, "folder.now");

    // The text output has one "name: state" line per entry, control bytes shown escaped.
    ToolRun run =
        zbs({"list", "--from", "2027-01-01 00:00", "--install-dir", install.path()}, "UTC", "", prefix);
    EXPECT_EQ(run.rc, 1) << run.err;
    EXPECT_NE(run.out.find("\nfolder.zbs: directory\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nodd\xff\\x01\"name.zbs: ok\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("mail waiting: 2"), std::string::npos);
    EXPECT_NE(run.out.find("never handled, a directory named like a trigger: folder.now"), std::string::npos);
    // The updater's minutes in words, from the expression the agent uses.
    EXPECT_NE(run.out.find("\nupdater: next start 2027-01-01 00:56 (minute 56 of every hour)\n"),
              std::string::npos)
        << run.out;
}

TEST_F(ZbsListTest, TooLongPathsAreSkippedAsTheAgentSkipsThem) {
    // An install directory deep enough that a long name no longer fits the agent's 1024-byte path.
    std::string dir = install.path();
    while (dir.size() < 780) {
        dir += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    }
    ASSERT_EQ(mkdir((dir + "/etc").c_str(), 0755), 0);
    write_file(dir + "/etc/omvar.ak", known_key_file_bytes());
    const std::string long_name = std::string(1024 - (dir.size() + 4) - 2 - 4, 'n') + ".zbs";
    const std::string fits_name = long_name.substr(1);
    ASSERT_LT(long_name.size(), 256u);
    encrypt_to(dir + "/etc/" + long_name, "# Omvar Backup Schedule\nschedule=* * * * *\n", key);
    encrypt_to(dir + "/etc/" + fits_name, "# Omvar Backup Schedule\nschedule=* * * * *\n", key);
    const Json doc = list_json(dir);
    const std::map<std::string, std::string> expected = {{long_name, "too-long"}, {fits_name, "ok"}};
    EXPECT_EQ(states(doc), expected);
}

TEST_F(ZbsListTest, AMissingKeyIsReportedNeverMade) {
    const std::string etc = install.file("etc");
    schedule("nightly.zbs", "30 2 * * *");
    mkdir((etc + "/folder.zbs").c_str(), 0755);
    ASSERT_EQ(unlink((etc + "/omvar.ak").c_str()), 0);
    struct stat before {};
    ASSERT_EQ(stat(etc.c_str(), &before), 0);

    ToolRun run = zbs({"list", "--install-dir", install.path()});
    EXPECT_EQ(run.rc, 1);
    EXPECT_NE(
        run.out.find("no key file: the agent creates one at its first schedule file, and every existing "
                     "schedule file then fails"),
        std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("nightly.zbs: no-key"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("folder.zbs: directory"), std::string::npos) << run.out;
    EXPECT_FALSE(file_exists(etc + "/omvar.ak"));

    const Json doc = list_json(install.path());
    EXPECT_EQ(doc["key"]["state"].text, "missing");
    struct stat after {};
    ASSERT_EQ(stat(etc.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtime, before.st_mtime);
    EXPECT_EQ(after.st_nlink, before.st_nlink);

    write_file(etc + "/omvar.ak", "short");
    EXPECT_EQ(list_json(install.path())["key"]["state"].text, "too-short");
    EXPECT_EQ(read_file(etc + "/omvar.ak"), "short");
}

TEST_F(ZbsListTest, ExitStatusAndBadInstallDirectories) {
    schedule("nightly.zbs", "30 2 * * *");
    write_file(install.file("file"), "");
    struct Case {
        std::vector<std::string> args;
        int rc;
        const char* err_has;
    };
    const std::string long_dir = "/" + std::string(1100, 'x');
    const Case cases[] = {
        {{"list", "--install-dir", install.path()}, 0, ""},
        {{"list", "--install-dir", install.file("absent")}, 2, "absent/etc: No such file or directory"},
        {{"list", "--install-dir", install.file("file")}, 2, "file/etc: Not a directory"},
        {{"list", "--install-dir", scratch.path()}, 2, "cannot list"},
        {{"list", "--install-dir", long_dir}, 2, "1024 bytes or longer"},
        {{"list", "extra", "--install-dir", install.path()}, 2, "wrong number of arguments"},
        {{"list", "--from", "2027-02-30 00:00", "--install-dir", install.path()}, 2, "--from needs"},
        {{"list", "-n", "3", "--install-dir", install.path()}, 2, "belongs to next"},
        {{"status", "--from", "2027-01-01 00:00"}, 2, "--from belongs to"},
        {{"check", "x.zbs", "--json"}, 2, "--json belongs to"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        ToolRun run = zbs(c.args);
        EXPECT_EQ(run.rc, c.rc) << run.err;
        EXPECT_NE(run.err.find(c.err_has), std::string::npos) << run.err;
    }
}

TEST_F(ZbsListTest, ExplainReadsFieldByFieldAndWarns) {
    struct Case {
        std::string expression;
        int rc;
        std::vector<std::string> out_has;
    };
    const Case cases[] = {
        {"30 8 mon,fri * *",
         0,
         {"in words: at minute 30 of hour 8, on Mondays and Fridays, in every month, in every year\n",
          "next: 2027-01-01 08:30\nnext: 2027-01-04 08:30\nnext: 2027-01-08 08:30\n"}},
        {"30 8 Monday * *", 1, {"warning: day \"Monday\": \"Monday\" reads as 0", "next: never\n"}},
        {"-5 * * * *", 1, {"warning: minute \"-5\": minute -5 never comes"}},
        {std::string(5000, '7'), 1, {"1024 bytes or longer"}},
        {"\x01\xff *", 1, {"expression: \"\\x01\xff *\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expression.substr(0, 30));
        ToolRun run = zbs({"explain", c.expression, "--from", "2027-01-01 00:00"});
        EXPECT_EQ(run.rc, c.rc) << run.err;
        for (const std::string& part : c.out_has) {
            EXPECT_NE(run.out.find(part), std::string::npos) << run.out;
        }
    }
    // A schedule file is read with the installation's key; it is never created.
    schedule("nightly.zbs", "30 2 * * *");
    ToolRun run = zbs({"explain", install.file("etc/nightly.zbs"), "--from", "2027-01-01 00:00",
                       "--install-dir", install.path()},
                      "Europe/Berlin");
    EXPECT_EQ(run.rc, 0) << run.err;
    EXPECT_NE(run.out.find(
                  "warning: minute and hour: not run on 2027-03-28: 02:30 does not exist in Europe/Berlin"),
              std::string::npos)
        << run.out;
    // In JSON a daylight-saving warning names the two fields of the time of day.
    run = zbs({"explain", "30 2 * * *", "--json", "--from", "2027-01-01 00:00"}, "Europe/Berlin");
    Json doc;
    ASSERT_TRUE(JsonReader::parse(run.out, &doc)) << run.out;
    ASSERT_EQ(doc["warnings"].items.size(), 2u) << run.out;
    for (const Json& w : doc["warnings"].items) {
        EXPECT_EQ(w["field"].text, "minute");
        ASSERT_EQ(w["fields"].items.size(), 2u);
        EXPECT_EQ(w["fields"].items[1].text, "hour");
    }
}

TEST_F(ZbsListTest, JsonDocumentsHaveTheDocumentedKeys) {
    schedule("nightly.zbs", "30 2 * * *");
    schedule("bad\xff.zbs", "0 2 * Jan *");
    Json doc = list_json(install.path());
    EXPECT_EQ(doc.keys(),
              (std::vector<std::string>{"install_dir", "install_dir_source", "from", "key", "schedules",
                                        "updater_next", "mail_waiting", "triggers_waiting"}));
    EXPECT_EQ(doc["key"].keys(), std::vector<std::string>{"state"});
    EXPECT_EQ(doc["install_dir"].text, install.path());
    EXPECT_EQ(doc["from"].text, "2027-01-01 00:00");
    ASSERT_EQ(doc["schedules"].items.size(), 2u);
    bool saw_bad_name = false;
    for (const Json& row : doc["schedules"].items) {
        EXPECT_EQ(row.keys(),
                  (std::vector<std::string>{"name", "state", "expression", "next", "previous", "warnings"}));
        saw_bad_name = saw_bad_name || row["name"].text == "bad\xff.zbs";  // \udcff decodes to the byte
        for (const Json& w : row["warnings"].items) {
            EXPECT_EQ(w.keys(), (std::vector<std::string>{"field", "fields", "item", "message"}));
        }
    }
    EXPECT_TRUE(saw_bad_name);

    ToolRun run = zbs({"explain", "30 8 Monday,fri * *", "--json", "--from", "2027-01-01 00:00"});
    EXPECT_EQ(run.rc, 0);
    doc = Json{};
    ASSERT_TRUE(JsonReader::parse(run.out, &doc)) << run.out;
    EXPECT_EQ(doc.keys(), (std::vector<std::string>{"expression", "fields", "next", "warnings"}));
    ASSERT_EQ(doc["fields"].items.size(), 5u);
    const char* const names[] = {"minute", "hour", "day", "month", "year"};
    for (int f = 0; f < 5; ++f) {
        const Json& field = doc["fields"].items[static_cast<std::size_t>(f)];
        EXPECT_EQ(field.keys(), (std::vector<std::string>{"name", "text", "items"}));
        EXPECT_EQ(field["name"].text, names[f]);
    }
    const Json& day = doc["fields"].items[2]["items"];
    ASSERT_EQ(day.items.size(), 2u);
    EXPECT_EQ(day.items[0]["text"].text, "Monday");
    EXPECT_EQ(day.items[0]["reads_as"].type, Json::Type::kNumber);
    EXPECT_EQ(day.items[0]["reads_as"].number, 0);
    EXPECT_EQ(day.items[1]["reads_as"].text, "Fri");
    EXPECT_EQ(doc["fields"].items[3]["items"].items[0]["reads_as"].text, "*");
    ASSERT_EQ(doc["next"].items.size(), 3u);
    EXPECT_EQ(doc["next"].items[0].text, "2027-01-01 08:30");
    ASSERT_EQ(doc["warnings"].items.size(), 1u);
    EXPECT_EQ(doc["warnings"].items[0]["field"].text, "day");
    EXPECT_EQ(doc["warnings"].items[0]["item"].text, "Monday");
}

TEST_F(ZbsListTest, CheckAndNextCarryTheWarnings) {
    schedule("jan.zbs", "0 2 * Jan *");
    ToolRun run = zbs(
        {"check", install.file("etc/jan.zbs"), "--at", "2027-01-05 02:00", "--install-dir", install.path()});
    EXPECT_EQ(run.rc, 0) << run.err;
    EXPECT_NE(run.out.find("warning: month \"Jan\": \"Jan\" reads as 0 (January)"), std::string::npos)
        << run.out;

    // next keeps its standard output to the date lines; the warnings go to standard error.
    run = zbs({"next", "0 2 * Jan *", "-n", "2", "--from", "2027-01-01 00:00"});
    EXPECT_EQ(run.rc, 0);
    EXPECT_EQ(run.out, "2027-01-01 02:00\n2027-01-02 02:00\n");
    EXPECT_NE(run.err.find("warning: month \"Jan\""), std::string::npos) << run.err;
}

}  // namespace
}  // namespace omvar::test
