#include "app/FenVisuMessage.h"

#include "classlib/db/TDataSet.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Loader.h"

namespace mirvel {

TFenVisuMessage* FenVisuMessage = nullptr;

TFenVisuMessage::TFenVisuMessage(cl::TComponent* owner) : cl::TForm(owner) {
  cl::TLoader loader(this);
  SetName("FenVisuMessage");
  SetCaption("");
  SetBounds(0, 0, 400, 300);
  SetBorderStyle(cl::bsNone);
  SetBorderIcons({});
  SetKeyPreview(true);

  // Parked outside the window: it only holds the focus when the memo gives it up.
  btnFocus = loader.Create<cl::TButton>(this, "btnFocus");
  btnFocus->SetParent(this);
  btnFocus->SetBounds(-100, -100, 20, 20);

  MemoMessages = loader.Create<cl::TDBMemo>(this, "MemoMessages");
  MemoMessages->SetParent(this);
  MemoMessages->SetAlign(cl::alClient);
  MemoMessages->SetDataField("Message");
  MemoMessages->SetScrollBars(cl::ssVertical);

  SetOnShow([this](cl::TObject* s) { FormShow(s); });
  SetOnDeactivate([this](cl::TObject* s) { FormDeactivate(s); });
  MemoMessages->SetOnExit([this](cl::TObject* s) { MemoMessagesExit(s); });
  loader.Finish();
  if (FenVisuMessage == nullptr) FenVisuMessage = this;
}

TFenVisuMessage::~TFenVisuMessage() {
  if (FenVisuMessage == this) FenVisuMessage = nullptr;
}

void TFenVisuMessage::ZoomFrom(cl::TDBMemo* source, int left, int top, int width, int height) {
  source_ = source;
  MemoMessages->SetDataSource(source->DataSource());
  MemoMessages->SetDataField(source->DataField());
  cl::TDataSet* data_set =
      source->DataSource() != nullptr ? source->DataSource()->DataSet() : nullptr;
  if (data_set != nullptr &&
      (data_set->State() == cl::dsEdit || data_set->State() == cl::dsInsert)) {
    MemoMessages->Lines().SetText(source->Lines().Text());
  }
  SetBounds(left, top, width, height);
  Show();
  // A first show may report the window's earlier geometry back: place it again.
  SetBounds(left, top, width, height);
}

void TFenVisuMessage::FormShow(cl::TObject*) {
  if (MemoMessages->CanFocus()) MemoMessages->SetFocus();
}

void TFenVisuMessage::FormDeactivate(cl::TObject*) { Leave(); }

void TFenVisuMessage::MemoMessagesExit(cl::TObject*) { Leave(); }

void TFenVisuMessage::Leave() {
  // Hiding deactivates the window and takes the focus from the memo: both come back here.
  if (leaving_ || !Visible()) return;
  leaving_ = true;
  try {
    cl::TDataSet* data_set =
        MemoMessages->DataSource() != nullptr ? MemoMessages->DataSource()->DataSet() : nullptr;
    if (source_ != nullptr && data_set != nullptr &&
        (data_set->State() == cl::dsEdit || data_set->State() == cl::dsInsert)) {
      // Replacing the text (not assigning line by line) is what counts as the user's change, so
      // that the source memo writes it back when the message is posted.
      source_->Lines().SetText(MemoMessages->Lines().Text());
    }
    // The source memo now carries the text: the hidden window's own link must not write it (or
    // an older copy) into the field as well.
    MemoMessages->SetDataSource(nullptr);
    Hide();
  } catch (...) {
    leaving_ = false;
    throw;
  }
  leaving_ = false;
}

}  // namespace mirvel
