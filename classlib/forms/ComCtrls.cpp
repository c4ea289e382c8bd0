#include "classlib/forms/ComCtrls.h"

#include <QSignalBlocker>
#include <QTabWidget>
#include <QWidget>
#include <algorithm>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/QtText.h"

namespace cl {
namespace {

QTabWidget* TabsOf(const TPageControl* control) {
  return static_cast<QTabWidget*>(WidgetOf(control));
}

}  // namespace

TTabSheet::TTabSheet(TComponent* owner) : TWinControl(owner) { AttachWidget(this, new QWidget); }

TTabSheet::~TTabSheet() {
  DetachEvents(this);
  if (page_control_ != nullptr) page_control_->RemovePage(this);
}

void TTabSheet::SetPageControl(TPageControl* page_control) {
  if (page_control == page_control_) return;
  if (page_control_ != nullptr) page_control_->RemovePage(this);
  page_control_ = page_control;
  if (page_control_ != nullptr) page_control_->InsertPage(this);
}

int TTabSheet::PageIndex() const {
  return page_control_ == nullptr ? -1 : TabsOf(page_control_)->indexOf(WidgetOf(this));
}

void TTabSheet::TextChanged() {
  if (page_control_ == nullptr) return;
  QTabWidget* tabs = TabsOf(page_control_);
  tabs->setTabText(tabs->indexOf(WidgetOf(this)), ToQString(Caption()));
}

TPageControl::TPageControl(TComponent* owner) : TWinControl(owner) {
  auto* tabs = new QTabWidget;
  AttachWidget(this, tabs);
  SetTabStop(true);
  SetBounds(0, 0, 289, 193);
  QObject::connect(tabs, &QTabWidget::currentChanged, tabs,
                   [this](int) { CallGuarded(this, [this] { Change(); }); });
}

TPageControl::~TPageControl() {
  DetachEvents(this);
  for (TTabSheet* page : std::vector<TTabSheet*>(pages_)) {
    page->page_control_ = nullptr;
    if (QWidget* widget = WidgetOf(page)) widget->setParent(nullptr);
  }
}

void TPageControl::InsertPage(TTabSheet* page) {
  pages_.push_back(page);
  QTabWidget* tabs = TabsOf(this);
  const QSignalBlocker blocker(tabs);
  tabs->addTab(WidgetOf(page), ToQString(page->Caption()));
}

void TPageControl::RemovePage(TTabSheet* page) {
  pages_.erase(std::remove(pages_.begin(), pages_.end(), page), pages_.end());
  QTabWidget* tabs = TabsOf(this);
  const QSignalBlocker blocker(tabs);
  const int index = tabs->indexOf(WidgetOf(page));
  if (index >= 0) tabs->removeTab(index);
}

TTabSheet* TPageControl::ActivePage() const {
  QWidget* current = TabsOf(this)->currentWidget();
  for (TTabSheet* page : pages_) {
    if (WidgetOf(page) == current) return page;
  }
  return nullptr;
}

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page == nullptr || page->page_control_ != this) return;
  QTabWidget* tabs = TabsOf(this);
  const QSignalBlocker blocker(tabs);
  tabs->setCurrentWidget(WidgetOf(page));
}

void TPageControl::Change() {
  if (on_change_) {
    TNotifyEvent handler = on_change_;
    handler(this);
  }
}

}  // namespace cl
