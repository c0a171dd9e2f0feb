// What the command line needs of the platform's console, one file per platform.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace quarnel::cli {

// Ctrl-C and the like raise `interrupted` and `waitEnds`, whatever the parent left blocked.
// A hang-up of the terminal (Linux: SIGHUP) raises only `waitEnds`: nobody is left to plug a
// unit in, so a wait for one (--wait) ends, while a run that has found its unit goes on to its
// end. Output that can no longer be written (a closed pipe, a hung-up terminal) neither kills
// the program nor ends the run. Called before any thread starts.
void InstallInterruptHandlers(std::atomic<bool>& interrupted, std::atomic<bool>& waitEnds);

// The width of the terminal on stderr in columns; 0 when unknown.
int StderrColumns();

// What this user can do about a unit they may not open.
std::string PermissionAdvice(const std::string& path, std::uint16_t productId);

// The udev advice on Linux: whether the rule is installed decides what is said.
std::string UdevAdvice(std::uint16_t productId, bool ruleInstalled);

}  // namespace quarnel::cli
