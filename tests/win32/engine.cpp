// Stand-in for the backup engine omvar-backup.exe on Windows: creates the mailslot
// "\\.\mailslot\omvarbackup" and records every message it reads.
//
// Started with the one argument "background". Files, relative to the working
// directory unless the environment names them:
//   OMVAR_ENGINE_RECORD  record (default "engine-record.txt"), one line per event:
//                          start  pid=<pid>  priority=<priority class, hex>  cwd=<dir>  cmdline=<text>
//                          msg    <length>   <bytes as lower-case hex>
//                          error  <what>     <system error code>
//                          stop
//   OMVAR_ENGINE_READY   marker holding the pid, written once the mailslot exists
//                        (default "engine-ready"); removed when the engine stops
//   OMVAR_ENGINE_STOP    the engine stops once this file exists (default "engine-stop")
// It also stops by itself after two minutes, so that a failed test leaves no
// engine behind to hold the mailslot name. Any other arguments: exit code 2.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hex.h"

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kLifetimeMs = 120000;
// Larger than any message the agent writes (a path of at most 1024 bytes): Wine
// silently cuts a message that does not fit the read buffer.
constexpr DWORD kReadBufferSize = 64 * 1024;

std::string env_or(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? value : fallback;
}

std::string record_path;

void append_line(const std::string& line) {
    std::FILE* f = std::fopen(record_path.c_str(), "ab");
    if (f == nullptr) {
        return;
    }
    std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "background") != 0) {
        std::fprintf(stderr, "usage: omvar-backup.exe background\n");
        return 2;
    }
    record_path = env_or("OMVAR_ENGINE_RECORD", "engine-record.txt");
    const std::string ready_path = env_or("OMVAR_ENGINE_READY", "engine-ready");
    const std::string stop_path = env_or("OMVAR_ENGINE_STOP", "engine-stop");

    char cwd[MAX_PATH];
    if (GetCurrentDirectoryA(sizeof cwd, cwd) == 0) {
        std::strcpy(cwd, "?");
    }
    char priority[16];
    std::snprintf(priority, sizeof priority, "%lx",
                  static_cast<unsigned long>(GetPriorityClass(GetCurrentProcess())));
    append_line("start\tpid=" + std::to_string(GetCurrentProcessId()) + "\tpriority=" + priority +
                "\tcwd=" + cwd + "\tcmdline=" + GetCommandLineA());

    HANDLE slot = CreateMailslotA("\\\\.\\mailslot\\omvarbackup", 0, kPollMs, nullptr);
    if (slot == INVALID_HANDLE_VALUE) {
        append_line("error\tCreateMailslotA\t" + std::to_string(GetLastError()));
        return 3;
    }
    std::FILE* marker = std::fopen(ready_path.c_str(), "wb");
    if (marker != nullptr) {
        std::fprintf(marker, "%lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
        std::fclose(marker);
    }

    std::vector<char> buffer(kReadBufferSize);
    const ULONGLONG deadline = GetTickCount64() + kLifetimeMs;
    while (!exists(stop_path) && GetTickCount64() < deadline) {
        DWORD n = 0;
        // The read waits at most the mailslot's read timeout.
        if (ReadFile(slot, buffer.data(), kReadBufferSize, &n, nullptr)) {
            append_line("msg\t" + std::to_string(n) + "\t" + omvar::test::to_hex(buffer.data(), n));
        } else if (GetLastError() != ERROR_SEM_TIMEOUT) {
            append_line("error\tReadFile\t" + std::to_string(GetLastError()));
            Sleep(kPollMs);
        }
    }
    CloseHandle(slot);
    append_line("stop");
    DeleteFileA(ready_path.c_str());
    return 0;
}
