#include "classlib/forms/Menus.h"

#include <QAction>
#include <QFont>
#include <QMenu>
#include <algorithm>
#include <map>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/QtText.h"

namespace cl {
namespace {

std::function<TMenuItem*(TPopupMenu*)>& Responder() {
  static std::function<TMenuItem*(TPopupMenu*)> responder;
  return responder;
}

void Fill(QMenu* menu, TMenuItem* parent, std::map<QAction*, TMenuItem*>& actions) {
  for (int i = 0; i < parent->Count(); ++i) {
    TMenuItem* item = parent->Items(i);
    if (!item->Visible()) continue;
    if (item->IsSeparator()) {
      menu->addSeparator();
      continue;
    }
    if (item->Count() > 0) {
      QMenu* sub = menu->addMenu(ToQString(item->Caption()));
      sub->setEnabled(item->Enabled());
      Fill(sub, item, actions);
      continue;
    }
    QAction* action = menu->addAction(ToQString(item->Caption()));
    action->setEnabled(item->Enabled());
    if (item->Checked()) {
      action->setCheckable(true);
      action->setChecked(true);
    }
    if (item->Default()) {
      QFont font = action->font();
      font.setBold(true);
      action->setFont(font);
    }
    actions[action] = item;
  }
}

}  // namespace

void SetPopupMenuResponder(std::function<TMenuItem*(TPopupMenu* menu)> responder) {
  Responder() = std::move(responder);
}

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {}

TMenuItem::~TMenuItem() {
  for (TMenuItem* item : items_) item->parent_ = nullptr;
  if (parent_ != nullptr) parent_->Remove(this);
}

void TMenuItem::Add(TMenuItem* item) {
  if (item->parent_ != nullptr) item->parent_->Remove(item);
  items_.push_back(item);
  item->parent_ = this;
}

void TMenuItem::Remove(TMenuItem* item) {
  items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
  if (item->parent_ == this) item->parent_ = nullptr;
}

void TMenuItem::Click() {
  if (on_click_) {
    TNotifyEvent handler = on_click_;
    handler(this);
  }
}

TPopupMenu::TPopupMenu(TComponent* owner) : TComponent(owner), items_(new TMenuItem(this)) {}

TPopupMenu::~TPopupMenu() = default;

void TPopupMenu::Popup(int x, int y) {
  if (on_popup_) {
    TNotifyEvent handler = on_popup_;
    handler(this);
  }
  TMenuItem* chosen = nullptr;
  if (Responder()) {
    auto responder = Responder();
    chosen = responder(this);
  } else {
    QMenu menu;
    // The click that closes the menu outside it is dropped, not passed to what lies beneath.
    menu.setAttribute(Qt::WA_NoMouseReplay);
    std::map<QAction*, TMenuItem*> actions;
    Fill(&menu, items_, actions);
    QPoint at(x, y);
    if (alignment_ == paRight) at.rx() -= menu.sizeHint().width();
    if (alignment_ == paCenter) at.rx() -= menu.sizeHint().width() / 2;
    CancelMode();
    StartModalAction();
    QAction* action = menu.exec(at);
    auto it = actions.find(action);
    if (it != actions.end()) chosen = it->second;
  }
  // The menu is closed now: the item's handler may open windows of its own.
  if (chosen != nullptr && chosen->Enabled()) chosen->Click();
}

}  // namespace cl
