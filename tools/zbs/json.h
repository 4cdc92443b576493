// Writing JSON by hand: the few shapes the tool's --json output needs.
#pragma once

#include <string>
#include <vector>

#include "tools/zbs/reading.h"

namespace omvar::zbs {

// A JSON string literal of arbitrary bytes. Valid UTF-8 is kept as it is
// (control characters, '"' and '\' escaped); every byte that is not part of
// valid UTF-8 becomes \udcXX (XX its value, as Python's "surrogateescape"
// writes it), so the result is always valid JSON and the bytes can be recovered.
std::string json_string(const std::string& bytes);
// json_string, or null for an empty text.
std::string json_string_or_null(const std::string& text);
// [{"field", "item", "message"}, ...], null for a field or item that is not named.
std::string warnings_json(const std::vector<Warning>& warnings);

}  // namespace omvar::zbs
