#pragma once

namespace quarnel {

// Whether standard error is an interactive terminal (per platform).
bool StderrIsTerminal();

}  // namespace quarnel
