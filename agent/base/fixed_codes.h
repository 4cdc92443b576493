// Numbers and texts that the rest of the product reads.
//
// The product's other programs and the service manager's configuration expect
// these exact values: the process exit codes, the start-up failure lines in the
// debugger output, and the result codes of the backup request channel. They are
// not ordinary choices. Do not renumber, merge or "tidy" them (the line numbers
// are not meant to match any line of this source); a changed value breaks the
// product in the field.
#pragma once

namespace omvar::cron {

// Process exit codes of the Windows entry, by hosting mode.
constexpr int kExitNoPlatform = 1;              // any: family unknown or unsupported
constexpr int kExitNoServiceProcessCall = 31;   // 95/98/ME: RegisterServiceProcess not found
constexpr int kExitServiceProcessRefused = 32;  // 95/98/ME: RegisterServiceProcess failed
constexpr int kExitHiddenInitFailed = 38;       // 95/98/ME: agent_init failed
constexpr int kExitHiddenLoopEnded = 90;        // 95/98/ME: the loop returned
constexpr int kExitServiceInitFailed = 94;      // NT: agent_init failed before the dispatcher
constexpr int kExitServiceStopped = 0;          // NT service: stopped normally
constexpr int kExitDispatcherFailed = 103;      // NT: the dispatcher failed, not with 1063
constexpr int kExitStandaloneInitFailed = 25;   // NT stand-alone: second agent_init failed
constexpr int kExitStandaloneLoopEnded = 41;    // NT stand-alone: the loop returned

// Start-up failures are logged as "%s:%d" with this source path and line:
// "agent\cron\cron:159" and "agent\cron\cron:167".
constexpr char kStartupSourcePath[] = "agent\\cron\\cron";
constexpr int kStartupLineTooLong = 159;      // install directory of 1024 bytes or more
constexpr int kStartupLineNoDirectory = 167;  // install directory cannot be entered

}  // namespace omvar::cron

namespace omvar::dispatch {

// Result codes of the backup request channel, by failing step.
constexpr int kMailslotOpenFailed = 80;
constexpr int kMailslotProbeFailed = 86;
constexpr int kMailslotWriteFailed = 104;

}  // namespace omvar::dispatch
