// When an expression is due: the minute ticks at which the agent would match it,
// found field by field over the calendar rather than minute by minute, with the
// local time zone's offset changes looked up once per run.
#pragma once

#include <string>
#include <vector>

#include "agent/platform/platform.h"
#include "tools/zbs/reading.h"

namespace omvar::zbs {

// The local time zone's offsets from UTC over a window of time, as the platform's
// local-time conversion gives them.
class Zone {
  public:
    // Samples [from, to]; two offset changes closer together than six hours may be missed.
    Zone(platform::Seconds from, platform::Seconds to);

    long offset_at(platform::Seconds t) const;
    // The instants (none, one, or two) whose local wall time is the given local
    // seconds (days since the epoch * 86400 + time of day); in increasing order.
    int instants_of(long long local, platform::Seconds out[2]) const;
    long spread() const { return max_offset_ - min_offset_; }

    struct Change {
        platform::Seconds at;  // first second with the new offset
        long before;
        long after;
    };
    const std::vector<Change>& changes() const { return changes_; }

  private:
    std::vector<platform::Seconds> starts_;
    std::vector<long> offsets_;
    std::vector<Change> changes_;
    long min_offset_ = 0;
    long max_offset_ = 0;
};

// Local wall time of t in seconds since the epoch as if the zone were UTC.
bool local_seconds(platform::Seconds t, long long* out);
// Days since 1970-01-01 of a civil date (month 1-12), and back.
long long days_from_civil(long long year, int month, int day);
void civil_from_days(long long days, long long* year, int* month, int* day);

// The expression's fields as sets over the values a calendar gives them, indexed
// by the value each field is compared with, from the same reading. The day field
// decides on the day of the month and the weekday together, so its set has both.
struct DueSets {
    bool never = false;  // too long, or some field matches no value in its range
    bool minute[60] = {};
    bool hour[24] = {};
    bool day[32][7] = {};                  // [tm_mday][tm_wday]
    bool month[12] = {};                   // [tm_mon]
    const ExpressionRead* read = nullptr;  // the year field is asked directly
};
DueSets due_sets(const ExpressionRead& read);

// The first minute tick at or after start, and the last one before start, at
// which the expression matches, looking at most kNextHorizon away. False: none.
bool next_due(const DueSets& sets, const Zone& zone, platform::Seconds start, platform::Seconds* out);
bool previous_due(const DueSets& sets, const Zone& zone, platform::Seconds start, platform::Seconds* out);

// The first count due minutes at or after start, within kNextHorizon of it.
std::vector<platform::Seconds> due_minutes(const DueSets& sets, const Zone& zone, platform::Seconds start,
                                           long count);

// The first minute boundary at or after t, as the agent's tick clock finds it.
platform::Seconds first_boundary(platform::Seconds t);

// The zone's name for messages: TZ, or "the local time zone".
std::string zone_name();

// Days within twelve months after start on which a due local minute does not
// exist or comes twice.
std::vector<Warning> daylight_saving_warnings(const std::string& expression, const Zone& zone,
                                              platform::Seconds start);

// The zone over every instant a search from start may look at.
Zone zone_around(platform::Seconds start);

// Everything the tool warns about for an expression: its text, daylight saving,
// and whether it is due at all within the horizon.
std::vector<Warning> all_warnings(const ExpressionRead& read, const Zone& zone, platform::Seconds start);

struct Options;

// The EXPRESSION|FILE.zbs argument of next and explain, read, with the first
// minute tick at or after --from (default: now) and the zone around it.
struct DueQuery {
    platform::Seconds start = 0;
    Zone zone{0, 0};  // replaced by the zone around start
    ExpressionRead read;
};
// kExitOk, or an exit status after a message (an existing file is read as a
// schedule file).
int read_due_query(const Options& options, DueQuery* query);

}  // namespace omvar::zbs
