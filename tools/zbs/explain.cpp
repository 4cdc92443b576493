// explain: an expression read exactly as the agent reads it, in words, with its
// next due minutes and what in it is likely not what was meant.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/zbs/json.h"
#include "tools/zbs/reading.h"
#include "tools/zbs/timeline.h"
#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

constexpr int kShownDueMinutes = 3;

std::string items_text(const FieldRead& field) {
    std::string out;
    for (std::size_t i = 0; i < field.items.size(); ++i) {
        std::string value = reads_as_text(field.items[i]);
        out += (i == 0 ? "" : ", ") + (value.empty() ? std::string("nothing") : value);
    }
    return out;
}

std::string json_reads_as(const ItemRead& item) {
    std::string value = reads_as_text(item);
    if (value.empty()) {
        return "null";
    }
    return item.reading.kind == cron::ItemKind::kNumber ? value : json_string(value);
}

void print_json(const ExpressionRead& read, const std::vector<std::string>& due,
                const std::vector<Warning>& warnings) {
    std::string out = "{\"expression\":" + json_string(read.expression) + ",\"fields\":[";
    for (int f = 0; f < cron::kFieldCount; ++f) {
        const FieldRead& field = read.fields[f];
        out += (f == 0 ? "" : ",");
        out += "{\"name\":" + json_string(kFieldNames[f]) + ",\"text\":" + json_string(field.text) +
               ",\"items\":[";
        for (std::size_t i = 0; i < field.items.size(); ++i) {
            out += (i == 0 ? "" : ",");
            out += "{\"text\":" + json_string(field.items[i].text) +
                   ",\"reads_as\":" + json_reads_as(field.items[i]) + "}";
        }
        out += "]}";
    }
    out += "],\"next\":[";
    for (std::size_t i = 0; i < due.size(); ++i) {
        out += (i == 0 ? "" : ",") + json_string(due[i]);
    }
    out += "],\"warnings\":" + warnings_json(warnings) + "}\n";
    std::fputs(out.c_str(), stdout);
}

void print_text(const ExpressionRead& read, const std::vector<std::string>& due,
                const std::vector<Warning>& warnings) {
    std::printf("expression: %s\n", quoted(read.expression).c_str());
    for (int f = 0; f < cron::kFieldCount; ++f) {
        const FieldRead& field = read.fields[f];
        std::printf("%-7s %s reads as %s\n", kFieldNames[f], quoted(field.text).c_str(),
                    items_text(field).c_str());
    }
    std::printf("in words: %s\n", describe(read).c_str());
    if (due.empty()) {
        std::printf("next: never\n");
    }
    for (const std::string& minute : due) {
        std::printf("next: %s\n", minute.c_str());
    }
    for (const Warning& warning : warnings) {
        std::printf("warning: %s\n", shown(warning_text(warning)).c_str());
    }
}

}  // namespace

int run_explain(const Options& options) {
    DueQuery query;
    int result = read_due_query(options, &query);
    if (result != kExitOk) {
        return result;
    }
    const auto& [start, zone, read] = query;
    std::vector<std::string> due;
    for (platform::Seconds t : due_minutes(due_sets(read), zone, start, kShownDueMinutes)) {
        due.push_back(format_local_minute(t));
    }
    const std::vector<Warning> warnings = all_warnings(read, zone, start);
    if (options.json) {
        print_json(read, due, warnings);
    } else {
        print_text(read, due, warnings);
    }
    if (std::fflush(stdout) != 0) {
        return fail(kExitUsage, "cannot write to standard output");
    }
    return due.empty() ? kExitInvalid : kExitOk;
}

}  // namespace omvar::zbs
