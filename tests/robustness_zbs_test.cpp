// omvar-zbs against hostile arguments and files: every one ends in a clear
// message and a usage or failure code, never a hang or a crash.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "crypt_test_support.h"
#include "test_support.h"

namespace omvar::test {
namespace {

struct ZbsCase {
    const char* name;
    std::vector<std::string> args;  // a leading "@" stands for the install directory
    int rc;
    const char* err;  // a piece of the tool's output (standard output and error)
};

class ZbsBadInput : public ::testing::Test {
  protected:
    void SetUp() override {
        mkdir(install_.file("etc").c_str(), 0755);
        write_file(install_.file("etc/omvar.ak"), known_key_file_bytes());
        write_file(install_.file("one-byte.zbs"), "x");
        write_file(install_.file("ragged.zbs"), std::string(33, 'r'));
        ASSERT_EQ(symlink("/dev/zero", install_.file("zero.zbs").c_str()), 0);
        ASSERT_EQ(mkfifo(install_.file("pipe.zbs").c_str(), 0600), 0);
        ASSERT_EQ(mkdir(install_.file("dir.zbs").c_str(), 0755), 0);
        mkdir(install_.file("short").c_str(), 0755);
        mkdir(install_.file("short/etc").c_str(), 0755);
        write_file(install_.file("short/etc/omvar.ak"), known_key_file_bytes(3903));
    }

    int run(std::vector<std::string> args, std::string* err) {
        // A tool that hangs is killed and reported as such.
        std::string command =
            "cd " + shell_quote(install_.path()) + " && timeout 10 " + shell_quote(OMVAR_ZBS_BINARY);
        for (std::string& a : args) {
            if (!a.empty() && a[0] == '@') {
                a = install_.path() + a.substr(1);
            }
            command += " " + shell_quote(a);
        }
        command += " </dev/null >" + shell_quote(install_.file("err.txt")) + " 2>&1";
        int rc = run_shell(command);
        *err = read_file(install_.file("err.txt"));
        return rc;
    }

    TempDir install_;
};

TEST_F(ZbsBadInput, EndsWithAMessageAndACode) {
    const std::string too_long = "/" + std::string(5000, 'a');
    const std::string expression_1024 = "* * * * *" + std::string(1015, ' ');
    const ZbsCase cases[] = {
        {"over-long install directory",
         {"check", "x.zbs", "--install-dir", too_long},
         2,
         "1024 bytes or longer"},
        {"symlink to a device", {"check", "zero.zbs", "--install-dir", "@"}, 2, "cannot open"},
        {"fifo", {"decrypt", "pipe.zbs", "--install-dir", "@"}, 2, "cannot open"},
        {"directory", {"check", "dir.zbs", "--install-dir", "@"}, 2, "cannot open"},
        {"one byte", {"check", "one-byte.zbs", "--install-dir", "@"}, 1, "not a schedule file"},
        {"not a multiple of 16", {"check", "ragged.zbs", "--install-dir", "@"}, 1, "not a schedule file"},
        {"key file one byte short",
         {"check", "one-byte.zbs", "--install-dir", "@/short"},
         2,
         "cannot read the key"},
        {"device as plaintext", {"encrypt", "/dev/zero", "out.zbs", "--install-dir", "@"}, 2, "cannot open"},
        {"expression of 1024 bytes",
         {"next", expression_1024, "--from", "2024-01-01 00:00"},
         0,
         "nothing more"},
        {"huge count", {"next", "* * * * *", "-n", "99999999999999999999"}, 2, "-n needs"},
        {"negative count", {"next", "* * * * *", "-n", "-1"}, 2, "-n needs"},
    };
    for (const ZbsCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string err;
        EXPECT_EQ(run(c.args, &err), c.rc) << err;
        EXPECT_NE(err.find(c.err), std::string::npos) << err;
    }
    // No key file may appear or change because of any of this.
    EXPECT_EQ(read_file(install_.file("etc/omvar.ak")), known_key_file_bytes());
    EXPECT_FALSE(file_exists(install_.file("out.zbs")));
}

}  // namespace
}  // namespace omvar::test
