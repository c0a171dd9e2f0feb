// The dialog's window on a console: the dialog's words go to stdout one per line (or as
// JSON lines), progress and diagnostics to stderr.
#pragma once

#include <functional>
#include <map>
#include <ostream>
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
  // The status label's latest text.
  const std::string& LastStatus() const { return lastStatus_; }
  // Shows a text in the status label, as the dialog would.
  void Status(std::uint32_t colour, const std::string& text);
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
  // The command line runs its own loop around the dialog's tick.
  void SetTimer(unsigned, unsigned) override {}
  void KillTimer(unsigned) override {}
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
  std::string lastStatus_;
  std::function<const char*()> phase_;
  int lastDecile_ = -1;
  bool barDrawn_ = false;
};

}  // namespace quarnel::cli
