#include "win32/win_support.h"
#include "agent/platform/inspect.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace omvar::wintest {

std::string win_path(std::string path) {
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

std::string host_path(const char* build_path) {
    std::string out = "Z:";
    for (const char* p = build_path; *p != '\0'; ++p) {
        out += *p == '/' ? '\\' : *p;
    }
    return out;
}

std::string engine_exe() { return host_path(OMVAR_WIN_ENGINE); }
std::string recorder_exe() { return host_path(OMVAR_WIN_RECORDER); }
std::string cron_exe() { return host_path(OMVAR_CRON_EXE); }
std::string zbs_exe() { return host_path(OMVAR_ZBS_EXE); }

void copy_program(const std::string& from, const std::string& to) {
    CopyFileA(from.c_str(), to.c_str(), FALSE);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string dacl_sddl(const std::string& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return "";
    }
    char* text = nullptr;
    std::string sddl;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &text, nullptr)) {
        sddl = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return sddl;
}

bool set_dacl(const std::string& path, const std::string& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        return false;
    }
    const bool set = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor) != 0;
    LocalFree(descriptor);
    return set;
}

bool under_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

namespace {

// Wine has refused, once in many runs, to start a program that starts every
// other time, so a refused start is tried twice more before the test hears of
// it; a program that cannot start at all still fails every time. Returns 0 or
// the last error.
DWORD create_process(const std::string& command_line, BOOL inherit_handles, const char* cwd,
                     STARTUPINFOA* startup, PROCESS_INFORMATION* info) {
    DWORD error = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::vector<char> text(command_line.begin(), command_line.end());
        text.push_back('\0');
        if (CreateProcessA(nullptr, text.data(), nullptr, nullptr, inherit_handles, 0, nullptr, cwd, startup,
                           info)) {
            return 0;
        }
        error = GetLastError();
        Sleep(200);
    }
    return error;
}

}  // namespace

RunResult run(const std::string& command_line, int timeout_ms, const char* cwd,
              const std::function<bool()>& stop_when) {
    RunResult result{false, 0, ""};
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
        return result;
    }
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    PROCESS_INFORMATION info{};
    DWORD error = create_process(command_line, TRUE, cwd, &startup, &info);
    CloseHandle(write_end);
    if (error != 0) {
        CloseHandle(read_end);
        result.output = "CreateProcessA failed: " + std::to_string(error);
        return result;
    }
    // The output is read on a thread so that a full pipe never stalls the program.
    std::thread reader([&] {
        char chunk[4096];
        DWORD n = 0;
        while (ReadFile(read_end, chunk, sizeof chunk, &n, nullptr) && n > 0) {
            result.output.append(chunk, n);
        }
    });
    auto ended = [&] { return WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0; };
    test::wait_until([&] { return ended() || (stop_when && stop_when()); }, timeout_ms);
    if (ended()) {
        result.finished = true;
        GetExitCodeProcess(info.hProcess, &result.exit_code);
    } else {
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, 5000);
    }
    reader.join();
    CloseHandle(read_end);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return result;
}

HANDLE start(const std::string& command_line, const char* cwd) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (create_process(command_line, FALSE, cwd, &startup, &info) != 0) {
        return nullptr;
    }
    CloseHandle(info.hThread);
    return info.hProcess;
}

Engine::Engine(const std::string& dir) : dir_(dir) {
    process_ = start("\"" + engine_exe() + "\" background", dir_.c_str());
    ready_ = process_ != nullptr && test::wait_until([&] { return exists(dir_ + "\\engine-ready"); }, 10000);
}

Engine::~Engine() { stop(); }

void Engine::stop() {
    if (process_ == nullptr) {
        return;
    }
    std::ofstream(dir_ + "\\engine-stop") << "stop\n";
    if (WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
    process_ = nullptr;
}

std::vector<std::string> Engine::messages() const { return engine_messages(record()); }

std::vector<std::string> engine_messages(const std::string& record) {
    std::vector<std::string> out;
    std::istringstream lines(test::read_file(record));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("msg\t", 0) != 0) {
            continue;
        }
        std::size_t tab = line.find('\t', 4);
        std::string hex = tab == std::string::npos ? "" : line.substr(tab + 1);
        std::string bytes;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        out.push_back(bytes);
    }
    return out;
}

DbwinListener::DbwinListener() {
    listening_ = platform::debug_listen_open(&listener_, nullptr, 0) == 0;
    if (listening_) {
        thread_ = std::thread([this] { run(); });
    }
}

DbwinListener::~DbwinListener() {
    quit_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    platform::debug_listen_close(&listener_);
}

void DbwinListener::run() {
    auto message = std::make_unique<platform::DebugMessage>();
    while (!quit_) {
        if (platform::debug_listen_next(&listener_, 50, message.get()) != 1) {
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(DebugLine{static_cast<DWORD>(message->pid), message->text});
    }
}

std::vector<DebugLine> DbwinListener::lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool DbwinListener::wait_for(const std::function<bool(const DebugLine&)>& match, int timeout_ms) {
    return test::wait_until(
        [&] {
            for (const DebugLine& line : lines()) {
                if (match(line)) {
                    return true;
                }
            }
            return false;
        },
        timeout_ms);
}

}  // namespace omvar::wintest
