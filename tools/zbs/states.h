// The states omvar-zbs reports, each with its one word: the text output, the
// JSON and the manual page all use the words of these tables.
#pragma once

namespace omvar::zbs {

// Ordered: a verdict is the worst level of its findings.
enum class Level { kOk, kWarn, kFail };

enum class KeyState { kNotChecked, kOk, kMissing, kTooShort, kUnreadable };

// A schedule file as the minute tick would meet it.
enum class RowState {
    kOk,
    kNotASchedule,
    kNoScheduleLine,
    kDirectory,
    kNotRegular,
    kUnreadable,
    kTooLong,
    kNoKey,
};

constexpr int kRowStateCount = static_cast<int>(RowState::kNoKey) + 1;

const char* word(Level level);     // "ok", "warn", "fail"
const char* word(KeyState state);  // "not-checked", "ok", "missing", "too-short", "unreadable"
const char* word(RowState state);  // "ok", "not-a-schedule", "no-schedule-line", ...

}  // namespace omvar::zbs
