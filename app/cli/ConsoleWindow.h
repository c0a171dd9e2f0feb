// The dialog's window on a console: the dialog's words go to stdout one per line (or as
// JSON lines), progress and diagnostics to stderr.
#pragma once

#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>

#include "app/DialogWindow.h"

namespace quarnel::cli {

std::string JsonEscape(const std::string& text);

class ConsoleWindow final : public DialogWindow {
 public:
  struct Style {
    bool json = false;
    bool terminal = false;  // stderr is a terminal: draw a progress bar in place
  };

  ConsoleWindow(std::ostream& out, std::ostream& err, Style style);

  // Progress is shown from here on (the bar's start-up position is not news).
  void BeginRun(std::function<const char*()> phase);
  void EndRun();
  bool TimerActive(unsigned id) const { return timers_.count(id) != 0; }
  const std::string& Text(int id) { return texts_[id]; }
  void Result(int code, const std::string& text);
  void Diagnostic(const std::string& text);

  void SetItemText(int id, const std::string& text) override;
  std::string GetItemText(int id, std::size_t maxChars) override;
  void SetTextColorAndRedraw(int id, std::uint32_t colour) override;
  void EnableItem(int id, bool enable) override;
  bool IsItemEnabled(int id) override;
  void SetProgressRange(int, int) override {}
  void SetProgressPos(int pos) override;
  void MessageBox(const std::string& text) override;
  void SetTimer(unsigned id, unsigned) override { timers_.insert(id); }
  void KillTimer(unsigned id) override { timers_.erase(id); }
  void EndDialog(int) override {}

 private:
  void Event(const std::string& fields);
  void FinishBar();

  std::ostream& out_;
  std::ostream& err_;
  Style style_;
  std::map<int, std::string> texts_;
  std::map<int, std::uint32_t> colours_;
  std::map<int, bool> enabled_;
  std::set<unsigned> timers_;
  std::string lastStatus_;
  std::function<const char*()> phase_;
  int lastDecile_ = -1;
  bool barDrawn_ = false;
};

}  // namespace quarnel::cli
