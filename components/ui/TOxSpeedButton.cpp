#include "components/ui/TOxSpeedButton.h"

#include <algorithm>

#include "classlib/forms/Forms.h"
#include "classlib/rtl/Collation.h"
#include "components/ui/WindowRoutines.h"

namespace comp {
namespace {

// Whether `key` is the caption's accelerator: the letter after a single "&".
bool IsAccel(char key, const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return cl::AnsiUpperCase(std::string(1, caption[i + 1])) ==
           cl::AnsiUpperCase(std::string(1, key));
  }
  return false;
}

// The caption's words, its lines' trailing blanks removed (line breaks kept).
std::string WrappedCaption(const std::string& caption) {
  std::string text;
  for (const char c : caption) {
    if (c == '\n' || c == '\r') {
      while (!text.empty() && text.back() == ' ') text.pop_back();
    }
    text += c;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

TGlyphCache* g_glyph_cache = nullptr;

}  // namespace

// ---- TGlyphList / TGlyphCache ----------------------------------------------------------------

TGlyphList::TGlyphList(int width, int height) : cl::TCustomImageList(nullptr) {
  SetSize(width, height);
}

int TGlyphList::AddMaskedSlot(const cl::TBitmap& image, cl::TColor mask_color) {
  const auto free_slot = std::find(used_.begin(), used_.end(), false);
  int index;
  if (free_slot == used_.end()) {
    index = AddMasked(image, mask_color);
    used_.resize(static_cast<size_t>(Count()), false);
  } else {
    index = static_cast<int>(free_slot - used_.begin());
    ReplaceMasked(index, image, mask_color);
  }
  used_[static_cast<size_t>(index)] = true;
  ++used_count_;
  return index;
}

void TGlyphList::DeleteSlot(int index) {
  if (index < 0 || index >= static_cast<int>(used_.size()) || !used_[static_cast<size_t>(index)]) {
    return;
  }
  used_[static_cast<size_t>(index)] = false;
  --used_count_;
}

TGlyphList* TGlyphCache::GetList(int width, int height) {
  for (auto it = lists_.rbegin(); it != lists_.rend(); ++it) {
    if ((*it)->Width() == width && (*it)->Height() == height) return it->get();
  }
  lists_.push_back(std::make_unique<TGlyphList>(width, height));
  return lists_.back().get();
}

void TGlyphCache::ReturnList(TGlyphList* list) {
  if (list == nullptr || list->UsedCount() > 0) return;
  std::erase_if(lists_, [list](const auto& each) { return each.get() == list; });
}

TGlyphCache* GlyphCache() { return g_glyph_cache; }

// ---- TOxButtonGlyph --------------------------------------------------------------------------

TOxButtonGlyph::TOxButtonGlyph() {
  if (g_glyph_cache == nullptr) g_glyph_cache = new TGlyphCache();
  glyph_.SetOnChange([this](cl::TObject*) {
    Invalidate();
    if (glyph_.Height() > 0 && glyph_.Width() % glyph_.Height() == 0) {
      const int count = glyph_.Width() / glyph_.Height();
      num_glyphs_ = count >= 1 && count <= 4 ? count : 1;
    }
    if (on_change) on_change(nullptr);
  });
}

TOxButtonGlyph::~TOxButtonGlyph() {
  glyph_.SetOnChange(nullptr);
  Invalidate();
  // The last list gone: the cache goes too (a later glyph makes a new one).
  if (g_glyph_cache != nullptr && g_glyph_cache->Empty()) {
    delete g_glyph_cache;
    g_glyph_cache = nullptr;
  }
}

void TOxButtonGlyph::SetNumGlyphs(int count) {
  if (count < 1 || count > 4 || count == num_glyphs_) return;
  num_glyphs_ = count;
  Invalidate();
  if (on_change) on_change(nullptr);
}

void TOxButtonGlyph::Invalidate() {
  for (int& index : indexes_) {
    if (index != -1 && list_ != nullptr) list_->DeleteSlot(index);
    index = -1;
  }
  if (list_ != nullptr && g_glyph_cache != nullptr) g_glyph_cache->ReturnList(list_);
  list_ = nullptr;
}

int TOxButtonGlyph::CreateButtonGlyph(TOxButtonState state) {
  if (state == bsExclusive) state = bsDown;
  if (indexes_[state] != -1) return indexes_[state];
  if (glyph_.Empty() || glyph_.Width() < num_glyphs_) return -1;
  const int w = glyph_.Width() / num_glyphs_;
  const int h = glyph_.Height();
  if (g_glyph_cache == nullptr) g_glyph_cache = new TGlyphCache();
  if (list_ == nullptr) list_ = g_glyph_cache->GetList(w, h);
  // The picture's images: up, disabled, down, exclusive; a missing one is the up image (or, for
  // the disabled state, the up image embossed).
  const int image = static_cast<int>(state) < std::min(num_glyphs_, static_cast<int>(bsInactive))
                        ? static_cast<int>(state)
                        : 0;
  cl::TBitmap piece;
  piece.SetSize(w, h);
  piece.Canvas().BitBlt(0, 0, w, h, glyph_, image * w, 0, cl::SRCCOPY);
  if (state == bsDisabled && num_glyphs_ < 2) {
    cl::TBitmap disabled;
    CreateDisabledBitmap(piece, transparent_color_, disabled);
    indexes_[state] = list_->AddMaskedSlot(disabled, cl::clBtnFace);
  } else if (state == bsInactive) {
    // The up image in grey, by luminance; the transparent colour stays as it is.
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const auto c = static_cast<uint32_t>(piece.Canvas().Pixels(x, y));
        if (c == static_cast<uint32_t>(transparent_color_)) continue;
        const uint32_t grey =
            ((c & 0xFF) * 77 + ((c >> 8) & 0xFF) * 151 + ((c >> 16) & 0xFF) * 28) >> 8;
        piece.Canvas().SetPixel(x, y, static_cast<cl::TColor>(grey | grey << 8 | grey << 16));
      }
    }
    indexes_[state] = list_->AddMaskedSlot(piece, transparent_color_);
  } else {
    indexes_[state] = list_->AddMaskedSlot(piece, transparent_color_);
  }
  return indexes_[state];
}

void TOxButtonGlyph::Draw(cl::TCanvas& canvas, const cl::TRect& client, const std::string& caption,
                          cl::TButtonLayout layout, int margin, int spacing, TOxButtonState state) {
  const int index = CreateButtonGlyph(state);
  const cl::TPoint glyph_size =
      index == -1 ? cl::TPoint{0, 0} : cl::TPoint{list_->Width(), list_->Height()};
  // The caption's room: beside a glyph on the left or right, else the whole width.
  const bool beside = layout == cl::blGlyphLeft || layout == cl::blGlyphRight;
  const int room =
      std::max(1, client.Width() - 4 -
                      (beside && glyph_size.X > 0 ? glyph_size.X + std::max(spacing, 0) : 0));
  const std::string text = word_wrap_ ? WrappedCaption(caption) : caption;
  const unsigned align = alignment_ == cl::taLeftJustify    ? cl::DT_LEFT
                         : alignment_ == cl::taRightJustify ? cl::DT_RIGHT
                                                            : cl::DT_CENTER;
  const unsigned flags = align | (word_wrap_ ? cl::DT_WORDBREAK : cl::DT_SINGLELINE);
  cl::TRect text_rect = cl::Rect(0, 0, text.empty() ? 0 : room, 0);
  if (!text.empty()) canvas.DrawText(text, text_rect, flags | cl::DT_CALCRECT);
  const cl::TPoint text_size = {text_rect.Width(), text_rect.Height()};
  cl::TButtonPlacement place =
      cl::CalcButtonLayout(client, glyph_size, text_size, layout, margin, spacing);
  if (margin < 0 && alignment_ != cl::taCenter) {
    // Without a margin the block is centred: Alignment moves it to that side.
    constexpr int kEdge = 2;
    const int left = std::min(glyph_size.X > 0 ? place.glyph.X : place.text.X,
                              text_size.X > 0 ? place.text.X : place.glyph.X);
    const int right = std::max(place.glyph.X + glyph_size.X, place.text.X + text_size.X);
    const int dx =
        alignment_ == cl::taLeftJustify ? client.Left + kEdge - left : client.Right - kEdge - right;
    place.glyph.X += dx;
    place.text.X += dx;
  }
  if (state == bsDown || state == bsExclusive) {
    place.glyph.X += 1;
    place.glyph.Y += 1;
    place.text.X += 1;
    place.text.Y += 1;
  }
  if (index != -1) list_->Draw(canvas, place.glyph.X, place.glyph.Y, index);
  if (text.empty()) return;
  canvas.Brush().SetStyle(cl::bsClear);
  auto draw_at = [&](int x, int y) {
    cl::TRect at = cl::Rect(x, y, x + text_size.X, y + text_size.Y);
    canvas.DrawText(text, at, flags);
  };
  if (state == bsDisabled) {
    canvas.Font().SetColor(static_cast<cl::TColor>(0xFFFFFF));
    draw_at(place.text.X + 1, place.text.Y + 1);
    canvas.Font().SetColor(static_cast<cl::TColor>(0x808080));
  }
  draw_at(place.text.X, place.text.Y);
}

// ---- TOxSpeedButton --------------------------------------------------------------------------

TOxSpeedButton::TOxSpeedButton(cl::TComponent* owner) : cl::TGraphicControl(owner) {
  SetBounds(Left(), Top(), 25, 25);
  SetClicksOnMouseUp(true);
  SetShowHint(true);
  SetParentShowHint(false);
  glyph_.on_change = [this](cl::TObject*) { Invalidate(); };
}

TOxSpeedButton::~TOxSpeedButton() { repeat_timer_.reset(); }

void TOxSpeedButton::SetEnabled(bool enabled) {
  cl::TGraphicControl::SetEnabled(enabled);
  state_ = enabled ? (down_ ? bsExclusive : bsUp) : bsDisabled;
  Invalidate();
}

void TOxSpeedButton::SetFlat(bool value) {
  flat_ = value;
  Invalidate();
}
void TOxSpeedButton::SetMargin(int value) {
  margin_ = value;
  Invalidate();
}
void TOxSpeedButton::SetSpacing(int value) {
  spacing_ = value;
  Invalidate();
}
void TOxSpeedButton::SetLayout(cl::TButtonLayout layout) {
  layout_ = layout;
  Invalidate();
}
void TOxSpeedButton::SetNumGlyphs(int count) { glyph_.SetNumGlyphs(count); }
void TOxSpeedButton::SetAlignment(cl::TAlignment alignment) {
  glyph_.SetAlignment(alignment);
  Invalidate();
}
void TOxSpeedButton::SetWordWrap(bool value) {
  glyph_.SetWordWrap(value);
  Invalidate();
}
void TOxSpeedButton::SetTransparent(bool value) {
  transparent_ = value;
  Invalidate();
}
void TOxSpeedButton::SetStyle(TButtonStyle style) {
  style_ = style;
  Invalidate();
}
void TOxSpeedButton::SetMarkDropDown(bool value) {
  mark_drop_down_ = value;
  Invalidate();
}
void TOxSpeedButton::SetGrayedInactive(bool value) {
  grayed_inactive_ = value;
  Invalidate();
}

void TOxSpeedButton::SetDropDownMenu(cl::TPopupMenu* menu) {
  drop_down_menu_ = menu;
  if (menu != nullptr) menu->FreeNotification(this);
}

void TOxSpeedButton::Notification(cl::TComponent* component, cl::TOperation operation) {
  cl::TGraphicControl::Notification(component, operation);
  if (operation == cl::opRemove && component == drop_down_menu_) drop_down_menu_ = nullptr;
}

void TOxSpeedButton::SetAllowAllUp(bool value) {
  if (value == allow_all_up_) return;
  allow_all_up_ = value;
  UpdateExclusive();
}

void TOxSpeedButton::SetDown(bool value) {
  if (group_index_ == 0) value = false;
  if (value == down_) return;
  if (down_ && !allow_all_up_) return;
  down_ = value;
  if (value) {
    if (state_ == bsUp) Invalidate();
    state_ = bsExclusive;
  } else {
    state_ = bsUp;
    Repaint();
  }
  if (value) UpdateExclusive();
}

void TOxSpeedButton::UpdateExclusive() {
  if (group_index_ == 0 || Parent() == nullptr) return;
  cl::TMessage message{kButtonPressedMessage, static_cast<cl::WPARAM>(group_index_),
                       reinterpret_cast<cl::LPARAM>(this), 0};
  Parent()->Broadcast(message);
}

void TOxSpeedButton::WndProc(cl::TMessage& message) {
  switch (message.Msg) {
    case kButtonPressedMessage: {
      auto* sender = reinterpret_cast<TOxSpeedButton*>(message.LParam);
      if (static_cast<int>(message.WParam) == group_index_ && sender != this && sender != nullptr) {
        if (sender->Down() && down_) {
          down_ = false;
          state_ = bsUp;
          Invalidate();
        }
        allow_all_up_ = sender->AllowAllUp();
      }
      return;
    }
    case cl::CM_MOUSEENTER:
      SetMouseInControl(true);
      break;
    case cl::CM_MOUSELEAVE:
      SetMouseInControl(false);
      break;
    case cl::CM_SYSCOLORCHANGE:
      glyph_.Invalidate();
      Invalidate();
      break;
    case cl::CM_DIALOGCHAR:
      if (Enabled() && Visible() && IsAccel(static_cast<char>(message.WParam), Caption())) {
        Click();
        message.Result = 1;
        return;
      }
      break;
    default:
      break;
  }
  cl::TGraphicControl::WndProc(message);
}

void TOxSpeedButton::SetMouseInControl(bool inside) {
  if (inside == mouse_in_control_) return;
  mouse_in_control_ = inside;
  if (flat_) Invalidate();
  const cl::TNotifyEvent& handler = inside ? on_mouse_enter_ : on_mouse_leave_;
  if (handler) handler(this);
}

bool TOxSpeedButton::CheckMenuDropdown(bool force) {
  if (drop_down_menu_ == nullptr || !(drop_down_menu_->AutoPopup() || force)) return false;
  drop_down_menu_->SetPopupComponent(this);
  const cl::TPoint at =
      menu_position_ == dmBelow ? ClientToScreen({0, Height()}) : ClientToScreen({Width(), 0});
  menu_tracking_ = true;
  drop_down_menu_->Popup(at.X, at.Y);
  menu_tracking_ = false;
  return true;
}

void TOxSpeedButton::MouseDown(cl::TMouseButton button, cl::TShiftState shift, int x, int y) {
  cl::TGraphicControl::MouseDown(button, shift, x, y);
  if (button != cl::mbLeft || !Enabled() || shift.Contains(cl::ssDouble)) return;
  if (!down_) {
    state_ = bsDown;
    Repaint();
  }
  dragging_ = true;
  SetMouseCapture(true);
  if (CheckMenuDropdown(false)) {
    // The menu ran its own loop: the press is over (the click that closed the menu is dropped by
    // the class library).
    dragging_ = false;
    SetMouseCapture(false);
    state_ = down_ ? bsExclusive : bsUp;
    Invalidate();
    return;
  }
  if (allow_timer_) {
    if (!repeat_timer_) {
      repeat_timer_ = std::make_unique<cl::TTimer>(nullptr);
      repeat_timer_->SetOnTimer([this](cl::TObject*) { TimerExpired(); });
    }
    repeat_timer_->SetEnabled(false);
    repeat_timer_->SetInterval(init_pause_);
    repeat_timer_->SetEnabled(true);
  }
}

void TOxSpeedButton::TimerExpired() {
  repeat_timer_->SetInterval(repeat_interval_);
  if (state_ == bsDown && MouseCapture()) Click();
}

void TOxSpeedButton::MouseUp(cl::TMouseButton button, cl::TShiftState shift, int x, int y) {
  cl::TGraphicControl::MouseUp(button, shift, x, y);
  if (repeat_timer_) repeat_timer_->SetEnabled(false);
  if (!dragging_) return;
  dragging_ = false;
  SetMouseCapture(false);
  const bool inside = x >= 0 && x < Width() && y >= 0 && y < Height();
  if (group_index_ == 0) {
    state_ = bsUp;
    Invalidate();
  } else if (inside) {
    SetDown(!down_);
    if (down_) Repaint();
  } else {
    state_ = down_ ? bsExclusive : bsUp;
    Invalidate();
  }
  if (inside && !menu_tracking_) {
    Click();
    if (modal_result_ != 0) {
      if (cl::TForm* form = cl::GetParentForm(this)) form->SetModalResult(modal_result_);
    }
  }
}

void TOxSpeedButton::DblClick() {
  if (down_ && !menu_tracking_) cl::TGraphicControl::DblClick();
}

void TOxSpeedButton::Paint() {
  cl::TCanvas& canvas = Canvas();
  const cl::TRect r = cl::Rect(0, 0, Width(), Height());
  const bool pressed = state_ == bsDown || state_ == bsExclusive;
  if (!transparent_) {
    canvas.Brush().SetStyle(cl::bsSolid);
    canvas.Brush().SetColor(cl::clBtnFace);
    canvas.FillRect(r);
  }
  auto bevel = [&](cl::TRect box, cl::TColor top_left, cl::TColor bottom_right) {
    canvas.Pen().SetColor(top_left);
    canvas.MoveTo(box.Left, box.Bottom - 1);
    canvas.LineTo(box.Left, box.Top);
    canvas.LineTo(box.Right - 1, box.Top);
    canvas.Pen().SetColor(bottom_right);
    canvas.LineTo(box.Right - 1, box.Bottom - 1);
    canvas.LineTo(box.Left, box.Bottom - 1);
  };
  cl::TRect client = cl::Rect(1, 1, r.Right - 1, r.Bottom - 1);
  if (style_ == bsWin31) {
    // The old look: a dark outline, then two pixels of bevel (one of shadow when pressed).
    bevel(r, cl::clWindowFrame, cl::clWindowFrame);
    const cl::TRect inner = cl::Rect(1, 1, r.Right - 1, r.Bottom - 1);
    if (pressed) {
      bevel(inner, cl::clBtnShadow, cl::clBtnFace);
    } else {
      bevel(inner, cl::clBtnHighlight, cl::clBtnShadow);
      bevel(cl::Rect(2, 2, r.Right - 2, r.Bottom - 2), cl::clBtnHighlight, cl::clBtnShadow);
    }
    client = cl::Rect(3, 3, r.Right - 3, r.Bottom - 3);
  } else if (!flat_ || mouse_in_control_ || pressed) {
    bevel(r, pressed ? cl::clBtnShadow : cl::clBtnHighlight,
          pressed ? cl::clBtnHighlight : cl::clBtnShadow);
  }
  if (mark_drop_down_ && drop_down_menu_ != nullptr) {
    // A small arrow, pointing down, in its own strip at the right.
    constexpr int kStrip = 9;
    const int x = client.Right - kStrip + 1 + (pressed ? 1 : 0);
    const int y = (r.Height() - 3) / 2 + (pressed ? 1 : 0);
    canvas.Pen().SetColor(Enabled() ? cl::clBtnText : cl::clBtnShadow);
    for (int row = 0; row < 3; ++row) {
      canvas.MoveTo(x + row, y + row);
      canvas.LineTo(x + 5 - row, y + row);
    }
    client.Right -= kStrip;
  }
  TOxButtonState state = Enabled() ? state_ : bsDisabled;
  if (state == bsUp && grayed_inactive_ && flat_ && !mouse_in_control_) state = bsInactive;
  canvas.Font().Assign(&Font());
  glyph_.Draw(canvas, client, Caption(), layout_, margin_, spacing_, state);
}

}  // namespace comp
