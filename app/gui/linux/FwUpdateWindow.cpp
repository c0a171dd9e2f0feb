#include "app/gui/linux/FwUpdateWindow.h"

#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <array>
#include <utility>

#include "app/FwUpdateDlg.h"
#include "app/gui/linux/ColorStatic.h"
#include "app/gui/linux/ProgressBar.h"
#include "resources/DialogLayout.h"
#include "resources/resource.h"

namespace quarnel::gui {

namespace {

enum class Kind : std::uint8_t {
  Button,
  HiddenButton,
  Progress,
  StatusLabel,
  DotsLabel,
  Static,
  Edit
};

// One control of the template, placed in dialog units (resources/DialogLayout.h).
struct TemplateItem {
  Kind kind;
  int id;
  const char* text;
  int x, y, w, h;
};

// A control's rectangle in the template: x, y, width, height.
#define QUARNEL_DLG_RECT(name) DLG_##name##_X, DLG_##name##_Y, DLG_##name##_W, DLG_##name##_H

// In tab order.
constexpr std::array<TemplateItem, 10> kTemplate = {{
    {Kind::Button, IDC_EXIT, "Exit", QUARNEL_DLG_RECT(EXIT)},
    {Kind::Button, IDC_START_UPDATE, "Start Update", QUARNEL_DLG_RECT(START_UPDATE)},
    {Kind::Progress, IDC_PROGRESS, "", QUARNEL_DLG_RECT(PROGRESS)},
    {Kind::StatusLabel, IDC_STATUS, "Ready", QUARNEL_DLG_RECT(STATUS)},
    {Kind::DotsLabel, IDC_CONNECT_DOTS, "...", QUARNEL_DLG_RECT(CONNECT_DOTS)},
    {Kind::HiddenButton, IDC_CHECK_VERSION, "Check Version", QUARNEL_DLG_RECT(CHECK_VERSION)},
    {Kind::Static, wxID_STATIC, "Vendor ID", QUARNEL_DLG_RECT(VENDOR_LABEL)},
    {Kind::Static, wxID_STATIC, "Product ID", QUARNEL_DLG_RECT(PRODUCT_LABEL)},
    {Kind::Edit, IDC_VENDOR_ID, "", QUARNEL_DLG_RECT(VENDOR_ID)},
    {Kind::Edit, IDC_PRODUCT_ID, "", QUARNEL_DLG_RECT(PRODUCT_ID)},
}};

#undef QUARNEL_DLG_RECT

// GTK 3 themes give buttons and entries minimum sizes of their own (Adwaita: 34 px tall)
// that take no notice of the size a control is given. Each one here gets a little CSS so
// that it fits its rectangle of the template, as the same dialog does on Windows.
template <class Control>
class Fitted final : public Control {
 public:
  template <class... Args>
  explicit Fitted(const wxString& css, Args&&... args) : Control(std::forward<Args>(args)...) {
    this->GTKApplyCssStyle(css.utf8_str());
  }
};

constexpr const char* kButtonCss = "button { min-height: 0; min-width: 0; padding: 0 6px; }";
constexpr const char* kEntryCss = "entry { min-height: 0; padding-top: 0; padding-bottom: 0; }";

}  // namespace

FwUpdateWindow::FwUpdateWindow(wxWindow* parent)
    : wxDialog(parent, IDD_FWUPDATE_DIALOG, wxString::FromUTF8(kDialogCaption), wxDefaultPosition,
               wxDefaultSize, wxCAPTION) {
  wxFont font = GetFont();
  font.SetPointSize(DLG_FONT_POINTS);
  SetFont(font);
  CreateControls();
  SetClientSize(ConvertDialogToPixels(wxSize(DLG_WIDTH, DLG_HEIGHT)));
  Centre();

  Bind(wxEVT_INIT_DIALOG, &FwUpdateWindow::OnInit, this);
  Bind(wxEVT_CHAR_HOOK, &FwUpdateWindow::OnCharHook, this);
  Bind(wxEVT_CLOSE_WINDOW, &FwUpdateWindow::OnClose, this);
  Bind(wxEVT_TIMER, &FwUpdateWindow::OnTimerEvent, this);
  Bind(
      wxEVT_BUTTON,
      [this](wxCommandEvent&) {
        if (dlg_ != nullptr) dlg_->OnExit();
      },
      IDC_EXIT);
  Bind(
      wxEVT_BUTTON,
      [this](wxCommandEvent&) {
        if (dlg_ != nullptr) dlg_->OnStartUpdate();
      },
      IDC_START_UPDATE);
  Bind(
      wxEVT_BUTTON,
      [this](wxCommandEvent&) {
        if (dlg_ != nullptr) dlg_->OnCheckVersion();
      },
      IDC_CHECK_VERSION);
}

FwUpdateWindow::~FwUpdateWindow() {
  for (auto& [id, timer] : timers_) timer->Stop();
}

void FwUpdateWindow::CreateControls() {
  for (const TemplateItem& item : kTemplate) {
    const wxPoint pos = ConvertDialogToPixels(wxPoint(item.x, item.y));
    const wxSize size = ConvertDialogToPixels(wxSize(item.w, item.h));
    const wxString text = wxString::FromUTF8(item.text);
    switch (item.kind) {
      case Kind::Button:
      case Kind::HiddenButton: {
        auto* button = new Fitted<wxButton>(kButtonCss, this, item.id, text, pos, size);
        if (item.kind == Kind::HiddenButton) button->Hide();
        if (item.id == IDC_EXIT) button->SetDefault();
        break;
      }
      case Kind::Progress:
        progress_ = new CProgressBar(this, item.id, pos, size);
        break;
      case Kind::StatusLabel:
        new CColorStatic(this, item.id, text, pos, size, CColorStatic::Align::Centre, true);
        break;
      case Kind::DotsLabel:
        new CColorStatic(this, item.id, text, pos, size, CColorStatic::Align::Left, false);
        break;
      case Kind::Static:
        new wxStaticText(this, item.id, text, pos, size, wxST_NO_AUTORESIZE);
        break;
      case Kind::Edit: {
        auto* edit = new Fitted<wxTextCtrl>(kEntryCss, this, item.id, text, pos, size, wxTE_CENTRE);
        edit->Disable();
        break;
      }
    }
  }
}

wxWindow* FwUpdateWindow::Item(int id) const {
  return id == wxID_STATIC ? nullptr : FindWindow(id);
}

void FwUpdateWindow::OnInit(wxInitDialogEvent&) {
  if (dlg_ != nullptr) dlg_->OnInitDialog();
  // Enter closes the program until the user moves on.
  if (wxWindow* exit = Item(IDC_EXIT)) exit->SetFocus();
  // And the keyboard comes to this window once it is up, with or without a window manager.
  CallAfter([this] { Raise(); });
}

void FwUpdateWindow::OnCharHook(wxKeyEvent& event) {
  if (event.GetKeyCode() != WXK_ESCAPE) {
    event.Skip();
    return;
  }
  if (dlg_ != nullptr) dlg_->OnCancel();
}

void FwUpdateWindow::OnClose(wxCloseEvent& event) {
  if (dlg_ == nullptr) {
    EndDialog(wxID_CANCEL);
    return;
  }
  if (!event.CanVeto()) {
    dlg_->OnExit();
    return;
  }
  // A window manager's close button, where one offers it: the same as Esc.
  event.Veto();
  dlg_->OnCancel();
}

void FwUpdateWindow::OnTimerEvent(wxTimerEvent& event) {
  if (dlg_ != nullptr) dlg_->OnTimer(static_cast<unsigned>(event.GetId()));
}

void FwUpdateWindow::SetItemText(int id, const std::string& text) {
  wxWindow* item = Item(id);
  const wxString value = wxString::FromUTF8(text);
  if (auto* label = dynamic_cast<CColorStatic*>(item)) {
    label->SetText(value);
  } else if (auto* edit = dynamic_cast<wxTextCtrl*>(item)) {
    edit->ChangeValue(value);
  } else if (auto* button = dynamic_cast<wxButton*>(item)) {
    button->SetLabel(value);
  } else if (item != nullptr) {
    item->SetLabel(value);
  }
}

std::string FwUpdateWindow::GetItemText(int id, std::size_t maxChars) {
  wxWindow* item = Item(id);
  wxString value;
  if (auto* label = dynamic_cast<CColorStatic*>(item)) {
    value = label->GetText();
  } else if (auto* edit = dynamic_cast<wxTextCtrl*>(item)) {
    value = edit->GetValue();
  } else if (item != nullptr) {
    value = item->GetLabel();
  }
  return value.Left(maxChars).utf8_string();
}

void FwUpdateWindow::SetTextColorAndRedraw(int id, std::uint32_t colour) {
  if (auto* label = dynamic_cast<CColorStatic*>(Item(id))) label->SetTextColorAndRedraw(colour);
}

void FwUpdateWindow::EnableItem(int id, bool enable) {
  wxWindow* item = Item(id);
  if (item == nullptr) return;
  // GTK lets the keyboard focus go nowhere when its control is disabled, and then Esc and
  // Enter would reach nothing: the dialog keeps the focus instead, as a dialog does on
  // Windows.
  if (!enable && item == FindFocus()) {
    SetCanFocus(true);
    SetFocusIgnoringChildren();
  }
  item->Enable(enable);
}

bool FwUpdateWindow::IsItemEnabled(int id) {
  const wxWindow* item = Item(id);
  return item != nullptr && item->IsThisEnabled();
}

void FwUpdateWindow::SetProgressRange(int low, int high) {
  progress_->SetRange(low, high);
}

void FwUpdateWindow::SetProgressPos(int pos) {
  progress_->SetPos(pos);
}

void FwUpdateWindow::MessageBox(const std::string& text) {
  wxMessageDialog box(this, wxString::FromUTF8(text), wxString::FromUTF8(kProductTitle),
                      wxOK | wxICON_NONE | wxCENTRE);
  box.ShowModal();
}

void FwUpdateWindow::SetTimer(unsigned id, unsigned periodMs) {
  std::unique_ptr<wxTimer>& timer = timers_[id];
  if (timer == nullptr) timer = std::make_unique<wxTimer>(this, static_cast<int>(id));
  timer->Start(static_cast<int>(periodMs));
}

void FwUpdateWindow::KillTimer(unsigned id) {
  if (const auto it = timers_.find(id); it != timers_.end()) it->second->Stop();
}

void FwUpdateWindow::SetCaption(const std::string& caption) {
  SetTitle(wxString::FromUTF8(caption));
}

void FwUpdateWindow::EndDialog(int result) {
  for (auto& [id, timer] : timers_) timer->Stop();
  if (IsModal()) {
    EndModal(result);
  } else {
    Hide();
  }
}

}  // namespace quarnel::gui
