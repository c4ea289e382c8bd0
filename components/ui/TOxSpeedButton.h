// TOxSpeedButton: a window-less button with a glyph and a caption, grouped (radio-like) buttons,
// auto-repeat while held, a drop-down menu and hover events; TOxButtonGlyph, which draws a
// button's glyph per state; TGlyphList and TGlyphCache, which share the per-state images between
// all buttons of the process by glyph size.
//
// States: up -> (press) down -> (release inside, no group) up; in a group a release inside
// toggles Down (a down button stays down while AllowAllUp is false) and a release outside
// restores the state.  Going down in a group raises the group's other buttons (they take the
// sender's AllowAllUp).  With AllowTimer a press starts the repeat timer: the first Click after
// InitPause, then one every RepeatInterval while the button is down and holds the capture.
//
// Look: Style bsWin31 draws the old frame (a dark outline and a two-pixel bevel), bsNew and
// bsAutoDetect the thin one; a Transparent button leaves its background to the parent.  The
// caption, aligned by Alignment and wrapped by WordWrap into the room beside the glyph, underlines
// its accelerator, and Alt with that letter clicks an enabled button.  MarkDropDown draws an arrow
// at the right for a button with a drop-down menu; GrayedInactive draws a flat button's glyph in
// grey while the mouse is not over it.
//
// Ownership: TGlyphCache is one per process, made with the first glyph and freed with the last;
// each TGlyphList lives while one of its slots is used.  GUI thread only.
#pragma once

#include <memory>
#include <vector>

#include "classlib/forms/Buttons.h"
#include "classlib/forms/Controls.h"
#include "classlib/forms/Menus.h"
#include "classlib/rtl/TTimer.h"

namespace comp {

// bsInactive: the grey glyph of GrayedInactive.
enum TOxButtonState { bsUp, bsDisabled, bsDown, bsExclusive, bsInactive };
constexpr int kButtonStateCount = 5;
enum TButtonStyle { bsAutoDetect, bsWin31, bsNew };
enum TMenuPosition { dmBelow, dmRight };
// Sent to the parent's controls when a grouped button goes down: WParam the group index,
// LParam the button.
constexpr uint32_t kButtonPressedMessage = cl::CM_BASE + 62;

// Equally sized images in reusable slots: a deleted slot is handed out again first.
class TGlyphList : public cl::TCustomImageList {
 public:
  TGlyphList(int width, int height);
  int AddMaskedSlot(const cl::TBitmap& image, cl::TColor mask_color);
  void DeleteSlot(int index);
  int UsedCount() const { return used_count_; }

 private:
  std::vector<bool> used_;
  int used_count_ = 0;
};

class TGlyphCache {
 public:
  // The list of that size, newest first, made when there is none.
  TGlyphList* GetList(int width, int height);
  // Frees the list once it holds nothing.
  void ReturnList(TGlyphList* list);
  bool Empty() const { return lists_.empty(); }

 private:
  std::vector<std::unique_ptr<TGlyphList>> lists_;
};

// The process's cache, or null while no glyph exists.
TGlyphCache* GlyphCache();

class TOxButtonGlyph {
 public:
  TOxButtonGlyph();
  ~TOxButtonGlyph();
  TOxButtonGlyph(const TOxButtonGlyph&) = delete;
  TOxButtonGlyph& operator=(const TOxButtonGlyph&) = delete;

  cl::TBitmap& Glyph() { return glyph_; }
  int NumGlyphs() const { return num_glyphs_; }
  void SetNumGlyphs(int count);
  cl::TColor TransparentColor() const { return transparent_color_; }
  // The cached image index of a state, -1 until built.
  int ImageIndex(TOxButtonState state) const { return indexes_[state]; }
  // Builds (once) and returns the state's image index, -1 without a glyph.
  int CreateButtonGlyph(TOxButtonState state);
  // Draws glyph and caption into `client`.
  void Draw(cl::TCanvas& canvas, const cl::TRect& client, const std::string& caption,
            cl::TButtonLayout layout, int margin, int spacing, TOxButtonState state);
  cl::TAlignment Alignment() const { return alignment_; }
  void SetAlignment(cl::TAlignment alignment) { alignment_ = alignment; }
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool value) { word_wrap_ = value; }
  // Drops the cached images (a new picture, new colours).
  void Invalidate();

  cl::TNotifyEvent on_change;

 private:
  cl::TBitmap glyph_;
  int num_glyphs_ = 1;
  cl::TColor transparent_color_ = static_cast<cl::TColor>(0xFF00FF);
  int indexes_[kButtonStateCount] = {-1, -1, -1, -1, -1};
  cl::TAlignment alignment_ = cl::taCenter;
  bool word_wrap_ = false;
  TGlyphList* list_ = nullptr;
};

class TOxSpeedButton : public cl::TGraphicControl {
 public:
  explicit TOxSpeedButton(cl::TComponent* owner);
  ~TOxSpeedButton() override;

  bool AllowAllUp() const { return allow_all_up_; }
  void SetAllowAllUp(bool value);
  int GroupIndex() const { return group_index_; }
  void SetGroupIndex(int index) { group_index_ = index; }
  bool Down() const { return down_; }
  void SetDown(bool value);
  bool AllowTimer() const { return allow_timer_; }
  void SetAllowTimer(bool value) { allow_timer_ = value; }
  int InitPause() const { return init_pause_; }
  void SetInitPause(int ms) { init_pause_ = ms; }
  int RepeatInterval() const { return repeat_interval_; }
  void SetRepeatInterval(int ms) { repeat_interval_ = ms; }
  bool Flat() const { return flat_; }
  void SetFlat(bool value);
  int Margin() const { return margin_; }
  void SetMargin(int value);
  int Spacing() const { return spacing_; }
  void SetSpacing(int value);
  cl::TButtonLayout Layout() const { return layout_; }
  void SetLayout(cl::TButtonLayout layout);
  int ModalResult() const { return modal_result_; }
  void SetModalResult(int result) { modal_result_ = result; }
  cl::TPopupMenu* DropDownMenu() const { return drop_down_menu_; }
  void SetDropDownMenu(cl::TPopupMenu* menu);
  TMenuPosition MenuPosition() const { return menu_position_; }
  void SetMenuPosition(TMenuPosition position) { menu_position_ = position; }
  cl::TBitmap& Glyph() { return glyph_.Glyph(); }
  int NumGlyphs() const { return glyph_.NumGlyphs(); }
  void SetNumGlyphs(int count);
  TOxButtonGlyph& ButtonGlyph() { return glyph_; }
  cl::TAlignment Alignment() const { return glyph_.Alignment(); }
  void SetAlignment(cl::TAlignment alignment);
  bool WordWrap() const { return glyph_.WordWrap(); }
  void SetWordWrap(bool value);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  TButtonStyle Style() const { return style_; }
  void SetStyle(TButtonStyle style);
  bool MarkDropDown() const { return mark_drop_down_; }
  void SetMarkDropDown(bool value);
  bool GrayedInactive() const { return grayed_inactive_; }
  void SetGrayedInactive(bool value);

  TOxButtonState State() const { return state_; }
  bool MouseInControl() const { return mouse_in_control_; }
  // Shows the drop-down menu (when there is one and it pops up by itself, or `force`); true when
  // it was shown.
  bool CheckMenuDropdown(bool force);

  const cl::TNotifyEvent& OnMouseEnter() const { return on_mouse_enter_; }
  void SetOnMouseEnter(cl::TNotifyEvent handler) { on_mouse_enter_ = std::move(handler); }
  const cl::TNotifyEvent& OnMouseLeave() const { return on_mouse_leave_; }
  void SetOnMouseLeave(cl::TNotifyEvent handler) { on_mouse_leave_ = std::move(handler); }

  void SetEnabled(bool enabled) override;

 protected:
  void MouseDown(cl::TMouseButton button, cl::TShiftState shift, int x, int y) override;
  void MouseUp(cl::TMouseButton button, cl::TShiftState shift, int x, int y) override;
  void DblClick() override;
  void Paint() override;
  void WndProc(cl::TMessage& message) override;
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

 private:
  void UpdateExclusive();
  void TimerExpired();
  void SetMouseInControl(bool inside);

  TOxButtonState state_ = bsUp;
  bool allow_all_up_ = false;
  int group_index_ = 0;
  bool down_ = false;
  bool allow_timer_ = false;
  int init_pause_ = 500;
  int repeat_interval_ = 100;
  bool flat_ = false;
  int margin_ = -1;
  int spacing_ = 1;
  cl::TButtonLayout layout_ = cl::blGlyphLeft;
  int modal_result_ = 0;
  cl::TPopupMenu* drop_down_menu_ = nullptr;
  TMenuPosition menu_position_ = dmBelow;
  bool transparent_ = false;
  TButtonStyle style_ = bsAutoDetect;
  bool mark_drop_down_ = false;
  bool grayed_inactive_ = false;
  bool mouse_in_control_ = false;
  bool dragging_ = false;
  bool menu_tracking_ = false;
  std::unique_ptr<cl::TTimer> repeat_timer_;
  TOxButtonGlyph glyph_;
  cl::TNotifyEvent on_mouse_enter_;
  cl::TNotifyEvent on_mouse_leave_;
};

// The calendar's navigation button: repeats while held, in the old look.
class TOxTimerSpeedButton : public TOxSpeedButton {
 public:
  explicit TOxTimerSpeedButton(cl::TComponent* owner) : TOxSpeedButton(owner) {
    SetAllowTimer(true);
    SetStyle(bsWin31);
  }
};

}  // namespace comp
