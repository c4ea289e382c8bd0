#include "components/ui/TOxTrayIcon.h"

#include <algorithm>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Streams.h"

namespace comp {

// ---- TIconList -------------------------------------------------------------------------------

void TIconList::Changed() {
  if (on_change_) on_change_(this);
}

void TIconList::Add(const cl::TIcon& icon) {
  icons_.push_back(icon);
  Changed();
}

void TIconList::Clear() {
  icons_.clear();
  Changed();
}

void TIconList::Assign(const cl::TPersistent* source) {
  if (auto* other = dynamic_cast<const TIconList*>(source)) {
    icons_ = other->icons_;
    Changed();
    return;
  }
  cl::TPersistent::Assign(source);
}

void TIconList::SaveToStream(cl::TStream& stream) const {
  uint8_t word[4];
  cl::PutU32LE(word, static_cast<uint32_t>(icons_.size()));
  stream.WriteBuffer(word, 4);
  for (const cl::TIcon& icon : icons_) {
    const std::vector<uint8_t>& bytes = icon.Empty() ? std::vector<uint8_t>() : icon.Bytes();
    cl::PutU32LE(word, static_cast<uint32_t>(bytes.size()));
    stream.WriteBuffer(word, 4);
    if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  }
}

void TIconList::LoadFromStream(cl::TStream& stream) {
  const int64_t left_at_start = stream.Size() - stream.Position();
  int64_t left = left_at_start;
  auto read_u32 = [&]() {
    if (left < 4) throw cl::EReadError("Erreur de lecture de flux");
    uint8_t word[4];
    stream.ReadBuffer(word, 4);
    left -= 4;
    return cl::GetU32LE(word);
  };
  const uint32_t count = read_u32();
  // Every entry takes at least its 4-byte size: a count beyond that is damage, caught before
  // anything is reserved for it.
  if (count > static_cast<uint64_t>(left) / 4) throw cl::EReadError("Erreur de lecture de flux");
  std::vector<cl::TIcon> icons;
  icons.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t size = read_u32();
    cl::TIcon icon;
    if (size > 0) {
      if (size > static_cast<uint64_t>(left)) throw cl::EReadError("Erreur de lecture de flux");
      std::vector<uint8_t> bytes(size);
      stream.ReadBuffer(bytes.data(), static_cast<int32_t>(size));
      left -= size;
      icon.LoadFromBytes(bytes);
    }
    icons.push_back(std::move(icon));
  }
  icons_ = std::move(icons);
  Changed();
}

// ---- TTimerThread ----------------------------------------------------------------------------

void TTimerThread::Execute() {
  while (!Terminated()) {
    if (!WaitWhilePaused()) return;
    if (SleepFor(std::max(1, interval_.load())) && !step_pending_.exchange(true)) {
      cl::PostMessage(target_, kTrayAnimationStep, 0, 0);
    }
  }
}

// ---- TOxTrayIcon -----------------------------------------------------------------------------

TOxTrayIcon::TOxTrayIcon(cl::TComponent* owner) : cl::TComponent(owner) {
  handle_ = cl::AllocateHWnd([this](cl::TMessage& message) { WndProc(message); });
  icons_.SetOnChange([this](cl::TObject*) { Changed(); });
  icon_.SetOnChange([this](cl::TObject*) { Changed(); });
}

TOxTrayIcon::~TOxTrayIcon() {
  on_click_ = nullptr;
  on_mouse_down_ = nullptr;
  on_mouse_up_ = nullptr;
  on_mouse_move_ = nullptr;
  on_dbl_click_ = nullptr;
  animated_ = false;
  thread_.reset();
  if (visible_) HideIcon();
  icons_.SetOnChange(nullptr);
  icon_.SetOnChange(nullptr);
  cl::DeallocateHWnd(handle_);
}

const cl::TIcon& TOxTrayIcon::CurrentIcon() const {
  if (animated_ && icons_.Count() > 0) {
    return icons_.Items(frame_ < icons_.Count() ? frame_ : 0);
  }
  return icon_;
}

std::string TOxTrayIcon::ShortHint() const {
  std::string tip = hint_.substr(0, hint_.find('|'));
  if (tip.size() > kTrayTipLength) tip.resize(kTrayTipLength);
  return tip;
}

void TOxTrayIcon::UpdateNotifyData(cl::TNotifyIconData& data) const {
  data.Wnd = handle_;
  data.ID = 0;
  data.Flags = cl::NIF_MESSAGE | cl::NIF_ICON | cl::NIF_TIP;
  data.CallbackMessage = kTrayCallbackMessage;
  data.Icon = CurrentIcon();
  data.Tip = ShortHint();
}

void TOxTrayIcon::ShowIcon() {
  cl::TNotifyIconData data;
  data.Wnd = handle_;
  cl::Shell_NotifyIcon(cl::NIM_DELETE, data);
  left_pressed_ = right_pressed_ = false;
  visible_ = false;
  if (!CurrentIcon().Empty()) {
    UpdateNotifyData(data);
    visible_ = cl::Shell_NotifyIcon(cl::NIM_ADD, data);
    if (visible_ && ShortHint().empty()) cl::Shell_NotifyIcon(cl::NIM_MODIFY, data);
  }
  if (animated_ && thread_ && visible_) thread_->Resume();
}

void TOxTrayIcon::HideIcon() {
  cl::TNotifyIconData data;
  data.Wnd = handle_;
  cl::Shell_NotifyIcon(cl::NIM_DELETE, data);
  visible_ = false;
  if (animated_ && thread_) thread_->Pause();
}

void TOxTrayIcon::UpdateIcon() {
  if (CurrentIcon().Empty() && animated_) SetAnimated(false);
  if (visible_) {
    cl::TNotifyIconData data;
    UpdateNotifyData(data);
    cl::Shell_NotifyIcon(cl::NIM_MODIFY, data);
  }
}

// A change of Icon, Icons or Hint: shown at once, and an active icon not yet in the area (no
// picture until now) goes there.
void TOxTrayIcon::Changed() {
  if (frame_ >= icons_.Count()) frame_ = 0;
  if (animated_ && icons_.Count() == 0) {
    SetAnimated(false);
    return;
  }
  if (active_ && !visible_ && !ComponentState().Contains(cl::csLoading)) {
    ShowIcon();
  } else {
    UpdateIcon();
  }
}

void TOxTrayIcon::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (ComponentState().Contains(cl::csLoading)) return;
  if (active_) {
    ShowIcon();
  } else {
    HideIcon();
  }
}

void TOxTrayIcon::SetHint(const std::string& hint) {
  hint_ = hint;
  Changed();
}

void TOxTrayIcon::SetIcon(const cl::TIcon& icon) {
  icon_.Assign(&icon);
  Changed();
}

void TOxTrayIcon::SetAnimated(bool animated) {
  if (animated && !animated_ && icons_.Count() > 0) {
    step_pending_ = false;  // a step left queued by an earlier thread must not stall this one
    thread_ = std::make_unique<TTimerThread>(handle_, interval_, step_pending_);
    if (visible_) thread_->Resume();  // else created suspended until the icon shows
    animated_ = true;
  } else if (!animated && animated_) {
    animated_ = false;
    thread_.reset();  // stops, wakes and joins
  } else if (animated && icons_.Count() == 0) {
    return;
  }
  frame_ = 0;
  UpdateIcon();
}

void TOxTrayIcon::Step() {
  step_pending_ = false;
  if (!animated_ || icons_.Count() == 0) return;
  ++frame_;
  if (frame_ >= icons_.Count()) frame_ = 0;
  UpdateIcon();
}

void TOxTrayIcon::SetPopupMenu(cl::TPopupMenu* menu) {
  popup_menu_ = menu;
  if (menu != nullptr) menu->FreeNotification(this);
}

void TOxTrayIcon::Notification(cl::TComponent* component, cl::TOperation operation) {
  cl::TComponent::Notification(component, operation);
  if (operation == cl::opRemove && component == popup_menu_) popup_menu_ = nullptr;
}

void TOxTrayIcon::Loaded() {
  cl::TComponent::Loaded();
  if (active_) ShowIcon();
}

void TOxTrayIcon::DefineProperties(cl::TFiler& filer) {
  filer.DefineBinaryProperty(
      "Icons", [this](cl::TStream& stream) { icons_.LoadFromStream(stream); },
      [this](cl::TStream& stream) { icons_.SaveToStream(stream); }, icons_.Count() > 0);
}

void TOxTrayIcon::WndProc(cl::TMessage& message) {
  try {
    if (message.Msg == kTrayCallbackMessage) {
      HandleMouse(static_cast<uint32_t>(message.LParam));
    } else if (message.Msg == kTrayAnimationStep) {
      Step();
    }
  } catch (...) {
    cl::Application().HandleException(this);
  }
}

void TOxTrayIcon::HandleMouse(uint32_t mouse_message) {
  const cl::TPoint pos = cl::GetCursorPos();
  const cl::TShiftState shift = cl::GetShiftState();
  auto down = [&](cl::TMouseButton button) {
    if (on_mouse_down_) on_mouse_down_(this, button, shift, pos.X, pos.Y);
  };
  auto up = [&](cl::TMouseButton button) {
    if (on_mouse_up_) on_mouse_up_(this, button, shift, pos.X, pos.Y);
  };
  switch (mouse_message) {
    case cl::WM_MOUSEMOVE:
      if (on_mouse_move_) on_mouse_move_(this, shift, pos.X, pos.Y);
      break;
    case cl::WM_LBUTTONDOWN:
      left_pressed_ = true;
      down(cl::mbLeft);
      break;
    case cl::WM_RBUTTONDOWN:
      right_pressed_ = true;
      down(cl::mbRight);
      break;
    case cl::WM_MBUTTONDOWN:
      down(cl::mbMiddle);
      break;
    case cl::WM_LBUTTONUP:
      if (left_pressed_) {
        left_pressed_ = false;
        DoClick(cl::mbLeft, shift, pos);
      }
      up(cl::mbLeft);
      break;
    case cl::WM_RBUTTONUP:
      if (right_pressed_) {
        right_pressed_ = false;
        DoClick(cl::mbRight, shift, pos);
      }
      up(cl::mbRight);
      break;
    case cl::WM_MBUTTONUP:
      up(cl::mbMiddle);
      break;
    case cl::WM_LBUTTONDBLCLK:
      DoDblClick();
      down(cl::mbLeft);
      break;
    case cl::WM_RBUTTONDBLCLK:
      down(cl::mbRight);
      break;
    case cl::WM_MBUTTONDBLCLK:
      down(cl::mbMiddle);
      break;
    default:
      break;
  }
}

void TOxTrayIcon::DoClick(cl::TMouseButton button, cl::TShiftState shift, cl::TPoint pos) {
  if (button == cl::mbRight && popup_menu_ != nullptr && popup_menu_->AutoPopup()) {
    popup_menu_->SetPopupComponent(this);
    cl::Application().BringToFront();
    cl::Application().ProcessMessages();
    popup_menu_->Popup(pos.X, pos.Y);
    return;
  }
  if (on_click_) on_click_(this, button, shift, pos.X, pos.Y);
}

void TOxTrayIcon::DoDblClick() {
  if (popup_menu_ != nullptr) {
    cl::TMenuItem* items = popup_menu_->Items();
    for (int i = 0; i < items->Count(); ++i) {
      cl::TMenuItem* item = items->Items(i);
      if (item->Default() && item->Enabled()) {
        item->Click();
        return;
      }
    }
  }
  if (on_dbl_click_) on_dbl_click_(this);
}

}  // namespace comp
