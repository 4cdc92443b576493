// status's look at the service registration (Windows).
#pragma once

#include <string>

#include "tools/zbs/states.h"

namespace omvar::zbs {

struct Finding {
    std::string name;
    Level level = Level::kOk;
    std::string detail;
};

// A registered service command line as Windows and the agent read it.
struct RegisteredCommand {
    std::string program;           // the program Windows means to start
    std::string hijack_program;    // unquoted with a blank: what Windows tries first
    std::string install_dir_text;  // what the agent takes as its install directory
};
RegisteredCommand read_registered_command(const std::string& binary_path);

// False where there is no service manager to ask (nothing to report).
bool service_finding(const std::string& install_dir, Finding* finding);

}  // namespace omvar::zbs
