#include "components/ui/TDBNavBarre.h"

#include <algorithm>
#include <cctype>

#include "classlib/db/TDataSet.h"
#include "classlib/forms/Dialogs.h"
#include "components/ui/WindowRoutines.h"

namespace comp {
namespace {

const char* const kButtonNames[kNavButtonCount] = {"AjouterBtn", "ModifierBtn", "EffacerBtn",
                                                   "SauverBtn", "AnnulerBtn"};
constexpr int kParkedTop = -100;

std::string GlyphResource(TNavButtons kind) {
  if (kind == navPost) return "BBOK";
  if (kind == navCancel) return "BBCANCEL";
  std::string name = kButtonNames[kind];
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return "QKDBNAVBARRE" + name;
}

}  // namespace

std::vector<cl::TRect> NavBarLayout(int width, int height, int n, const TNavLayout& layout) {
  std::vector<cl::TRect> result;
  if (n < 1) return result;
  const bool auto_spacing = layout.spacing == -1;
  const bool auto_margin = layout.margin_width == -1;
  int w = layout.btn_width;
  if (w == -1) {
    if (auto_spacing && auto_margin) {
      w = width / n;
    } else if (!auto_spacing) {
      w = (width - (n - 1) * layout.spacing - (auto_margin ? 0 : 2 * layout.margin_width)) / n;
    } else {
      w = (width - 2 * layout.margin_width) / n;
    }
  }
  int h = layout.btn_height;
  if (h == -1) h = layout.margin_height == -1 ? height : height - 2 * layout.margin_height;
  w = std::max(w, 0);
  h = std::max(h, 0);

  int left = 0;
  int spacing = 0;
  if (!auto_spacing || !auto_margin) {
    if (!auto_margin) {
      left = layout.margin_width;
      // One button has no gap to share: the division by n - 1 would be by zero.
      spacing = !auto_spacing ? layout.spacing
                              : (n > 1 ? (width - n * w - 2 * layout.margin_width) / (n - 1) : 0);
    } else {
      spacing = layout.spacing;
      left = (width - n * w - (n - 1) * spacing) / 2;
    }
  } else {
    left = spacing = (width - n * w) / (n + 1);
  }
  const int top = layout.margin_height != -1 ? layout.margin_height : (height - h) / 2;

  int x = left;
  for (int i = 0; i < n; ++i) {
    result.push_back(cl::Bounds(x, top, w, h));
    x += w + spacing;
  }
  cl::TRect& last = result.back();
  if (width - last.Right > left) last.Right = std::max(last.Left, width - left);
  return result;
}

TDBNavBarre::TDBNavBarre(cl::TComponent* owner) : cl::TPanel(owner) {
  RegisterComponentResources();
  for (int i = 0; i < kNavButtonCount; ++i) {
    auto* button = new cl::TBitBtn(this);
    button->SetName(kButtonNames[i]);
    button->SetParent(this);
    button->Glyph().LoadFromResourceName(GlyphResource(static_cast<TNavButtons>(i)));
    button->SetNumGlyphs(2);
    button->SetEnabled(false);
    button->SetBounds(0, kParkedTop, button->Width(), button->Height());
    const auto kind = static_cast<TNavButtons>(i);
    button->SetOnClick([this, kind](cl::TObject*) { BtnClick(kind); });
    buttons_[i] = button;
  }
  link_.on_active_changed = [this] { UpdateButtons(); };
  link_.on_data_set_changed = [this] { UpdateButtons(); };
  link_.on_data_set_scrolled = [this](int) { UpdateButtons(); };
  link_.on_editing_changed = [this] { UpdateButtons(); };
  SetCaption("");
  SetWidth(381);
  RefreshCaptions();
  Arrange();
}

TDBNavBarre::~TDBNavBarre() {
  multi_links_.clear();
  link_.SetDataSource(nullptr);
}

void TDBNavBarre::SetDataSource(cl::TDataSource* source) {
  link_.SetDataSource(source);
  if (source != nullptr) source->FreeNotification(this);
  UpdateButtons();
}

void TDBNavBarre::SetFocusControl(cl::TWinControl* control) {
  focus_control_ = control;
  if (control != nullptr) control->FreeNotification(this);
}

std::unique_ptr<TInfoDataLink> TDBNavBarre::MakeLink(cl::TDataSource* source) {
  auto link = std::make_unique<TInfoDataLink>();
  link->on_active_changed = [this] { UpdateButtons(); };
  link->on_data_set_changed = [this] { UpdateButtons(); };
  link->on_editing_changed = [this] { UpdateButtons(); };
  link->SetDataSource(source);
  return link;
}

void TDBNavBarre::BuildMultiLinks() {
  multi_links_.clear();
  queued_sources_.clear();
  cl::TComponent* owner = Owner();
  if (owner == nullptr) return;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    if (auto* source = dynamic_cast<cl::TDataSource*>(owner->Components(i))) {
      multi_links_.push_back(MakeLink(source));
      source->FreeNotification(this);
    }
  }
}

void TDBNavBarre::LinkQueued() {
  // Taken out first: a new link's notifications come back here.
  std::vector<cl::TDataSource*> queued;
  queued.swap(queued_sources_);
  for (cl::TDataSource* source : queued) {
    multi_links_.push_back(MakeLink(source));
    source->FreeNotification(this);
  }
}

void TDBNavBarre::SetNavMode(TNavMode mode) {
  if (mode == nav_mode_) return;
  nav_mode_ = mode;
  if (mode == nmMultiDatasource) {
    BuildMultiLinks();
  } else {
    multi_links_.clear();
    queued_sources_.clear();
  }
  UpdateButtons();
}

bool TDBNavBarre::AnyLinkEditing() {
  LinkQueued();
  return std::any_of(multi_links_.begin(), multi_links_.end(),
                     [](const auto& link) { return link->Editing(); });
}

void TDBNavBarre::Notification(cl::TComponent* component, cl::TOperation operation) {
  cl::TPanel::Notification(component, operation);
  if (operation == cl::opInsert) {
    auto* source = dynamic_cast<cl::TDataSource*>(component);
    if (source != nullptr && nav_mode_ == nmMultiDatasource && source->Owner() == Owner()) {
      queued_sources_.push_back(source);
    }
    return;
  }
  if (component == focus_control_) focus_control_ = nullptr;
  if (component == link_.DataSource()) link_.SetDataSource(nullptr);
  std::erase(queued_sources_, component);
  std::erase_if(multi_links_, [&](const auto& link) { return link->DataSource() == component; });
}

void TDBNavBarre::SetVisibleBtn(TNavButtonsSet buttons) {
  if (buttons.Empty()) return;
  visible_btn_ = buttons;
  visible_count_ = 0;
  for (int i = 0; i < kNavButtonCount; ++i) {
    const bool visible = buttons.Contains(static_cast<TNavButtons>(i));
    buttons_[i]->SetVisible(visible);
    if (visible) {
      ++visible_count_;
    } else {
      buttons_[i]->SetBounds(buttons_[i]->Left(), kParkedTop, buttons_[i]->Width(),
                             buttons_[i]->Height());
    }
  }
  Arrange();
  UpdateButtons();
}

void TDBNavBarre::SetBtnLabels(std::vector<std::string> labels) {
  btn_labels_ = std::move(labels);
  RefreshCaptions();
}

void TDBNavBarre::SetBtnHints(std::vector<std::string> hints) {
  btn_hints_ = std::move(hints);
  RefreshCaptions();
}

void TDBNavBarre::RefreshCaptions() {
  for (int i = 0; i < kNavButtonCount; ++i) {
    const auto kind = static_cast<TNavButtons>(i);
    const size_t index = static_cast<size_t>(i);
    buttons_[i]->SetCaption(index < btn_labels_.size() && !btn_labels_[index].empty()
                                ? btn_labels_[index]
                                : DefaultNavLabel(kind));
    buttons_[i]->SetHint(index < btn_hints_.size() && !btn_hints_[index].empty()
                             ? btn_hints_[index]
                             : DefaultNavHint(kind));
  }
}

std::string TDBNavBarre::DeleteMessage() const {
  return delete_message_.empty() ? "Effacer l'enregistrement ?" : delete_message_;
}

void TDBNavBarre::SetBtnWidth(int value) {
  layout_.btn_width = value;
  Arrange();
}
void TDBNavBarre::SetBtnHeight(int value) {
  layout_.btn_height = value;
  Arrange();
}
void TDBNavBarre::SetSpacing(int value) {
  layout_.spacing = value;
  Arrange();
}
void TDBNavBarre::SetMarginWidth(int value) {
  layout_.margin_width = value;
  Arrange();
}
void TDBNavBarre::SetMarginHeight(int value) {
  layout_.margin_height = value;
  Arrange();
}

void TDBNavBarre::SetBtnSpacing(int value) {
  btn_spacing_ = std::max(value, -1);
  for (cl::TBitBtn* b : buttons_) b->SetSpacing(btn_spacing_);
}

void TDBNavBarre::SetBtnMargin(int value) {
  btn_margin_ = std::max(value, -1);
  for (cl::TBitBtn* b : buttons_) b->SetMargin(btn_margin_);
}

void TDBNavBarre::Arrange() {
  if (buttons_[0] == nullptr) return;
  const std::vector<cl::TRect> rects = NavBarLayout(Width(), Height(), visible_count_, layout_);
  size_t next = 0;
  for (cl::TBitBtn* b : buttons_) {
    if (!b->Visible() || next >= rects.size()) continue;
    const cl::TRect& r = rects[next++];
    b->SetBounds(r.Left, r.Top, r.Width(), r.Height());
  }
}

void TDBNavBarre::Resize() {
  cl::TPanel::Resize();
  Arrange();
}

void TDBNavBarre::UpdateButtons() {
  if (buttons_[0] == nullptr) return;
  cl::TDataSet* dataset = link_.DataSource() ? link_.DataSource()->DataSet() : nullptr;
  const bool can_insert = Enabled() && link_.Active() && dataset != nullptr && dataset->CanModify();
  const bool editing = nav_mode_ == nmSingleDatasource ? link_.Editing() : AnyLinkEditing();
  const bool enabled[kNavButtonCount] = {
      can_insert,
      can_insert && !link_.Editing(),
      can_insert && !(dataset->Bof() && dataset->Eof()),
      editing,
      editing,
  };
  for (int i = 0; i < kNavButtonCount; ++i) {
    buttons_[i]->SetEnabled(enabled[i] && buttons_[i]->Visible());
  }
}

void TDBNavBarre::DoEnter() {
  cl::TPanel::DoEnter();
  for (cl::TBitBtn* b : buttons_) {
    if (b->Visible() && b->Enabled()) {
      b->SetFocus();
      return;
    }
  }
}

void TDBNavBarre::BtnClick(TNavButtons kind) {
  cl::TDataSource* source = link_.DataSource();
  cl::TDataSet* dataset = source != nullptr ? source->DataSet() : nullptr;
  if (dataset == nullptr) return;
  const bool in_edit = dataset->State() == cl::dsEdit || dataset->State() == cl::dsInsert;
  if ((kind == navInsert || kind == navEdit) && in_edit) return;
  if (kind == navDelete && delete_confirmation_ &&
      cl::MessageDlg(DeleteMessage(), cl::mtConfirmation, {cl::mbOK, cl::mbCancel}, 0) !=
          cl::mrOk) {
    return;
  }
  bool allow = true;
  if (before_action_) before_action_(this, kind, allow);
  if (!allow) return;
  switch (kind) {
    case navInsert:
      dataset->Insert();
      break;
    case navEdit:
      dataset->Edit();
      break;
    case navDelete:
      dataset->Delete();
      break;
    case navPost:
    case navCancel:
      if (nav_mode_ == nmSingleDatasource) {
        if (kind == navPost) {
          dataset->Post();
        } else {
          dataset->Cancel();
        }
      } else {
        LinkQueued();
        for (const auto& link : multi_links_) {
          cl::TDataSet* each = link->DataSource() ? link->DataSource()->DataSet() : nullptr;
          if (each == nullptr) continue;
          if (each->State() != cl::dsEdit && each->State() != cl::dsInsert) continue;
          if (kind == navPost) {
            each->Post();
          } else {
            each->Cancel();
          }
        }
      }
      break;
  }
  if ((kind == navInsert || kind == navEdit) && focus_control_ != nullptr &&
      focus_control_->CanFocus()) {
    focus_control_->SetFocus();
  }
  if (after_action_) after_action_(this, kind);
}

}  // namespace comp
