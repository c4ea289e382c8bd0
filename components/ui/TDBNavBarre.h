// TDBNavBarre: a panel of five captioned glyph buttons that insert, edit, delete, post and
// cancel records of one data source (nmSingleDatasource) or of every data source of its owner
// (nmMultiDatasource).  It lays the buttons out to fill the panel, asks before deleting, and lets
// the program veto (BeforeAction) or follow (AfterAction) each action.
//
// Ownership: the bar owns its buttons (as components) and its links.  The data sources are the
// program's; a removed one is forgotten (free notification).  GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/db/TDataSource.h"
#include "classlib/forms/Buttons.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/rtl/TSet.h"
#include "components/ui/TDBNavManager.h"
#include "components/ui/TInfoDataLink.h"

namespace comp {

using TNavButtonsSet = cl::TSet<TNavButtons>;
enum TNavMode { nmSingleDatasource, nmMultiDatasource };

using TNavBeforeActionEvent =
    std::function<void(cl::TObject* sender, TNavButtons button, bool& allow_action)>;
using TNavAfterActionEvent = std::function<void(cl::TObject* sender, TNavButtons button)>;

// The layout values of a bar; -1 is automatic.
struct TNavLayout {
  int btn_width = -1;
  int btn_height = -1;
  int spacing = -1;
  int margin_width = -1;
  int margin_height = -1;
};

// The bounds of `n` (>= 1) visible buttons on a `width` x `height` bar, left to right:
//   button width  given; else W / n with spacing and margin automatic, (W - (n-1) spacing
//                 - 2 margin) / n with a spacing (no margin term when it is automatic),
//                 (W - 2 margin) / n with only a margin;
//   height        given; else H - 2 margin height, or H;
//   left, spacing a given margin is the left margin and an automatic spacing (W - n w - 2 m) /
//                 (n - 1), 0 for one button; with only a spacing the left margin is
//                 (W - n w - (n-1) s) / 2; both automatic: both (W - n w) / (n + 1);
//   top           the margin height, else (H - h) / 2;
// then the last button widens until the gap on its right equals the left margin.  Division
// truncates toward zero; a size that comes out negative on a tiny bar is 0.
std::vector<cl::TRect> NavBarLayout(int width, int height, int n, const TNavLayout& layout);

class TDBNavBarre : public cl::TPanel {
 public:
  explicit TDBNavBarre(cl::TComponent* owner);
  ~TDBNavBarre() override;

  cl::TBitBtn* Button(TNavButtons kind) const { return buttons_[kind]; }

  cl::TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(cl::TDataSource* source);
  TNavMode NavMode() const { return nav_mode_; }
  void SetNavMode(TNavMode mode);
  cl::TWinControl* FocusControl() const { return focus_control_; }
  void SetFocusControl(cl::TWinControl* control);

  TNavButtonsSet VisibleBtn() const { return visible_btn_; }
  // Shows exactly these buttons (an empty set is ignored).
  void SetVisibleBtn(TNavButtonsSet buttons);
  int VisibleCount() const { return visible_count_; }

  // Entry i for kind i; an empty or missing entry shows the default.
  const std::vector<std::string>& BtnLabels() const { return btn_labels_; }
  void SetBtnLabels(std::vector<std::string> labels);
  const std::vector<std::string>& BtnHints() const { return btn_hints_; }
  void SetBtnHints(std::vector<std::string> hints);
  bool DeleteConfirmation() const { return delete_confirmation_; }
  void SetDeleteConfirmation(bool value) { delete_confirmation_ = value; }
  // Empty reads as "Effacer l'enregistrement ?".
  std::string DeleteMessage() const;
  void SetDeleteMessage(const std::string& message) { delete_message_ = message; }

  const TNavLayout& Layout() const { return layout_; }
  void SetBtnWidth(int value);
  void SetBtnHeight(int value);
  void SetSpacing(int value);
  void SetMarginWidth(int value);
  void SetMarginHeight(int value);
  int BtnSpacing() const { return btn_spacing_; }
  void SetBtnSpacing(int value);
  int BtnMargin() const { return btn_margin_; }
  void SetBtnMargin(int value);

  const TNavBeforeActionEvent& BeforeAction() const { return before_action_; }
  void SetBeforeAction(TNavBeforeActionEvent handler) { before_action_ = std::move(handler); }
  const TNavAfterActionEvent& AfterAction() const { return after_action_; }
  void SetAfterAction(TNavAfterActionEvent handler) { after_action_ = std::move(handler); }

  // Runs a button's action as its click does.
  void BtnClick(TNavButtons kind);
  // Lays the buttons out and enables them now (both otherwise follow every change).
  void Arrange();
  void UpdateButtons();

 protected:
  void Resize() override;
  void DoEnter() override;
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

 private:
  void RefreshCaptions();
  void BuildMultiLinks();
  void LinkQueued();
  bool AnyLinkEditing();
  std::unique_ptr<TInfoDataLink> MakeLink(cl::TDataSource* source);

  cl::TBitBtn* buttons_[kNavButtonCount] = {};
  TInfoDataLink link_;
  std::vector<std::unique_ptr<TInfoDataLink>> multi_links_;
  std::vector<cl::TDataSource*> queued_sources_;
  cl::TWinControl* focus_control_ = nullptr;
  TNavButtonsSet visible_btn_{navInsert, navEdit, navDelete, navPost, navCancel};
  int visible_count_ = kNavButtonCount;
  TNavMode nav_mode_ = nmSingleDatasource;
  std::vector<std::string> btn_labels_;
  std::vector<std::string> btn_hints_;
  bool delete_confirmation_ = true;
  std::string delete_message_;
  TNavLayout layout_;
  int btn_spacing_ = 4;
  int btn_margin_ = -1;
  TNavBeforeActionEvent before_action_;
  TNavAfterActionEvent after_action_;
};

}  // namespace comp
