// Which install directory the tool looks at when none is named: the one the
// installed agent runs with, so that a health check finds it from anywhere.
#include <cstdio>
#include <filesystem>
#include <string>

#include "agent/base/sizes.h"
#include "agent/cron/command_text.h"
#include "agent/cron/hosting.h"
#include "agent/platform/inspect.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

constexpr char kVariable[] = "OMVAR_INSTALL_DIR";
#ifdef OMVAR_DEFAULT_FILE
constexpr char kEnvironmentFileName[] = OMVAR_DEFAULT_FILE;
#else
constexpr char kEnvironmentFileName[] = "the service's environment file";
#endif

// Blanks and tabs off both ends.
std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string read_small_file(const char* path) {
    std::string text;
    std::FILE* file = platform::open_regular_file(path);
    if (file == nullptr) {
        return text;
    }
    char buffer[4096];
    std::size_t n = 0;
    // An environment file is a few lines; a huge one is not read to its end.
    constexpr std::size_t kMostRead = std::size_t{1} << 20;
    while (text.size() < kMostRead && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(file);
    return text;
}

}  // namespace

bool install_dir_in_environment_file(const std::string& text, std::string* value) {
    bool found = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        const std::size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || line[0] == ';' || equals == std::string::npos ||
            trimmed(line.substr(0, equals)) != kVariable) {
            continue;
        }
        std::string v = trimmed(line.substr(equals + 1));
        // systemd drops one pair of quotes around the whole value.
        if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
            v = v.substr(1, v.size() - 2);
        }
        *value = v;
        found = true;
    }
    return found;
}

void find_install_dir(const char* environment_value, const char* environment_file, Options* options) {
    if (environment_value != nullptr && *environment_value != '\0') {
        options->install_dir = environment_value;
        options->install_dir_source = InstallDirSource::kEnvironment;
        return;
    }
    std::string value;
    if (environment_file != nullptr &&
        install_dir_in_environment_file(read_small_file(environment_file), &value) && !value.empty()) {
        options->install_dir = value;
        options->install_dir_source = InstallDirSource::kEnvironmentFile;
        return;
    }
    // The service is started with the install directory as the rest of its
    // command line, which the agent takes as it is.
    static platform::ServiceRegistration registration;
    if (platform::service_registration(cron::kServiceName, &registration, nullptr, 0) ==
            platform::ServiceQuery::kRegistered &&
        !registration.path_truncated && *cron::command_line_text(registration.binary_path) != '\0') {
        options->install_dir = cron::command_line_text(registration.binary_path);
        options->install_dir_source = InstallDirSource::kService;
        return;
    }
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    options->install_dir = error ? "." : here.string();
    options->install_dir_source = InstallDirSource::kCurrentDirectory;
}

const char* install_dir_source_name(InstallDirSource source) {
    switch (source) {
        case InstallDirSource::kOption:
            return "option";
        case InstallDirSource::kEnvironment:
            return "environment";
        case InstallDirSource::kEnvironmentFile:
            return "environment-file";
        case InstallDirSource::kService:
            return "service";
        case InstallDirSource::kCurrentDirectory:
            break;
    }
    return "current-directory";
}

std::string install_dir_source_text(const Options& options) {
    switch (options.install_dir_source) {
        case InstallDirSource::kOption:
            return "--install-dir";
        case InstallDirSource::kEnvironment:
            return std::string(kVariable) + " in the environment";
        case InstallDirSource::kEnvironmentFile:
            return std::string(kVariable) + " in " + kEnvironmentFileName;
        case InstallDirSource::kService:
            return std::string("the registered service ") + cron::kServiceName;
        case InstallDirSource::kCurrentDirectory:
            break;
    }
    return "the current directory";
}

std::string install_dir_problem(const Options& options, const std::string& error) {
    switch (options.install_dir_source) {
        case InstallDirSource::kOption:
            return error + " (the install directory given with --install-dir)";
        case InstallDirSource::kCurrentDirectory:
            return error +
                   " (no installed agent names an install directory, so the current directory was taken); "
                   "name it with --install-dir DIR";
        default:
            return error + " (the install directory named by " + install_dir_source_text(options) +
                   "); name another with --install-dir DIR";
    }
}

}  // namespace omvar::zbs
