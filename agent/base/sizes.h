// Buffer sizes shared by every layer of the agent and its tools.
#pragma once

#include <cstddef>

namespace omvar::base {

// Every path buffer of the agent; an install directory must be shorter than this.
constexpr std::size_t kPathSize = 1024;

// The pid file path adds "/etc/omvarcrond.pid" to the install directory, so its
// buffer has room beyond kPathSize: every accepted install directory gets its pid
// file, and with it the one-agent lock where the platform takes one.
constexpr std::size_t kPidPathSize = kPathSize + 32;

}  // namespace omvar::base
