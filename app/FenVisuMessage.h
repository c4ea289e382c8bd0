// TFenVisuMessage: the borderless zoom window over one of the main window's memos.  It shows the
// field of the memo it was opened from, on the main window's data source; while the message is
// being edited or inserted, what is typed in it goes back into that memo (not into the field)
// when the window loses activation or its memo the focus, and the window hides.
//
// Lifetime: one instance, FenVisuMessage, made at start and kept for the whole run.  The source
// memo belongs to the main window, which outlives it in use.  GUI thread only.
#pragma once

#include "classlib/dbforms/DBCtrls.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"

namespace mirvel {

class TFenVisuMessage : public cl::TForm {
 public:
  explicit TFenVisuMessage(cl::TComponent* owner);
  ~TFenVisuMessage() override;

  cl::TDBMemo* MemoMessages;
  // Takes the focus when the memo cannot (keeps key preview working).
  cl::TButton* btnFocus;

  void FormShow(cl::TObject* sender);
  void FormDeactivate(cl::TObject* sender);
  void MemoMessagesExit(cl::TObject* sender);

  // Opens the zoom on `source` (the main window's MemoMessages or MemoReponse): its data source
  // and field, its current text while editing, the given screen bounds; then shows.
  void ZoomFrom(cl::TDBMemo* source, int left, int top, int width, int height);
  cl::TDBMemo* SourceMemo() const { return source_; }

 private:
  // Copies the text back into the source memo while editing, then hides.
  void Leave();

  cl::TDBMemo* source_ = nullptr;
  bool leaving_ = false;
};

extern TFenVisuMessage* FenVisuMessage;

}  // namespace mirvel
