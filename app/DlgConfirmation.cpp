#include "app/DlgConfirmation.h"

#include <memory>

#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Loader.h"

namespace mirvel {

namespace {

// The question mark on a blue square, drawn here rather than carried as a file.
void DrawQuestionGlyph(cl::TBitmap& bitmap) {
  bitmap.SetSize(32, 32);
  cl::TCanvas& canvas = bitmap.Canvas();
  canvas.Brush().SetColor(cl::clBtnFace);
  canvas.FillRect(cl::Rect(0, 0, 32, 32));
  canvas.Brush().SetColor(0x00A05000);
  canvas.Pen().SetColor(0x00803000);
  canvas.Rectangle(1, 1, 31, 31);
  canvas.Font().SetColor(cl::clWhite);
  canvas.Font().SetSize(16);
  canvas.Font().SetStyle({cl::fsBold});
  canvas.Brush().SetStyle(cl::bsClear);
  canvas.TextOut((32 - canvas.TextWidth("?")) / 2, (32 - canvas.TextHeight("?")) / 2, "?");
}

cl::TButton* Button(cl::TLoader& loader, cl::TForm* form, const char* name, const char* caption,
                    int result, int left) {
  auto* button = loader.Create<cl::TButton>(form, name);
  button->SetParent(form);
  button->SetCaption(caption);
  button->SetModalResult(result);
  button->SetBounds(left, 92, 90, 25);
  return button;
}

}  // namespace

TDlgConfirmation::TDlgConfirmation(cl::TComponent* owner) : cl::TForm(owner) {
  cl::TLoader loader(this);
  SetName("DlgConfirmation");
  SetCaption("Confirmation");
  SetBounds(0, 0, 430, 130);
  SetBorderStyle(cl::bsDialog);
  SetPosition(cl::poScreenCenter);
  SetHelpContext(100);

  Image1 = loader.Create<cl::TImage>(this, "Image1");
  Image1->SetParent(this);
  Image1->SetBounds(12, 14, 32, 32);
  DrawQuestionGlyph(Image1->Picture().Bitmap());

  Label1 = loader.Create<cl::TLabel>(this, "Label1");
  Label1->SetParent(this);
  Label1->SetCaption("Voulez-vous vraiment quitter Mirvel ?");
  Label1->SetBounds(60, 16, 360, 13);
  Label1->Font().SetStyle({cl::fsBold});

  Label2 = loader.Create<cl::TLabel>(this, "Label2");
  Label2->SetParent(this);
  Label2->SetCaption("Si vous le fermer, vous ne pourrez plus envoyer et recevoir de messages.");
  Label2->SetWordWrap(true);
  Label2->SetBounds(60, 40, 360, 30);

  btnReduire = Button(loader, this, "btnReduire",
                      "&R\xE9"
                      "duire",
                      cl::mrOk, 60);
  btnReduire->SetDefault(true);
  btnAnnuler = Button(loader, this, "btnAnnuler", "&Annuler", cl::mrCancel, 160);
  btnAnnuler->SetCancel(true);
  btnQuitter = Button(loader, this, "btnQuitter", "&Quitter", cl::mrAbort, 260);
  loader.Finish();
}

int AskQuitConfirmation() {
  std::unique_ptr<TDlgConfirmation> dialog(cl::Create<TDlgConfirmation>(nullptr));
  return dialog->ShowModal();
}

}  // namespace mirvel
