// Buffer sizes shared by every layer of the agent and its tools.
#pragma once

#include <cstddef>

namespace omvar::base {

// Every path buffer of the agent; an install directory must be shorter than this.
constexpr std::size_t kPathSize = 1024;

// The pid file, below the install directory.
constexpr char kPidFileSuffix[] = "/etc/omvarcrond.pid";

// Room for the pid file path of every accepted install directory (its NUL is
// counted in kPathSize), and with it the one-agent lock where the platform takes one.
constexpr std::size_t kPidPathSize = kPathSize + sizeof kPidFileSuffix - 1;

}  // namespace omvar::base
