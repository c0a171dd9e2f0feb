// Noticing hidraw nodes as they come, without polling: inotify on the folder of the nodes.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace quarnel::hid {

// Returns when a hidrawN node is created in `deviceDir` or has its owner or mode changed,
// after at most `timeout`, or soon after `*cancel` (may be null) is raised. Where the folder
// cannot be watched it waits a quarter of a second, so that callers poll instead.
void WaitForNodes(const std::string& deviceDir, std::chrono::milliseconds timeout,
                  const std::atomic<bool>* cancel);

// How long ago the node was made or had its owner or mode changed (its status change time);
// nothing when it cannot be read.
std::optional<std::chrono::milliseconds> NodeAge(const std::string& node);

}  // namespace quarnel::hid
