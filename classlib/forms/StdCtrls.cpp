#include "classlib/forms/StdCtrls.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <algorithm>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/GraphicsImpl.h"
#include "classlib/forms/QtText.h"

namespace cl {

struct TComboAccess {
  static void DropDown(TComboBox* combo) {
    combo->popup_opening_ = true;
    try {
      combo->DropDown();
    } catch (...) {
      combo->popup_opening_ = false;
      throw;
    }
    combo->popup_opening_ = false;
  }
  static void CloseUp(TComboBox* combo) { combo->CloseUp(); }
  static void Change(TComboBox* combo) { combo->Change(); }
};

namespace {

// The combo's list opens and closes through these, so that the control hears of it.
class ComboWidget : public QComboBox {
 public:
  explicit ComboWidget(TComboBox* owner) : owner_(owner) {}
  void Detach() { owner_ = nullptr; }
  QPointer<QLineEdit> hooked_edit;  // the edit part whose signals reach the control
  void showPopup() override {
    if (owner_ != nullptr) CallGuarded(owner_, [this] { TComboAccess::DropDown(owner_); });
    QComboBox::showPopup();
    dropped_ = view()->isVisible();
  }
  void hidePopup() override {
    QComboBox::hidePopup();
    // The toolkit also hides a list that never dropped down (the combo or its window being
    // disabled, a modal window opening): only a list that was shown closes up.
    if (!dropped_) return;
    dropped_ = false;
    if (owner_ != nullptr) CallGuarded(owner_, [this] { TComboAccess::CloseUp(owner_); });
  }

 private:
  TComboBox* owner_;
  bool dropped_ = false;
};

ComboWidget* ComboOf(const TComboBox* combo) { return static_cast<ComboWidget*>(WidgetOf(combo)); }

}  // namespace

TButton::TButton(TComponent* owner) : TWinControl(owner) {
  auto* button = new QPushButton;
  button->setAutoDefault(false);
  button->setDefault(false);
  button->setFocusPolicy(Qt::StrongFocus);
  AttachWidget(this, button);
  impl_->native_click = true;
  SetTabStop(true);
  SetBounds(0, 0, 75, 25);
  QObject::connect(button, &QPushButton::clicked, button,
                   [this] { CallGuarded(this, [this] { Click(); }); });
}

void TButton::Click() {
  if (modal_result_ != 0) {
    if (TForm* form = GetParentForm(this)) form->SetModalResult(modal_result_);
  }
  TWinControl::Click();
}

void TButton::DefaultHandler(TMessage& message) {
  if (message.Msg == CM_DIALOGKEY) {
    const bool mine =
        (default_ && message.WParam == VK_RETURN) || (cancel_ && message.WParam == VK_ESCAPE);
    if (mine && CanFocus()) {
      Click();
      message.Result = 1;
    }
    return;
  }
  TWinControl::DefaultHandler(message);
  if (message.Msg == WM_KEYDOWN && message.WParam == VK_RETURN) {
    Click();
    message.WParam = 0;  // the button took Enter
  }
}

void TButton::TextChanged() {
  static_cast<QPushButton*>(WidgetOf(this))->setText(ToQString(Caption()));
}

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner) {
  AttachWidget(this, new QGroupBox);
  SetBounds(0, 0, 185, 105);
}

void TGroupBox::TextChanged() {
  static_cast<QGroupBox*>(WidgetOf(this))->setTitle(ToQString(Caption()));
}

// ---- TComboBox --------------------------------------------------------------------------------

TComboBox::TComboBox(TComponent* owner)
    : TWinControl(owner), items_(std::make_unique<TStringList>()) {
  auto* combo = new ComboWidget(this);
  AttachWidget(this, combo);
  SetTabStop(true);
  SetBounds(0, 0, 145, 21);
  SetStyle(csDropDown);
  items_->SetOnChange([this](TObject*) { ItemsChanged(); });
  QObject::connect(combo, QOverload<int>::of(&QComboBox::activated), combo, [this](int) {
    CallGuarded(this, [this] {
      Change();
      Click();
    });
  });
}

TComboBox::~TComboBox() {
  DetachEvents(this);
  ComboOf(this)->Detach();
}

TStrings& TComboBox::Items() { return *items_; }

void TComboBox::ItemsChanged() {
  ComboWidget* combo = ComboOf(this);
  const QSignalBlocker blocker(combo);
  const QString text = combo->currentText();
  combo->clear();
  for (int i = 0; i < items_->Count(); ++i) combo->addItem(ToQString(items_->Get(i)));
  combo->setCurrentIndex(-1);
  if (combo->isEditable()) combo->setEditText(text);
}

void TComboBox::SetStyle(TComboBoxStyle style) {
  style_ = style;
  ComboWidget* combo = ComboOf(this);
  const QSignalBlocker blocker(combo);
  combo->setEditable(style != csDropDownList);
  if (QLineEdit* edit = combo->lineEdit()) {
    edit->setReadOnly(read_only_);
    edit->setMaxLength(max_length_ == 0 ? 32767 : max_length_);
    // The combo keeps its edit part across style changes and makes a new one only after a
    // non-editable style: hook each edit part once, or every keystroke fires OnChange again.
    if (edit != combo->hooked_edit) {
      combo->hooked_edit = edit;
      RefuseNonCp1252(edit);
      QObject::connect(edit, &QLineEdit::textEdited, combo,
                       [this](const QString&) { CallGuarded(this, [this] { Change(); }); });
    }
  }
}

int TComboBox::ItemIndex() const { return ComboOf(this)->currentIndex(); }

void TComboBox::SetItemIndex(int index) {
  ComboWidget* combo = ComboOf(this);
  const QSignalBlocker blocker(combo);
  combo->setCurrentIndex(index < 0 || index >= combo->count() ? -1 : index);
  if (combo->currentIndex() < 0 && combo->isEditable()) combo->setEditText(QString());
}

std::string TComboBox::Text() const { return FromQString(ComboOf(this)->currentText()); }

void TComboBox::SetText(const std::string& text) {
  ComboWidget* combo = ComboOf(this);
  const QSignalBlocker blocker(combo);
  const int index = items_->IndexOf(text);
  if (index >= 0) {
    combo->setCurrentIndex(index);
  } else if (combo->isEditable()) {
    combo->setCurrentIndex(-1);
    combo->setEditText(ToQString(text));
  }
}

bool TComboBox::Sorted() const { return items_->Sorted(); }
void TComboBox::SetSorted(bool sorted) { items_->SetSorted(sorted); }

void TComboBox::SetDropDownCount(int count) {
  drop_down_count_ = count;
  ComboOf(this)->setMaxVisibleItems(count);
}

bool TComboBox::DroppedDown() const { return ComboOf(this)->view()->isVisible(); }

void TComboBox::SetDroppedDown(bool dropped) {
  if (dropped) {
    ComboOf(this)->showPopup();
  } else {
    ComboOf(this)->hidePopup();
  }
}

void TComboBox::SelectAll() {
  if (QLineEdit* edit = ComboOf(this)->lineEdit()) edit->selectAll();
}

void TComboBox::SetReadOnly(bool read_only) {
  read_only_ = read_only;
  if (QLineEdit* edit = ComboOf(this)->lineEdit()) edit->setReadOnly(read_only);
}

void TComboBox::SetMaxLength(int length) {
  max_length_ = std::max(length, 0);
  if (QLineEdit* edit = ComboOf(this)->lineEdit()) {
    edit->setMaxLength(max_length_ == 0 ? 32767 : max_length_);
  }
}

void TComboBox::Change() {
  if (on_change_) {
    TNotifyEvent handler = on_change_;
    handler(this);
  }
}

void TComboBox::DropDown() {
  if (on_drop_down_) {
    TNotifyEvent handler = on_drop_down_;
    handler(this);
  }
}

void TComboBox::CloseUp() {
  if (on_close_up_) {
    TNotifyEvent handler = on_close_up_;
    handler(this);
  }
}

// ---- TCheckListBox ----------------------------------------------------------------------------

struct TCheckListAccess {
  static void DrawItem(TCheckListBox* list, QPainter* painter, int index, const QRect& r,
                       TOwnerDrawState state) {
    TCanvas& canvas = list->Canvas();
    canvas.Font().Assign(&list->Font());
    canvas.Brush().SetColor(state.Contains(odSelected) ? clHighlight : clWindow);
    BeginControlPaint(canvas, painter);
    try {
      TDrawItemEvent handler = list->on_draw_item_;
      handler(list, index, Bounds(r.x(), r.y(), r.width(), r.height()), state);
    } catch (...) {
      EndControlPaint(canvas);
      throw;
    }
    EndControlPaint(canvas);
  }
  static bool OwnerDraw(TCheckListBox* list) { return static_cast<bool>(list->on_draw_item_); }
};

namespace {

// Draws the check box as usual and lets the program draw the text part.
class CheckListDelegate : public QStyledItemDelegate {
 public:
  CheckListDelegate(TCheckListBox* list, QObject* parent)
      : QStyledItemDelegate(parent), list_(list) {}
  void Detach() { list_ = nullptr; }
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    if (list_ == nullptr || !TCheckListAccess::OwnerDraw(list_)) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    QStyleOptionViewItem box = option;
    initStyleOption(&box, index);
    box.text.clear();
    QStyledItemDelegate::paint(painter, box, index);
    const int check = option.rect.height();
    const QRect text(option.rect.x() + check, option.rect.y(), option.rect.width() - check,
                     option.rect.height());
    TOwnerDrawState state;
    if (option.state & QStyle::State_Selected) state.Include(odSelected);
    if (!(option.state & QStyle::State_Enabled)) state.Include(odDisabled);
    if (option.state & QStyle::State_HasFocus) state.Include(odFocused);
    TCheckListBox* list = list_;
    CallGuarded(list, [&] { TCheckListAccess::DrawItem(list, painter, index.row(), text, state); });
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (list_ != nullptr) size.setHeight(list_->ItemHeight());
    return size;
  }

 private:
  TCheckListBox* list_;
};

QListWidget* ListOf(const TCheckListBox* list) { return static_cast<QListWidget*>(WidgetOf(list)); }

}  // namespace

TCheckListBox::TCheckListBox(TComponent* owner)
    : TWinControl(owner),
      items_(std::make_unique<TStringList>()),
      canvas_(std::make_unique<TCanvas>()) {
  auto* list = new QListWidget;
  list->setItemDelegate(new CheckListDelegate(this, list));
  list->setUniformItemSizes(true);
  AttachWidget(this, list);
  SetTabStop(true);
  SetBounds(0, 0, 121, 97);
  items_->SetOnChange([this](TObject*) { ItemsChanged(); });
  QObject::connect(list, &QListWidget::itemChanged, list, [this](QListWidgetItem*) {
    CallGuarded(this, [this] {
      if (on_click_check_) {
        TNotifyEvent handler = on_click_check_;
        handler(this);
      }
    });
  });
}

TCheckListBox::~TCheckListBox() {
  DetachEvents(this);
  static_cast<CheckListDelegate*>(ListOf(this)->itemDelegate())->Detach();
}

TStrings& TCheckListBox::Items() { return *items_; }

void TCheckListBox::ItemsChanged() {
  QListWidget* list = ListOf(this);
  const QSignalBlocker blocker(list);
  std::vector<bool> checked;
  for (int i = 0; i < list->count(); ++i) {
    checked.push_back(list->item(i)->checkState() == Qt::Checked);
  }
  list->clear();
  for (int i = 0; i < items_->Count(); ++i) {
    auto* item = new QListWidgetItem(ToQString(items_->Get(i)), list);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    const bool was = static_cast<size_t>(i) < checked.size() && checked[static_cast<size_t>(i)];
    item->setCheckState(was ? Qt::Checked : Qt::Unchecked);
  }
}

bool TCheckListBox::Checked(int index) const {
  QListWidgetItem* item = ListOf(this)->item(index);
  if (item == nullptr) ListIndexError(index);
  return item->checkState() == Qt::Checked;
}

void TCheckListBox::SetChecked(int index, bool checked) {
  QListWidget* list = ListOf(this);
  QListWidgetItem* item = list->item(index);
  if (item == nullptr) ListIndexError(index);
  const QSignalBlocker blocker(list);
  item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
  list->viewport()->update();
}

int TCheckListBox::ItemIndex() const { return ListOf(this)->currentRow(); }

void TCheckListBox::SetItemIndex(int index) {
  QListWidget* list = ListOf(this);
  const QSignalBlocker blocker(list);
  list->setCurrentRow(index);
}

void TCheckListBox::SetItemHeight(int height) {
  item_height_ = height;
  ListOf(this)->doItemsLayout();
}

TLabel::TLabel(TComponent* owner) : TControl(owner) {
  auto* label = new QLabel;
  label->setTextFormat(Qt::PlainText);
  label->setAutoFillBackground(true);
  AttachWidget(this, label);
  SetBounds(0, 0, 65, 13);
}

void TLabel::SetFocusControl(TWinControl* control) {
  focus_control_ = control;
  Update();
}

void TLabel::SetWordWrap(bool wrap) {
  word_wrap_ = wrap;
  Update();
}

void TLabel::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  Update();
}

void TLabel::SetTransparent(bool transparent) {
  transparent_ = transparent;
  WidgetOf(this)->setAutoFillBackground(!transparent);
}

void TLabel::SetAutoSize(bool auto_size) {
  auto_size_ = auto_size;
  Update();
}

void TLabel::TextChanged() { Update(); }

void TLabel::Update() {
  auto* label = static_cast<QLabel*>(WidgetOf(this));
  QString text = ToQString(Caption());
  if (focus_control_ != nullptr) {
    label->setBuddy(WidgetOf(focus_control_));
    label->setTextFormat(Qt::PlainText);
  } else {
    // No buddy: the toolkit would show the "&" itself.
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
      if (text[i] == '&') {
        if (i + 1 < text.size() && text[i + 1] == '&') shown += '&';
        ++i;
        if (i < text.size() && text[i] != '&') shown += text[i];
        continue;
      }
      shown += text[i];
    }
    text = shown;
    label->setBuddy(nullptr);
  }
  label->setText(text);
  label->setWordWrap(word_wrap_);
  Qt::Alignment align = Qt::AlignTop;
  align |= alignment_ == taCenter         ? Qt::AlignHCenter
           : alignment_ == taRightJustify ? Qt::AlignRight
                                          : Qt::AlignLeft;
  label->setAlignment(align);
  if (auto_size_ && !word_wrap_) {
    const QSize size = label->sizeHint();
    SetBounds(Left(), Top(), size.width(), size.height());
  }
}

}  // namespace cl
