// The debugger output while a DebugCapture lives: every line is kept for the
// test instead of written. Otherwise the system's.
#include <string>
#include <vector>

#include "agent/platform/system.h"
#include "test_support.h"

namespace omvar::test {

namespace {
std::vector<std::string> captured;
bool capturing = false;
}  // namespace

DebugCapture::DebugCapture() {
    captured.clear();
    capturing = true;
}

DebugCapture::~DebugCapture() { capturing = false; }

const std::vector<std::string>& DebugCapture::lines() const { return captured; }

}  // namespace omvar::test

namespace omvar::platform {

void debug_output(const char* line) {
    if (test::capturing) {
        test::captured.emplace_back(line);
    } else {
        system::debug_output(line);
    }
}

}  // namespace omvar::platform
