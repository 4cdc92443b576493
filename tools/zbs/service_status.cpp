// status on Windows: how the service manager has the agent registered.
#include <string>

#include "agent/base/text.h"
#include "agent/cron/command_text.h"
#include "agent/cron/hosting.h"
#include "agent/platform/inspect.h"
#include "tools/zbs/service_status.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

// A directory path compared as Windows compares it: either separator, no
// trailing one (but "C:\" keeps its own), ASCII letters in any case.
std::string comparable_dir(const std::string& path) {
    std::string out = path;
    for (char& c : out) {
        c = c == '/' ? '\\' : c;
    }
    while (out.size() > 1 && out.back() == '\\' && !(out.size() == 3 && out[1] == ':')) {
        out.pop_back();
    }
    return out;
}

const char* start_text(platform::ServiceStart start) {
    switch (start) {
        case platform::ServiceStart::kAutomatic:
            return "automatic start";
        case platform::ServiceStart::kDelayedAutomatic:
            return "delayed automatic start";
        case platform::ServiceStart::kDemand:
            return "manual start";
        case platform::ServiceStart::kDisabled:
            return "disabled";
        case platform::ServiceStart::kOther:
            break;
    }
    return "an unusual start type";
}

void worsen(Level* level, Level to) { *level = to > *level ? to : *level; }

}  // namespace

RegisteredCommand read_registered_command(const std::string& binary_path) {
    RegisteredCommand out;
    const char* text = binary_path.c_str();
    // The service manager hands the whole line to the agent, which cuts its
    // install directory from it by its own rule.
    out.install_dir_text = cron::command_line_text(text);
    if (!binary_path.empty() && binary_path[0] == '"') {
        std::size_t close = binary_path.find('"', 1);
        out.program = binary_path.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        return out;
    }
    // Unquoted, Windows tries every blank-separated beginning of the line as a
    // program, shortest first; the program meant ends in ".exe".
    std::size_t end = 0;
    for (std::size_t blank = binary_path.find(' '); blank != std::string::npos;
         blank = binary_path.find(' ', blank + 1)) {
        if (base::ends_with_ignoring_case(binary_path.substr(0, blank).c_str(), ".exe")) {
            end = blank;
            break;
        }
    }
    out.program = end == 0 ? binary_path.substr(0, binary_path.find(' ')) : binary_path.substr(0, end);
    std::size_t blank = out.program.find(' ');
    if (blank != std::string::npos) {
        out.hijack_program = out.program.substr(0, blank) + ".exe";
        // Whether the agent then gets the rest depends on how the system quotes
        // the line it starts; the path itself is reported. The rest is compared.
        out.install_dir_text =
            cron::command_line_text(("\"" + out.program + "\"" + binary_path.substr(end)).c_str());
    }
    return out;
}

bool service_finding(const std::string& install_dir, Finding* finding) {
    platform::ServiceRegistration registration;
    char reason[256] = {};
    platform::ServiceQuery query =
        platform::service_registration(cron::kServiceName, &registration, reason, sizeof reason);
    const std::string name = cron::kServiceName;
    switch (query) {
        case platform::ServiceQuery::kNotApplicable:
            return false;
        case platform::ServiceQuery::kError:
            *finding = {"service", Level::kWarn, "cannot read the registration of " + name + ": " + reason};
            return true;
        case platform::ServiceQuery::kNotRegistered:
            *finding = {"service", Level::kWarn,
                        name + " is not registered: the agent does not start with Windows, only by hand"};
            return true;
        case platform::ServiceQuery::kRegistered:
            break;
    }
    const std::string path = registration.binary_path;
    const RegisteredCommand command = read_registered_command(path);
    Level level = Level::kOk;
    std::string detail = "registered, " + std::string(start_text(registration.start)) + ": " + shown(path);
    switch (registration.start) {
        case platform::ServiceStart::kAutomatic:
        case platform::ServiceStart::kDelayedAutomatic:
            break;
        case platform::ServiceStart::kDisabled:
            worsen(&level, Level::kFail);
            detail += "; disabled, it cannot start";
            break;
        default:
            worsen(&level, Level::kWarn);
            detail += "; it does not start with Windows, so after a restart no backup is started";
            break;
    }
    if (registration.path_truncated) {
        worsen(&level, Level::kWarn);
        detail += "; the registered text is longer than can be checked";
    }
    if (!command.hijack_program.empty()) {
        worsen(&level, Level::kFail);
        detail += "; the program path has blanks and no quotes: Windows may start " +
                  shown(command.hijack_program) +
                  " instead of the agent, and the agent may read its install directory from the wrong place";
    }
    if (base::equals_ignoring_case(comparable_dir(command.install_dir_text).c_str(),
                                   comparable_dir(install_dir).c_str())) {
        detail += "; runs this install directory";
    } else {
        worsen(&level, Level::kFail);
        detail += "; the agent takes " + quoted(command.install_dir_text) +
                  " as its install directory, not this one" +
                  (command.install_dir_text.find('"') != std::string::npos
                       ? " (quotes become part of the path: the install directory follows unquoted)"
                       : "");
    }
    *finding = {"service", level, detail};
    return true;
}

}  // namespace omvar::zbs
