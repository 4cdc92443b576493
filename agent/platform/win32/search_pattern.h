// The wildcard pattern that lists every entry of a directory with the Windows
// directory search.
#pragma once

#include <cstddef>

namespace omvar::platform {

// "." becomes "*"; otherwise a drive prefix gets one backslash after it, a
// leading "\\" (network path) is kept, other leading backslashes are dropped,
// runs of backslashes become one, and "\*" ends the pattern (forward slashes are
// left as they are). False, with out emptied, if the pattern would not fit.
bool build_search_pattern(const char* dir, char* out, std::size_t size);

}  // namespace omvar::platform
