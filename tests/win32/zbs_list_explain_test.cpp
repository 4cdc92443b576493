// omvar-zbs.exe list and explain under Windows: what the agent's scan meets in
// an install directory, and an expression read as the agent reads it.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "json_reader.h"
#include "test_support.h"
#include "win32/win_support.h"

namespace {

using namespace omvar;

std::string backslashes(std::string p) {
    for (char& c : p) {
        c = c == '/' ? '\\' : c;
    }
    return p;
}

class WinZbs : public ::testing::Test {
  protected:
    void SetUp() override {
        install_ = backslashes(dir_.path());
        etc_ = install_ + "\\etc";
        CreateDirectoryA(etc_.c_str(), nullptr);
    }

    wintest::RunResult zbs(const std::string& arguments) {
        return wintest::run("\"" + wintest::zbs_exe() + "\" " + arguments, 60000, install_.c_str());
    }
    void encrypt(const std::string& name, const std::string& plain) {
        test::write_file(install_ + "\\plain.txt", plain);
        wintest::RunResult run = zbs("encrypt plain.txt etc\\" + name + " --install-dir " + install_);
        ASSERT_EQ(run.exit_code, 0u) << run.output;
    }

    test::TempDir dir_;
    std::string install_;
    std::string etc_;
};

TEST_F(WinZbs, ListSeesWhatTheMinuteTickMeets) {
    encrypt("nightly.zbs", "# Omvar Backup Schedule\nschedule=30 2 * * *\n");
    encrypt("noline.zbs", "# Omvar Backup Schedule\njob=1\n");
    test::write_file(etc_ + "\\plain.zbs", "# Omvar Backup Schedule\nschedule=* * * * *\n");
    CreateDirectoryA((etc_ + "\\folder.zbs").c_str(), nullptr);
    test::write_file(etc_ + "\\a.eml", "");
    test::write_file(etc_ + "\\run.now", "");
    CreateDirectoryA((etc_ + "\\folder.now").c_str(), nullptr);

    wintest::RunResult run = zbs("list --json --from \"2027-01-01 00:00\" --install-dir " + install_);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 1u) << run.output;
    test::Json doc;
    ASSERT_TRUE(test::JsonReader::parse(run.output, &doc)) << run.output;
    std::map<std::string, std::string> states;
    for (const test::Json& row : doc["schedules"].items) {
        states[row["name"].text] = row["state"].text;
        if (row["name"].text == "nightly.zbs") {
            EXPECT_EQ(row["next"].text, "2027-01-01 02:30");
            EXPECT_EQ(row["previous"].text, "2026-12-31 02:30");
        }
    }
    const std::map<std::string, std::string> expected = {{"nightly.zbs", "ok"},
                                                         {"noline.zbs", "no-schedule-line"},
                                                         {"plain.zbs", "not-a-schedule"},
                                                         {"folder.zbs", "directory"}};
    EXPECT_EQ(states, expected);
    EXPECT_EQ(doc["key"]["state"].text, "ok");
    EXPECT_EQ(doc["updater_next"].text, "2027-01-01 00:56");
    EXPECT_EQ(doc["mail_waiting"]["count"].number, 1);
    ASSERT_EQ(doc["triggers_waiting"]["names"].items.size(), 1u);
    EXPECT_EQ(doc["triggers_waiting"]["names"].items[0].text, "run.now");
    ASSERT_EQ(doc["triggers_waiting"]["never_handled"].items.size(), 1u);

    // Only good rows: exit status 0.
    RemoveDirectoryA((etc_ + "\\folder.zbs").c_str());
    DeleteFileA((etc_ + "\\plain.zbs").c_str());
    DeleteFileA((etc_ + "\\noline.zbs").c_str());
    run = zbs("list --install-dir " + install_);
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find("nightly.zbs: ok"), std::string::npos) << run.output;
}

TEST_F(WinZbs, ListReportsAMissingKeyWithoutMakingOne) {
    test::write_file(etc_ + "\\job.zbs", "0123456789abcdef");
    wintest::RunResult run = zbs("list --install-dir " + install_);
    EXPECT_EQ(run.exit_code, 1u) << run.output;
    EXPECT_NE(run.output.find("job.zbs: no-key"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("no key file"), std::string::npos) << run.output;
    EXPECT_FALSE(wintest::exists(etc_ + "\\omvar.ak"));

    run = zbs("list --install-dir " + install_ + "\\absent");
    EXPECT_EQ(run.exit_code, 2u) << run.output;
}

TEST_F(WinZbs, ExplainReadsAsTheAgentReads) {
    wintest::RunResult run = zbs("explain \"30 8 mon,fri * *\" --from \"2027-01-01 00:00\"");
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find(
                  "in words: at minute 30 of hour 8, on Mondays and Fridays, in every month, in every year"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("next: 2027-01-01 08:30\r\nnext: 2027-01-04 08:30\r\nnext: 2027-01-08 08:30"),
              std::string::npos)
        << run.output;

    run = zbs("explain \"0 2 * Jan 2020\" --json --from \"2027-01-01 00:00\"");
    EXPECT_EQ(run.exit_code, 1u) << run.output;
    test::Json doc;
    ASSERT_TRUE(test::JsonReader::parse(run.output, &doc)) << run.output;
    EXPECT_TRUE(doc["next"].items.empty());
    ASSERT_GE(doc["warnings"].items.size(), 3u);
    EXPECT_EQ(doc["warnings"].items[0]["field"].text, "month");
    EXPECT_EQ(doc["warnings"].items[0]["item"].text, "Jan");
    EXPECT_EQ(doc["fields"].items[3]["items"].items[0]["reads_as"].number, 0);
}

}  // namespace
