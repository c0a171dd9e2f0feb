#include "app/gui/windows/WinDialogWindow.h"

#include "app/FwUpdateDlg.h"
#include "base/windows/WinError.h"
#include "resources/resource.h"

namespace quarnel::win {

namespace {

// Ends a paint cycle however the painting code leaves.
class PaintScope {
 public:
  explicit PaintScope(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &paint_)) {}
  ~PaintScope() { EndPaint(hwnd_, &paint_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  HDC dc() const { return dc_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

IconHandle LoadIconSized(HINSTANCE instance, int widthMetric, int heightMetric) {
  return IconHandle(static_cast<HICON>(
      LoadImageA(instance, ResourceId(IDR_MAINFRAME), IMAGE_ICON, GetSystemMetrics(widthMetric),
                 GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR)));
}

// A modal dialog opens in the middle of the screen it is on.
void CentreOnWorkArea(HWND hwnd) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  RECT window{};
  if (!GetMonitorInfoA(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor) ||
      !GetWindowRect(hwnd, &window)) {
    return;
  }
  const RECT& area = monitor.rcWork;
  const int x = area.left + (area.right - area.left - (window.right - window.left)) / 2;
  const int y = area.top + (area.bottom - area.top - (window.bottom - window.top)) / 2;
  SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

bool WinDialogWindow::Run(CFwUpdateDlg& dialog, std::string& reason) {
  dialog_ = &dialog;
  const INT_PTR result =
      DialogBoxParamA(instance_, ResourceId(IDD_FWUPDATE_DIALOG), nullptr,
                      &WinDialogWindow::DialogProc, reinterpret_cast<LPARAM>(this));
  dialog_ = nullptr;
  hwnd_ = nullptr;
  status_.Attach(nullptr);
  dots_.Attach(nullptr);
  if (result == -1) {
    reason = LastErrorText("DialogBoxParam");
    return false;
  }
  return true;
}

INT_PTR CALLBACK WinDialogWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<WinDialogWindow*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    self->InitWindow(hwnd);
    self->dialog_->OnInitDialog();
    // The focus goes to the first tab stop: Exit, the default button.
    return TRUE;
  }
  auto* self = reinterpret_cast<WinDialogWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (self == nullptr || self->dialog_ == nullptr) return FALSE;
  return self->HandleMessage(message, wParam, lParam);
}

void WinDialogWindow::InitWindow(HWND hwnd) {
  hwnd_ = hwnd;
  status_.Attach(GetDlgItem(hwnd, IDC_STATUS));
  dots_.Attach(GetDlgItem(hwnd, IDC_CONNECT_DOTS));
  if (bigIcon_ == nullptr) bigIcon_ = LoadIconSized(instance_, SM_CXICON, SM_CYICON);
  if (smallIcon_ == nullptr) smallIcon_ = LoadIconSized(instance_, SM_CXSMICON, SM_CYSMICON);
  SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
  SendMessageA(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
  CentreOnWorkArea(hwnd);
}

INT_PTR WinDialogWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      dialog_->OnCancel();
      return TRUE;
    case WM_TIMER:
      dialog_->OnTimer(static_cast<unsigned>(wParam));
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      // The edit fields and the plain labels paint as usual.
      const CColorStatic* label = LabelOf(reinterpret_cast<HWND>(lParam));
      if (label == nullptr) return FALSE;
      return reinterpret_cast<INT_PTR>(label->OnCtlColor(reinterpret_cast<HDC>(wParam)));
    }
    case WM_SETFOCUS:
      // Keep the focus on the dialog while the control that had it is disabled.
      return parkedFocus_ != nullptr ? TRUE : FALSE;
    case WM_PAINT:
      return PaintMinimised() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(bigIcon_.get());
    default:
      return FALSE;
  }
}

void WinDialogWindow::OnCommand(int id) {
  switch (id) {
    case IDC_EXIT:
      // Enter presses the default button even while it is disabled: a locked Exit stays shut.
      if (IsItemEnabled(IDC_EXIT)) dialog_->OnExit();
      break;
    case IDC_START_UPDATE:
      dialog_->OnStartUpdate();
      break;
    case IDC_CHECK_VERSION:
      dialog_->OnCheckVersion();
      break;
    case IDCANCEL:
      dialog_->OnCancel();
      break;
    default:
      break;
  }
}

bool WinDialogWindow::PaintMinimised() {
  if (!IsIconic(hwnd_)) return false;
  const PaintScope paint(hwnd_);
  SendMessageA(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.dc()), 0);
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(paint.dc(), x, y, bigIcon_.get());
  return true;
}

CColorStatic* WinDialogWindow::Label(int id) {
  if (id == IDC_STATUS) return &status_;
  if (id == IDC_CONNECT_DOTS) return &dots_;
  return nullptr;
}

CColorStatic* WinDialogWindow::LabelOf(HWND control) {
  if (control == nullptr) return nullptr;
  if (control == status_.hwnd()) return &status_;
  if (control == dots_.hwnd()) return &dots_;
  return nullptr;
}

void WinDialogWindow::SetItemText(int id, const std::string& text) {
  SetDlgItemTextA(hwnd_, id, text.c_str());
}

std::string WinDialogWindow::GetItemText(int id, std::size_t maxChars) {
  std::string text(maxChars + 1, '\0');
  const UINT length = GetDlgItemTextA(hwnd_, id, text.data(), static_cast<int>(text.size()));
  text.resize(length);
  return text;
}

void WinDialogWindow::SetTextColorAndRedraw(int id, std::uint32_t colour) {
  if (CColorStatic* label = Label(id)) label->SetTextColorAndRedraw(colour);
}

void WinDialogWindow::EnableItem(int id, bool enable) {
  HWND control = GetDlgItem(hwnd_, id);
  if (control == nullptr) return;
  const bool hadFocus = GetFocus() == control;
  EnableWindow(control, enable ? TRUE : FALSE);
  if (!enable && hadFocus) {
    // A disabled control loses the focus and nothing would take the keys, not even Esc.
    parkedFocus_ = control;
    SetFocus(hwnd_);
  } else if (enable && control == parkedFocus_) {
    parkedFocus_ = nullptr;
    if (GetFocus() == hwnd_) {
      SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    }
  }
}

bool WinDialogWindow::IsItemEnabled(int id) {
  HWND control = GetDlgItem(hwnd_, id);
  return control != nullptr && IsWindowEnabled(control) != FALSE;
}

void WinDialogWindow::SetProgressRange(int low, int high) {
  SendDlgItemMessageA(hwnd_, IDC_PROGRESS, PBM_SETRANGE, 0,
                      MAKELPARAM(static_cast<WORD>(low), static_cast<WORD>(high)));
}

void WinDialogWindow::SetProgressPos(int pos) {
  SendDlgItemMessageA(hwnd_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void WinDialogWindow::MessageBox(const std::string& text) {
  MessageBoxA(hwnd_, text.c_str(), kProductTitle, MB_OK);
}

void WinDialogWindow::SetTimer(unsigned id, unsigned periodMs) {
  ::SetTimer(hwnd_, id, periodMs, nullptr);
}

void WinDialogWindow::KillTimer(unsigned id) {
  ::KillTimer(hwnd_, id);
}

void WinDialogWindow::EndDialog(int result) {
  ::EndDialog(hwnd_, result);
}

void WinDialogWindow::SetCaption(const std::string& caption) {
  SetWindowTextA(hwnd_, caption.c_str());
}

}  // namespace quarnel::win
