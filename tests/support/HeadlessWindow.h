// A window without a display: records every call; the test drives timer ticks and answers
// message boxes.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/DialogWindow.h"

namespace quarnel::testing {

class HeadlessWindow final : public DialogWindow {
 public:
  void SetItemText(int id, const std::string& text) override {
    texts[id] = text;
    if (id == 1002) statusHistory.push_back(text);
    if (id == 1003) dotsHistory.push_back({colours[id], text});
    calls.push_back("text " + std::to_string(id) + " " + text);
  }
  std::string GetItemText(int id, std::size_t maxChars) override {
    return texts[id].substr(0, maxChars);
  }
  void SetTextColorAndRedraw(int id, std::uint32_t colour) override {
    colours[id] = colour;
    calls.push_back("colour " + std::to_string(id) + " " + ColourToHex(colour));
  }
  void EnableItem(int id, bool enable) override {
    enabled[id] = enable;
    calls.push_back("enable " + std::to_string(id) + (enable ? " 1" : " 0"));
  }
  bool IsItemEnabled(int id) override {
    const auto it = enabled.find(id);
    return it == enabled.end() || it->second;
  }
  void SetProgressRange(int low, int high) override {
    rangeLow = low;
    rangeHigh = high;
  }
  void SetProgressPos(int pos) override {
    progress = pos;
    progressHistory.push_back(pos);
  }
  void MessageBox(const std::string& text) override {
    messages.push_back(text);
    calls.push_back("message " + text);
  }
  void SetTimer(unsigned id, unsigned periodMs) override {
    timers[id] = periodMs;
    calls.push_back("timer " + std::to_string(id) + " " + std::to_string(periodMs));
  }
  void KillTimer(unsigned id) override { timers.erase(id); }
  void EndDialog(int result) override {
    closedWith = result;
    calls.push_back("end " + std::to_string(result));
  }

  void SetCaption(const std::string& text) override { caption = text; }

  bool TimerRunning(unsigned id) const { return timers.count(id) != 0; }

  std::string caption;
  std::map<int, std::string> texts;
  std::map<int, std::uint32_t> colours;
  std::map<int, bool> enabled;
  std::map<unsigned, unsigned> timers;
  std::vector<std::string> messages;
  std::vector<std::string> statusHistory;
  std::vector<std::pair<std::uint32_t, std::string>> dotsHistory;
  std::vector<int> progressHistory;
  std::vector<std::string> calls;
  int progress = -1;
  int rangeLow = -1;
  int rangeHigh = -1;
  int closedWith = -1;
};

}  // namespace quarnel::testing
