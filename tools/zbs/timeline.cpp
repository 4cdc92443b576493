#include "tools/zbs/timeline.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>

#include "agent/cron/schedule.h"
#include "agent/cron/tick_loop.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

constexpr long long kDay = 24LL * 60 * 60;
constexpr platform::Seconds kSampleStep = 6LL * 60 * 60;

long long floor_div(long long a, long long b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// 1970-01-01 was a Thursday.
int weekday_of_days(long long days) { return static_cast<int>(((days % 7) + 7 + 4) % 7); }

std::tm record_of_local(long long local) {
    long long days = floor_div(local, kDay);
    long long seconds = local - days * kDay;
    long long year = 0;
    int month = 0, day = 0;
    civil_from_days(days, &year, &month, &day);
    std::tm t{};
    t.tm_year = static_cast<int>(year - 1900);
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = static_cast<int>(seconds / 3600);
    t.tm_min = static_cast<int>(seconds / 60 % 60);
    t.tm_sec = static_cast<int>(seconds % 60);
    t.tm_wday = weekday_of_days(days);
    return t;
}

std::string date_text(long long local) {
    std::tm t = record_of_local(local);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d", static_cast<long long>(t.tm_year) + 1900,
                  t.tm_mon + 1, t.tm_mday);
    return text;
}

std::string clock_text(long long local) {
    std::tm t = record_of_local(local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", t.tm_hour, t.tm_min);
    return text;
}

long sample_offset(platform::Seconds t, long fallback) {
    long long local = 0;
    return local_seconds(t, &local) ? static_cast<long>(local - t) : fallback;
}

// Walks the calendar from the start day towards the horizon, one matching day
// at a time (years and months that cannot match skipped whole), and within a
// day the matching hours and minutes. The instants of a local minute are at most
// the zone's spread away from it, so the search may stop that far past the best.
bool search(const DueSets& sets, const Zone& zone, platform::Seconds start, bool forward,
            platform::Seconds* out) {
    if (sets.never) {
        return false;
    }
    long long start_local = 0;
    if (!local_seconds(start, &start_local)) {
        return false;
    }
    const long long spread = zone.spread();
    const int step = forward ? 1 : -1;
    long long day = floor_div(forward ? start_local - spread : start_local + spread, kDay);
    bool found = false;
    platform::Seconds best = 0;
    long long best_local = 0;
    long long cached_year = -1;
    bool year_ok = false;
    for (;;) {
        const long long day_start = day * kDay;
        if (forward
                ? day_start > (found ? best_local + spread : start_local + kNextHorizon + spread)
                : day_start + kDay < (found ? best_local - spread : start_local - kNextHorizon - spread)) {
            break;
        }
        // The day's record, and from it what each field is compared with.
        const std::tm record = record_of_local(day_start);
        const long long year = cron::compared_value(record, cron::kYearField);
        if (year != cached_year) {
            cached_year = year;
            year_ok = field_read_matches(*sets.read, cron::kYearField, year, -1);
        }
        if (!year_ok) {
            day = forward ? days_from_civil(year + 1, 1, 1) : days_from_civil(year, 1, 1) - 1;
            continue;
        }
        if (!sets.month[cron::compared_value(record, cron::kMonthField)]) {
            const int civil_month = record.tm_mon + 1;  // days_from_civil counts months from 1
            day = forward ? (civil_month == 12 ? days_from_civil(year + 1, 1, 1)
                                               : days_from_civil(year, civil_month + 1, 1))
                          : days_from_civil(year, civil_month, 1) - 1;
            continue;
        }
        if (!sets.day[cron::compared_value(record, cron::kDayField)][record.tm_wday]) {
            day += step;
            continue;
        }
        for (int h = forward ? 0 : 23; h >= 0 && h < 24; h += step) {
            if (!sets.hour[h]) {
                continue;
            }
            for (int m = forward ? 0 : 59; m >= 0 && m < 60; m += step) {
                if (!sets.minute[m]) {
                    continue;
                }
                const long long local = day_start + h * 3600LL + m * 60LL;
                if (forward ? local < start_local - spread : local > start_local + spread) {
                    continue;
                }
                platform::Seconds instants[2];
                int n = zone.instants_of(local, instants);
                for (int i = 0; i < n; ++i) {
                    platform::Seconds t = instants[i];
                    bool inside = forward ? (t >= start && t < start + kNextHorizon)
                                          : (t < start && t >= start - kNextHorizon);
                    if (inside && (!found || (forward ? t < best : t > best))) {
                        found = true;
                        best = t;
                        best_local = local;
                    }
                }
            }
        }
        day += step;
    }
    if (found) {
        *out = best;
    }
    return found;
}

}  // namespace

long long days_from_civil(long long year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = floor_div(year, 400);
    const long long yoe = year - era * 400;
    const long long doy = (153LL * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(long long days, long long* year, int* month, int* day) {
    days += 719468;
    const long long era = floor_div(days, 146097);
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = yoe + era * 400 + (*month <= 2 ? 1 : 0);
}

bool local_seconds(platform::Seconds t, long long* out) {
    std::tm local{};
    if (!platform::clock_to_local(t, &local)) {
        return false;
    }
    *out = days_from_civil(static_cast<long long>(local.tm_year) + 1900, local.tm_mon + 1, local.tm_mday) *
               kDay +
           local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
    return true;
}

Zone::Zone(platform::Seconds from, platform::Seconds to) {
    long previous = sample_offset(from, 0);
    starts_.push_back(INT64_MIN / 2);
    offsets_.push_back(previous);
    min_offset_ = max_offset_ = previous;
    for (platform::Seconds t = from + kSampleStep, last = from; last < to; last = t, t += kSampleStep) {
        long offset = sample_offset(t, previous);
        if (offset == previous) {
            continue;
        }
        // The first second with the new offset.
        platform::Seconds lo = last;
        platform::Seconds hi = t;
        while (hi - lo > 1) {
            platform::Seconds mid = lo + (hi - lo) / 2;
            (sample_offset(mid, previous) == previous ? lo : hi) = mid;
        }
        starts_.push_back(hi);
        offsets_.push_back(offset);
        changes_.push_back(Change{hi, previous, offset});
        min_offset_ = std::min(min_offset_, offset);
        max_offset_ = std::max(max_offset_, offset);
        previous = offset;
    }
}

long Zone::offset_at(platform::Seconds t) const {
    auto it = std::upper_bound(starts_.begin(), starts_.end(), t);
    return offsets_[static_cast<std::size_t>(it - starts_.begin()) - 1];
}

int Zone::instants_of(long long local, platform::Seconds out[2]) const {
    auto first = std::upper_bound(starts_.begin(), starts_.end(), local - max_offset_);
    std::size_t i = static_cast<std::size_t>(first - starts_.begin()) - 1;
    int n = 0;
    for (; i < starts_.size() && starts_[i] <= local - min_offset_; ++i) {
        platform::Seconds t = local - offsets_[i];
        bool inside = t >= starts_[i] && (i + 1 == starts_.size() || t < starts_[i + 1]);
        if (inside && n < 2) {
            out[n++] = t;
        }
    }
    if (n == 2 && out[1] < out[0]) {
        std::swap(out[0], out[1]);
    }
    return n;
}

namespace {

// Fills one field's set over its calendar range; false when no value matches.
bool fill_set(const ExpressionRead& read, int field, bool* set) {
    const cron::FieldRange range = cron::calendar_range(field);
    bool any = false;
    for (long long v = range.first; v <= range.last; ++v) {
        any |= set[v - range.first] = field_read_matches(read, field, v, -1);
    }
    return any;
}

}  // namespace

DueSets due_sets(const ExpressionRead& read) {
    DueSets sets;
    sets.read = &read;
    if (read.too_long) {
        sets.never = true;  // the agent never reads it
        return sets;
    }
    bool any_day = false;
    const cron::FieldRange days = cron::calendar_range(cron::kDayField);
    for (long long d = days.first; d <= days.last; ++d) {
        for (int w = 0; w < 7; ++w) {
            any_day |= sets.day[d][w] = field_read_matches(read, cron::kDayField, d, w);
        }
    }
    const bool any_minute = fill_set(read, cron::kMinuteField, sets.minute);
    const bool any_hour = fill_set(read, cron::kHourField, sets.hour);
    const bool any_month = fill_set(read, cron::kMonthField, sets.month);
    sets.never = !any_minute || !any_hour || !any_day || !any_month;
    return sets;
}

bool next_due(const DueSets& sets, const Zone& zone, platform::Seconds start, platform::Seconds* out) {
    return search(sets, zone, start, true, out);
}

bool previous_due(const DueSets& sets, const Zone& zone, platform::Seconds start, platform::Seconds* out) {
    return search(sets, zone, start, false, out);
}

std::vector<platform::Seconds> due_minutes(const DueSets& sets, const Zone& zone, platform::Seconds start,
                                           long count) {
    std::vector<platform::Seconds> out;
    for (platform::Seconds t = start, due = 0; static_cast<long>(out.size()) < count; t = due + 60) {
        if (!next_due(sets, zone, t, &due) || due >= start + kNextHorizon) {
            break;
        }
        out.push_back(due);
    }
    return out;
}

// On the agent's own tick grid: the boundary itself when t lies on one.
platform::Seconds first_boundary(platform::Seconds t) { return cron::minute_boundary_after(t - 1); }

std::string zone_name() {
    const char* tz = std::getenv("TZ");
    if (tz == nullptr || *tz == '\0' || (tz[0] == ':' && tz[1] == '\0')) {
        return "the local time zone";
    }
    return tz[0] == ':' ? tz + 1 : tz;
}

std::vector<Warning> daylight_saving_warnings(const std::string& expression, const Zone& zone,
                                              platform::Seconds start) {
    constexpr platform::Seconds kYear = 366 * kDay;
    // Per date, the due minutes that do not exist, and those that come twice.
    std::map<std::string, std::vector<std::string>> skipped;
    std::map<std::string, std::vector<std::string>> doubled;
    for (const Zone::Change& change : zone.changes()) {
        if (change.at < start || change.at >= start + kYear) {
            continue;
        }
        const bool gap = change.after > change.before;
        const long long from = change.at + (gap ? change.before : change.after);
        const long long to = change.at + (gap ? change.after : change.before);
        for (long long local = floor_div(from + 59, 60) * 60; local < to; local += 60) {
            std::tm t = record_of_local(local);
            if (cron::match_schedule(expression.c_str(), &t) == 1) {
                (gap ? skipped : doubled)[date_text(local)].push_back(clock_text(local));
            }
        }
    }
    auto minutes = [](const std::vector<std::string>& list) {
        std::string out;
        const std::size_t shown = std::min<std::size_t>(list.size(), 3);
        for (std::size_t i = 0; i < shown; ++i) {
            out += (i == 0 ? "" : ", ") + list[i];
        }
        if (list.size() > shown) {
            char more[48];
            std::snprintf(more, sizeof more, " and %zu more", list.size() - shown);
            out += more;
        }
        return out;
    };
    std::vector<Warning> out;
    out.reserve(skipped.size() + doubled.size());
    const std::string zone_text = zone_name();
    for (const auto& [date, list] : skipped) {
        std::string message = "not run on " + date;
        message += ": " + minutes(list);
        message += list.size() == 1 ? " does" : " do";
        message += " not exist in " + zone_text;
        out.push_back({"minute", "", message, "hour"});
    }
    for (const auto& [date, list] : doubled) {
        std::string message = "runs twice on " + date;
        message += ": " + minutes(list);
        message += list.size() == 1 ? " comes twice" : " come twice";
        out.push_back({"minute", "", message, "hour"});
    }
    return out;
}

Zone zone_around(platform::Seconds start) {
    return Zone(start - kNextHorizon - 2 * kDay, start + kNextHorizon + 2 * kDay);
}

std::vector<Warning> all_warnings(const ExpressionRead& read, const Zone& zone, platform::Seconds start) {
    long long start_local = 0;
    long long from_year = 0;
    int month = 0, day = 0;
    if (local_seconds(start, &start_local)) {
        civil_from_days(floor_div(start_local, kDay), &from_year, &month, &day);
    }
    std::vector<Warning> out = text_warnings(read, from_year);
    DueSets sets = due_sets(read);
    platform::Seconds next = 0;
    if (!next_due(sets, zone, start, &next)) {
        out.push_back({"", "", "never due within the ten years from " + format_local_minute(start)});
        return out;
    }
    std::vector<Warning> dst = daylight_saving_warnings(read.expression, zone, start);
    out.insert(out.end(), dst.begin(), dst.end());
    return out;
}

}  // namespace omvar::zbs
