#include "tools/zbs/states.h"

namespace omvar::zbs {

namespace {

const char* const kLevelWords[] = {"ok", "warn", "fail"};
const char* const kKeyStateWords[] = {"not-checked", "ok", "missing", "too-short", "unreadable"};
const char* const kRowStateWords[] = {"ok",          "not-a-schedule", "no-schedule-line", "directory",
                                      "not-regular", "unreadable",     "too-long",         "no-key"};

static_assert(sizeof kLevelWords / sizeof *kLevelWords == static_cast<int>(Level::kFail) + 1,
              "a word per level");
static_assert(sizeof kKeyStateWords / sizeof *kKeyStateWords == static_cast<int>(KeyState::kUnreadable) + 1,
              "a word per key state");
static_assert(sizeof kRowStateWords / sizeof *kRowStateWords == kRowStateCount, "a word per row state");

}  // namespace

const char* word(Level level) { return kLevelWords[static_cast<int>(level)]; }
const char* word(KeyState state) { return kKeyStateWords[static_cast<int>(state)]; }
const char* word(RowState state) { return kRowStateWords[static_cast<int>(state)]; }

}  // namespace omvar::zbs
