#include "app/ReportingWindow.h"

#include "resources/resource.h"

namespace quarnel {

namespace {

const char* LabelName(int id) {
  if (id == IDC_STATUS) return "status";
  if (id == IDC_CONNECT_DOTS) return "dots";
  return nullptr;
}

}  // namespace

ReportingWindow::ReportingWindow(DialogWindow& inner, const std::string& path)
    : inner_(inner), file_(std::fopen(path.c_str(), "ab")) {}  // same line ends everywhere

ReportingWindow::~ReportingWindow() {
  if (file_ != nullptr) std::fclose(file_);
}

void ReportingWindow::Line(const std::string& line) {
  if (file_ == nullptr) return;
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

void ReportingWindow::LabelLine(int id) {
  Line(std::string(LabelName(id)) + " " + ColourToHex(colours_[id]) + " " + texts_[id]);
}

void ReportingWindow::SetItemText(int id, const std::string& text) {
  inner_.SetItemText(id, text);
  const auto old = texts_.find(id);
  if (old != texts_.end() && old->second == text) return;
  texts_[id] = text;
  if (LabelName(id) != nullptr) {
    LabelLine(id);
  } else {
    Line("text " + std::to_string(id) + " " + text);
  }
}

std::string ReportingWindow::GetItemText(int id, std::size_t maxChars) {
  return inner_.GetItemText(id, maxChars);
}

void ReportingWindow::SetTextColorAndRedraw(int id, std::uint32_t colour) {
  inner_.SetTextColorAndRedraw(id, colour);
  const auto old = colours_.find(id);
  if (old != colours_.end() && old->second == colour) return;
  colours_[id] = colour;
  // Only a label with text shows the new colour.
  if (LabelName(id) != nullptr && !texts_[id].empty()) LabelLine(id);
}

void ReportingWindow::EnableItem(int id, bool enable) {
  inner_.EnableItem(id, enable);
  const auto old = enabled_.find(id);
  if (old != enabled_.end() && old->second == enable) return;
  enabled_[id] = enable;
  Line("enable " + std::to_string(id) + (enable ? " 1" : " 0"));
}

bool ReportingWindow::IsItemEnabled(int id) {
  return inner_.IsItemEnabled(id);
}

void ReportingWindow::SetProgressRange(int low, int high) {
  inner_.SetProgressRange(low, high);
}

void ReportingWindow::SetProgressPos(int pos) {
  inner_.SetProgressPos(pos);
  if (pos == progress_) return;
  progress_ = pos;
  Line("progress " + std::to_string(pos));
}

void ReportingWindow::MessageBox(const std::string& text) {
  Line("message " + text);  // before the box blocks, so a watcher sees it while it is open
  inner_.MessageBox(text);
}

void ReportingWindow::SetTimer(unsigned id, unsigned periodMs) {
  inner_.SetTimer(id, periodMs);
}

void ReportingWindow::KillTimer(unsigned id) {
  inner_.KillTimer(id);
}

void ReportingWindow::EndDialog(int result) {
  inner_.EndDialog(result);
  Line("closed");
}

}  // namespace quarnel
