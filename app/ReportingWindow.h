// A window decorator that records every visible change in a file, one line each, for
// tests that watch a real window from outside:
//   status #RRGGBB text | dots #RRGGBB text | text ID text | message text | progress N |
//   enable ID 0|1 | closed
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "app/DialogWindow.h"

namespace quarnel {

class ReportingWindow final : public DialogWindow {
 public:
  // Appends to `path`; if it cannot be opened, only forwards (Ok() tells).
  ReportingWindow(DialogWindow& inner, const std::string& path);
  ~ReportingWindow() override;
  ReportingWindow(const ReportingWindow&) = delete;
  ReportingWindow& operator=(const ReportingWindow&) = delete;

  bool Ok() const { return file_ != nullptr; }

  void SetItemText(int id, const std::string& text) override;
  std::string GetItemText(int id, std::size_t maxChars) override;
  void SetTextColorAndRedraw(int id, std::uint32_t colour) override;
  void EnableItem(int id, bool enable) override;
  bool IsItemEnabled(int id) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void MessageBox(const std::string& text) override;
  void SetTimer(unsigned id, unsigned periodMs) override;
  void KillTimer(unsigned id) override;
  void EndDialog(int result) override;
  void SetCaption(const std::string& caption) override { inner_.SetCaption(caption); }

 private:
  void Line(const std::string& line);
  void LabelLine(int id);

  DialogWindow& inner_;
  std::FILE* file_ = nullptr;
  std::map<int, std::string> texts_;
  std::map<int, std::uint32_t> colours_;
  std::map<int, bool> enabled_;
  int progress_ = -1;
};

}  // namespace quarnel
