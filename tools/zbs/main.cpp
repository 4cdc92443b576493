// Command line of omvar-zbs: options may come anywhere after the program name.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/zbs/zbs.h"

namespace omvar::zbs {

namespace {

constexpr char kUsage[] =
    "usage: omvar-zbs COMMAND [ARGS] [--install-dir DIR]\n"
    "\n"
    "  encrypt PLAIN OUT.zbs          encrypt the text file PLAIN into OUT.zbs\n"
    "  decrypt FILE.zbs               write the decrypted bytes of FILE.zbs to standard output\n"
    "  check FILE.zbs [--at TIME]     tell whether FILE.zbs is a schedule file the agent accepts,\n"
    "                                 which expression it reads, and whether it is due at TIME\n"
    "                                 (default: now)\n"
    "  next EXPRESSION|FILE.zbs [-n N] [--from TIME]\n"
    "                                 list the next N (default 10) minutes, at or after TIME\n"
    "                                 (default: now), at which the agent would submit it;\n"
    "                                 an argument naming an existing file is read as a schedule\n"
    "                                 file, anything else as an expression\n"
    "  list [--from TIME] [--json]    what the agent's minute tick would meet in DIR/etc, in its\n"
    "                                 order: each .zbs entry's state, expression, next and last\n"
    "                                 due minute and warnings; mail and run-now triggers waiting.\n"
    "                                 Reads only: not even a missing key file is made\n"
    "  status [--json]                health check: agent, service registration (Windows), key\n"
    "                                 file, schedule files, programs, engine channel, etc\n"
    "                                 directory, triggers (ok/warn/fail)\n"
    "  explain EXPRESSION|FILE.zbs [--from TIME] [--json]\n"
    "                                 the expression field by field as the agent reads it, in\n"
    "                                 words, its next three due minutes, and its warnings\n"
    "  watch                          show the running agent's diagnostic lines (the pid file\n"
    "                                 names it), each with the time it came, until Ctrl-C; on\n"
    "                                 Linux it names the journal command that shows them\n"
    "\n"
    "  --install-dir DIR   the product's install directory; the key is DIR/etc/omvar.ak, and\n"
    "                      only encrypt creates a missing one. Default: the installed agent's\n"
    "                      (OMVAR_INSTALL_DIR in the environment, else in the service's\n"
    "                      environment file; on Windows the registered service's arguments),\n"
    "                      else the current directory\n"
    "  TIME                local time \"YYYY-MM-DD HH:MM\"\n"
    "  --json              one JSON document (list, status, explain)\n"
    "  --help, --version\n"
    "\n"
    "Expressions are read as the agent reads them: \"minute hour day month year\", months\n"
    "0-11, weekday names (Sun..Sat) in the day field, comma lists, \"*\", no ranges or steps.\n"
    "next, list and explain look at most ten years ahead (and list ten years back); \"never\"\n"
    "means not within that time. next prints one \"YYYY-MM-DD HH:MM\" line per due minute and\n"
    "its warnings on standard error.\n"
    "\n"
    "examples:\n"
    "  omvar-zbs list --install-dir /opt/omvar\n"
    "  omvar-zbs status --install-dir /opt/omvar --json\n"
    "  TZ=Europe/Berlin omvar-zbs explain \"30 2 * * *\"\n"
    "\n"
    "exit status: 0 success (check: a valid schedule file, due or not; list: every entry ok and\n"
    "due; status: nothing fails; explain: due within ten years), 1 not a schedule file (another\n"
    "key, bad header, no schedule line; list: an entry not ok or never due; status: a check\n"
    "fails; explain: never due), 2 usage error or a file or directory that cannot be read or\n"
    "written.\n";

int usage_error(const char* message, const char* detail) {
    fail(kExitUsage, message, detail);
    std::fputs("try 'omvar-zbs --help'\n", stderr);
    return kExitUsage;
}

// --at and --from: an existing local minute "YYYY-MM-DD HH:MM". False after a
// usage message.
bool parse_minute_option(const char* name, const char* value, platform::Seconds* out, bool* given) {
    if (value == nullptr || !parse_local_minute(value, out)) {
        std::string message =
            std::string(name) + " needs an existing local time \"YYYY-MM-DD HH:MM\", not %s";
        usage_error(message.c_str(), value != nullptr ? value : "nothing");
        return false;
    }
    *given = true;
    return true;
}

bool parse_count(const char* text, long* out) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 1000000) {
        return false;
    }
    *out = value;
    return true;
}

// The value of an option given as "--name VALUE" or "--name=VALUE".
bool option_value(const char* name, int argc, char** argv, int* i, const char** value) {
    std::size_t length = std::strlen(name);
    const char* arg = argv[*i];
    if (std::strncmp(arg, name, length) != 0) {
        return false;
    }
    if (arg[length] == '=') {
        *value = arg + length + 1;
        return true;
    }
    if (arg[length] != '\0') {
        return false;
    }
    *value = (*i + 1 < argc) ? argv[++*i] : nullptr;
    return true;
}

int parse(int argc, char** argv, Options* options, bool* done) {
    bool only_positionals = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        if (!only_positionals && std::strcmp(arg, "--") == 0) {
            only_positionals = true;
        } else if (!only_positionals && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
            std::fputs(kUsage, stdout);
            *done = true;
            return kExitOk;
        } else if (!only_positionals && std::strcmp(arg, "--version") == 0) {
            std::printf("omvar-zbs %s\n", OMVAR_VERSION);
            *done = true;
            return kExitOk;
        } else if (!only_positionals && option_value("--install-dir", argc, argv, &i, &value)) {
            if (value == nullptr || *value == '\0') {
                return usage_error("%s needs a directory", "--install-dir");
            }
            options->install_dir = value;
        } else if (!only_positionals && option_value("--at", argc, argv, &i, &value)) {
            if (!parse_minute_option("--at", value, &options->at, &options->has_at)) {
                return kExitUsage;
            }
        } else if (!only_positionals && option_value("--from", argc, argv, &i, &value)) {
            if (!parse_minute_option("--from", value, &options->from, &options->has_from)) {
                return kExitUsage;
            }
        } else if (!only_positionals && std::strcmp(arg, "--json") == 0) {
            options->json = true;
        } else if (!only_positionals && option_value("-n", argc, argv, &i, &value)) {
            if (value == nullptr || !parse_count(value, &options->count)) {
                return usage_error("-n needs a count from 1 to 1000000, not %s",
                                   value != nullptr ? value : "nothing");
            }
            options->has_count = true;
        } else if (!only_positionals && arg[0] == '-' &&
                   ((arg[1] != '\0' && options->command != "next" && options->command != "explain") ||
                    arg[1] == '-')) {
            // next and explain take expressions such as "-5 * * * *"; "--x" is an option everywhere.
            return usage_error("unknown option %s", arg);
        } else if (options->command.empty()) {
            options->command = arg;
        } else if (options->arg_count < 2) {
            options->args[options->arg_count++] = arg;
        } else {
            return usage_error("unexpected argument %s", arg);
        }
    }
    return kExitOk;
}

// What each command takes, and what runs it.
struct Command {
    const char* name;
    int args;
    bool at;
    bool next_options;
    bool from;
    bool json;
    int (*run)(const Options& options);
};
const Command kCommands[] = {
    {"encrypt", 2, false, false, false, false, run_encrypt},
    {"decrypt", 1, false, false, false, false, run_decrypt},
    {"check", 1, true, false, false, false, run_check},
    {"next", 1, false, true, true, false, run_next},
    {"list", 0, false, false, true, true, run_list},
    {"status", 0, false, false, false, true, run_status},
    {"explain", 1, false, false, true, true, run_explain},
    {"watch", 0, false, false, false, false, run_watch},
};

// kExitOk with the command in *found, or a usage error.
int check_shape(const Options& o, const Command** found) {
    if (o.command.empty()) {
        return usage_error("%s", "no command given");
    }
    for (const Command& shape : kCommands) {
        if (o.command != shape.name) {
            continue;
        }
        if (o.arg_count != shape.args) {
            return usage_error("wrong number of arguments for %s", shape.name);
        }
        if (o.has_at && !shape.at) {
            return usage_error("--at belongs to check, not %s", shape.name);
        }
        if (o.has_count && !shape.next_options) {
            return usage_error("-n belongs to next, not %s", shape.name);
        }
        if (o.has_from && !shape.from) {
            return usage_error("--from belongs to next, list and explain, not %s", shape.name);
        }
        if (o.json && !shape.json) {
            return usage_error("--json belongs to list, status and explain, not %s", shape.name);
        }
        *found = &shape;
        return kExitOk;
    }
    return usage_error("unknown command %s", o.command.c_str());
}

}  // namespace

}  // namespace omvar::zbs

int main(int argc, char** argv) {
    using namespace omvar::zbs;
    Options options;
    bool done = false;
    int result = parse(argc, argv, &options, &done);
    if (result != kExitOk || done) {
        return result;
    }
    const Command* command = nullptr;
    result = check_shape(options, &command);
    if (result != kExitOk) {
        return result;
    }
    if (options.install_dir.empty()) {
#ifdef OMVAR_DEFAULT_FILE
        find_install_dir(std::getenv("OMVAR_INSTALL_DIR"), OMVAR_DEFAULT_FILE, &options);
#else
        find_install_dir(nullptr, nullptr, &options);
#endif
    }
    return command->run(options);
}
