// The dialog's window on a console: silent. The command line speaks from the dialog's
// semantic outlet; the window only keeps the controls' state the dialog reads back, and
// hands each message box's text on once.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "app/DialogWindow.h"

namespace quarnel::cli {

class ConsoleWindow final : public DialogWindow {
 public:
  explicit ConsoleWindow(std::function<void(const std::string&)> messageBox)
      : messageBox_(std::move(messageBox)) {}

  void SetItemText(int id, const std::string& text) override { texts_[id] = text; }
  std::string GetItemText(int id, std::size_t maxChars) override {
    return texts_[id].substr(0, maxChars);
  }
  void SetTextColorAndRedraw(int, std::uint32_t) override {}
  void EnableItem(int id, bool enable) override { enabled_[id] = enable; }
  bool IsItemEnabled(int id) override {
    const auto it = enabled_.find(id);
    return it == enabled_.end() || it->second;
  }
  void SetProgressRange(int, int) override {}
  void SetProgressPos(int) override {}
  void MessageBox(const std::string& text) override { messageBox_(text); }
  // The command line runs its own loop around the dialog's tick.
  void SetTimer(unsigned, unsigned) override {}
  void KillTimer(unsigned) override {}
  void EndDialog(int) override {}

 private:
  std::function<void(const std::string&)> messageBox_;
  std::map<int, std::string> texts_;
  std::map<int, bool> enabled_;
};

}  // namespace quarnel::cli
