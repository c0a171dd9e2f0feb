#include "app/cli/ConsoleWindow.h"

#include <cstdio>

#include "resources/resource.h"

namespace quarnel::cli {

std::string JsonEscape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
          out += esc;
        } else {
          out += c;
        }
    }
  }
  return out;
}

ConsoleWindow::ConsoleWindow(std::ostream& out, std::ostream& err, Style style)
    : out_(out), err_(err), style_(style) {}

void ConsoleWindow::Event(const std::string& fields) {
  out_ << "{\"event\":" << fields << "}\n" << std::flush;
}

void ConsoleWindow::BeginRun(std::function<const char*()> phase) {
  phase_ = std::move(phase);
  lastDecile_ = -1;
}

void ConsoleWindow::EndRun() {
  FinishBar();
  phase_ = nullptr;
}

void ConsoleWindow::FinishBar() {
  if (barDrawn_) err_ << "\n" << std::flush;
  barDrawn_ = false;
}

void ConsoleWindow::SetItemText(int id, const std::string& text) {
  texts_[id] = text;
  if (id == IDC_CONNECT_DOTS) {
    if (style_.json) {
      Event("\"dots\",\"text\":\"" + JsonEscape(text) + "\",\"colour\":\"" +
            ColourToHex(colours_[id]) + "\"");
    }
    return;
  }
  // The status line: each new text once; the blinking of "Processing..." is not news.
  if (id != IDC_STATUS || text.empty() || text == lastStatus_) return;
  lastStatus_ = text;
  FinishBar();
  if (style_.json) {
    Event("\"status\",\"text\":\"" + JsonEscape(text) + "\",\"colour\":\"" +
          ColourToHex(colours_[id]) + "\"");
  } else {
    out_ << text << "\n" << std::flush;
  }
}

std::string ConsoleWindow::GetItemText(int id, std::size_t maxChars) {
  return texts_[id].substr(0, maxChars);
}

void ConsoleWindow::SetTextColorAndRedraw(int id, std::uint32_t colour) {
  colours_[id] = colour;
}

void ConsoleWindow::EnableItem(int id, bool enable) {
  enabled_[id] = enable;
}

bool ConsoleWindow::IsItemEnabled(int id) {
  const auto it = enabled_.find(id);
  return it == enabled_.end() || it->second;
}

void ConsoleWindow::SetProgressPos(int pos) {
  if (!phase_) return;
  const char* phase = phase_();
  if (style_.json) {
    Event("\"progress\",\"percent\":" + std::to_string(pos) + ",\"phase\":\"" + phase + "\"");
    return;
  }
  if (style_.terminal) {
    constexpr int kWidth = 40;
    const int filled = pos * kWidth / 100;
    err_ << "\r" << (std::string(phase) + "  ").substr(0, 10) << "["
         << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << pos << "%"
         << std::flush;
    barDrawn_ = true;
    return;
  }
  // Every 10 % step passed gets its line, also when a tick passed several at once.
  while (lastDecile_ < pos / 10) {
    ++lastDecile_;
    err_ << "progress " << lastDecile_ * 10 << "%\n";
  }
  err_ << std::flush;
}

void ConsoleWindow::MessageBox(const std::string& text) {
  FinishBar();
  if (style_.json) {
    Event("\"message\",\"text\":\"" + JsonEscape(text) + "\"");
  } else {
    out_ << text << "\n" << std::flush;
  }
}

void ConsoleWindow::Status(std::uint32_t colour, const std::string& text) {
  SetTextColorAndRedraw(IDC_STATUS, colour);
  SetItemText(IDC_STATUS, text);
}

void ConsoleWindow::Result(int code, const std::string& text) {
  FinishBar();
  if (style_.json) {
    Event("\"result\",\"code\":" + std::to_string(code) + ",\"text\":\"" + JsonEscape(text) + "\"");
  }
}

void ConsoleWindow::Diagnostic(const std::string& text) {
  FinishBar();
  err_ << text << "\n" << std::flush;
}

}  // namespace quarnel::cli
