// What tests look at in a dialog beside its window and its outlet.
#pragma once

#include "app/FwUpdateDlg.h"

namespace quarnel::testing {

// True while a phase's worker runs.
inline bool PhaseRunning(const CFwUpdateDlg& dlg) {
  return dlg.engine().Snapshot().running;
}

}  // namespace quarnel::testing
