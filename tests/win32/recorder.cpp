// Stand-in for the updater omvar-update1.exe and the mail sender omvar-txmail.exe
// on Windows (copy it into an install directory under either name; as
// omvar-backup.exe it records the engine's start). Each run appends one block to
// a record file in a single write and exits 0.
//
// The record file is OMVAR_RECORDER_RECORD, or "recorder-record.txt" in the
// working directory. Block, one tab-separated field per line:
//   cmdline   <the command line as the program received it>
//   cwd       <working directory>
//   desktop   <lpDesktop of the start-up record, "(null)" when not set>
//   flags     <dwFlags of the start-up record, hex>
//   priority  <the process's priority class, hex>
//   end
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
    const char* record_env = std::getenv("OMVAR_RECORDER_RECORD");
    std::string record = record_env != nullptr && record_env[0] != '\0' ? record_env : "recorder-record.txt";

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    char cwd[MAX_PATH];
    if (GetCurrentDirectoryA(sizeof cwd, cwd) == 0) {
        cwd[0] = '\0';
    }
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "flags\t%lx\npriority\t%lx\n",
                  static_cast<unsigned long>(startup.dwFlags),
                  static_cast<unsigned long>(GetPriorityClass(GetCurrentProcess())));
    std::string block = std::string("cmdline\t") + GetCommandLineA() + "\ncwd\t" + cwd + "\ndesktop\t" +
                        (startup.lpDesktop != nullptr ? startup.lpDesktop : "(null)") + "\n" + numbers +
                        "end\n";

    std::FILE* f = std::fopen(record.c_str(), "ab");
    if (f != nullptr) {
        std::fwrite(block.data(), 1, block.size(), f);
        std::fclose(f);
    }
    return 0;
}
