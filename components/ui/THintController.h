// Hints for values too long for their control: THintController, the one process-wide hint
// window that watches the control under the mouse, and the two controls that use it, THDBEdit
// and THDBGrid.
//
// A control registers itself with a hint routine when it is made and unregisters when it goes.
// The controller's states and who moves between them:
//
//   state        event                                           next   by
//   0 idle       mouse moves over a control (SpHint, no button)   1      MouseMoved
//   1 waiting    first tick: counted only                         1      Tick
//   1 waiting    second tick: the routine showed the hint         2      Tick
//   1 waiting    second tick: the routine declined                0      Tick (Reset)
//   2 showing    tick: the cursor is off the control              0      Tick (Reset)
//   any          mouse over another control, key down, mouse      0      Reset
//                down, focus lost, unregister
//   any          mouse leaving, the cursor off the control        0      MouseLeft
//
// So a hint shows two hint pauses (400 ms each, the timer's interval) after the mouse came to a
// control, and only when the control's routine finds the value truncated.  A window system that
// does not let the mouse through the hint window reports the mouse leaving the control when the
// hint appears under it: a leave counts only with the cursor really off the control, the ticks
// go on while the hint shows to see it go, and the mouse messages the hint window receives are
// passed to the watched control (a click over the hint is a click on the control).  Only the
// toolkit's own reaction to that first click (a caret placed) is lost.
//
// Ownership: the controller is made and freed by its unit (RegisterHintControllerUnit, order
// 400 in the program's start-up list); before it exists and after it is gone the controls simply
// show no hint.  It never owns the controls it lists.  The cursor position comes from a source a
// test may replace.  Threads: GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/dbforms/DBCtrls.h"
#include "classlib/dbforms/DBGrids.h"
#include "classlib/forms/HintWindow.h"
#include "classlib/rtl/TTimer.h"

namespace comp {

// A control's hint routine: shows the hint window for the point (client coordinates) and says
// whether it did.
using THintProc = std::function<bool(cl::TControl* control, cl::TPoint point)>;

// The hint routines, parallel to the controller's list of controls.
class THintProcList {
 public:
  int Count() const { return static_cast<int>(procs_.size()); }
  const THintProc& Items(int index) const;
  void Add(THintProc proc) { procs_.push_back(std::move(proc)); }
  void Delete(int index);

 private:
  std::vector<THintProc> procs_;
};

class THintController : public cl::THintWindow {
 public:
  static constexpr int kHintPause = 400;  // milliseconds, the timer's interval
  enum TState { hsIdle = 0, hsWaiting = 1, hsShowing = 2 };

  explicit THintController(cl::TComponent* owner);
  ~THintController() override;

  // Appends the control and its routine; a control registered twice is listed once.
  void Register(cl::TControl* control, THintProc proc);
  // Stops watching the control when it is the watched one and forgets it.
  void Unregister(cl::TControl* control);
  bool IsRegistered(const cl::TControl* control) const;
  int Count() const { return static_cast<int>(controls_.size()); }
  const THintProcList& Procs() const { return procs_; }

  // The mouse moved over a registered control (with its hints on and no button down).
  void MouseMoved(cl::TControl* control);
  // Key down, mouse down or focus lost on `control`: back to idle when it is the watched control.
  void ControlReset(const cl::TControl* control);
  // The mouse left `control`: back to idle when it is the watched control and the cursor is off
  // it.
  void MouseLeft(const cl::TControl* control);
  void Reset();

  // Shows the window at `rect` (screen coordinates) with the text, in the given font.
  void ShowAt(const cl::TRect& rect, const std::string& text, const cl::TFont& font);
  // The width of the text in the font.
  int MeasureText(const std::string& text, const cl::TFont& font);

  TState State() const { return state_; }
  cl::TControl* Watched() const { return watched_; }
  cl::TTimer& Timer() { return *timer_; }
  // The cursor's screen position (the class library's by default).
  void SetCursorSource(std::function<cl::TPoint()> source) { cursor_ = std::move(source); }

 protected:
  void Paint() override;
  void WndProc(cl::TMessage& message) override;

 private:
  void Tick();
  bool CursorOver(const cl::TControl* control) const;

  std::vector<cl::TControl*> controls_;
  THintProcList procs_;
  std::unique_ptr<cl::TTimer> timer_;
  cl::TControl* watched_ = nullptr;
  int ticks_ = 0;
  TState state_ = hsIdle;
  std::function<cl::TPoint()> cursor_;
};

// The process-wide controller, or null outside its unit's lifetime.
THintController* HintController();
// Registers the unit that makes and frees the controller (component library order, 400).
void RegisterHintControllerUnit();

using THintEvent = std::function<void(cl::TObject* sender, bool& show_hint, std::string& text)>;
using TGridHintEvent =
    std::function<void(cl::TObject* sender, int col, int row, bool& show, std::string& text)>;

// A data-aware edit that shows its whole text in the hint window when it is truncated: wider in
// the edit's font than the edit's width less 4 (less 0 without a border).
class THDBEdit : public cl::TDBEdit {
 public:
  explicit THDBEdit(cl::TComponent* owner);
  ~THDBEdit() override;

  bool SpHint() const { return sp_hint_; }
  void SetSpHint(bool on) { sp_hint_ = on; }
  const THintEvent& OnShowHint() const { return on_show_hint_; }
  void SetOnShowHint(THintEvent handler) { on_show_hint_ = std::move(handler); }

  // The hint routine.
  bool ShowTruncatedHint(cl::TPoint point);

 protected:
  void WndProc(cl::TMessage& message) override;

 private:
  bool sp_hint_ = true;
  THintEvent on_show_hint_;
};

// A data grid that shows a truncated cell's whole text in the hint window (data cells only: not
// the title row nor the indicator), and may keep its last column filling the client width.
class THDBGrid : public cl::TDBGrid {
 public:
  explicit THDBGrid(cl::TComponent* owner);
  ~THDBGrid() override;

  bool SpHint() const { return sp_hint_; }
  void SetSpHint(bool on) { sp_hint_ = on; }
  const TGridHintEvent& OnShowHint() const { return on_show_hint_; }
  void SetOnShowHint(TGridHintEvent handler) { on_show_hint_ = std::move(handler); }
  // The last column takes the client width the other columns leave (less one pixel of line per
  // column), when that is positive; kept so on every resize and column change.
  bool AutoSizeLastColumn() const { return auto_size_last_column_; }
  void SetAutoSizeLastColumn(bool on);
  // The cell the hint was last shown for (-1, -1 before the first).
  cl::TGridCoord HintCell() const { return hint_cell_; }

  // The hint routine.
  bool ShowTruncatedHint(cl::TPoint point);

 protected:
  void WndProc(cl::TMessage& message) override;
  void Resize() override;
  void ColumnsChanged() override;

 private:
  void SizeLastColumn();

  bool sp_hint_ = true;
  bool auto_size_last_column_ = false;
  bool sizing_ = false;
  cl::TGridCoord hint_cell_;
  TGridHintEvent on_show_hint_;
};

}  // namespace comp
