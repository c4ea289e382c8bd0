#include "app/RMessage.h"

#include "app/MMirvel.h"

namespace mirvel {

namespace {

// Band geometry, tenths of a millimetre from the band's top-left corner.
constexpr int kLabelLeft = 0;
constexpr int kLabelWidth = 450;
constexpr int kValueLeft = 460;
constexpr int kValueWidth = 1440;
constexpr int kRowHeight = 60;

cl::TReportLabel* Label(cl::TReport* report, const char* caption, int top, int size, bool bold) {
  auto* label = report->Add<cl::TReportLabel>(kLabelLeft, top, kLabelWidth, kRowHeight);
  label->SetCaption(caption);
  label->SetAlignment(cl::taRightJustify);
  label->Font().SetSize(size);
  if (bold) label->Font().SetStyle({cl::fsBold});
  return label;
}

cl::TReportDBText* Value(cl::TReport* report, const char* field, int left, int top, int width,
                         int size, bool bold) {
  auto* text = report->Add<cl::TReportDBText>(left, top, width, kRowHeight);
  text->SetDataSet(DMMirvel->TableMessages);
  text->SetDataField(field);
  text->Font().SetSize(size);
  if (bold) text->Font().SetStyle({cl::fsBold});
  return text;
}

}  // namespace

TRepMessage::TRepMessage(cl::TComponent* owner) : cl::TReport(owner) {
  SetName("RepMessage");
  cl::TReportPage& page = Page();
  page.Width = 2100;
  page.Length = 2970;
  page.LeftMargin = 100;
  page.RightMargin = 100;
  page.TopMargin = 100;
  page.BottomMargin = 100;
  page.ColumnSpace = 0;
  page.Columns = 1;
  page.Portrait = true;
  Font().SetName("Arial");
  Font().SetSize(10);
  SetOptions({cl::FirstPageHeader, cl::LastPageFooter});
  SetPrintIfEmpty(true);
  SetCopies(1);
  SetZoom(100);
  SetBandColor(cl::clWhite);
  SetBandHeight(1200);

  LabelDate = Label(this, "Date : ", 0, 10, true);
  DBTextDateAppel = Value(this, "DateAppel", kValueLeft, 0, kValueWidth, 10, false);
  LabelInterlocuteur = Label(this, "Interlocteur : ", 80, 10, true);
  DBTextInterlocuteur = Value(this, "Interlocuteur", kValueLeft, 80, kValueWidth, 10, true);
  LabelSujet = Label(this, "Sujet : ", 160, 10, true);
  DBTextSujet = Value(this, "Sujet", kValueLeft, 160, kValueWidth, 10, false);
  LabelPour = Label(this, "Pour : ", 240, 8, false);
  DBTextDestinataire = Value(this, "DestinataireSelecter", kValueLeft, 240, kValueWidth, 8, false);
  LabelRappeler = Label(this, "N\xB0 \xE0 rappeler : ", 320, 10, false);
  DBTextNoRappeler = Value(this, "NoRappeler", kValueLeft, 320, 600, 10, false);
  DBTextNoRappeler2 = Value(this, "NoRappeler2", kValueLeft + 650, 320, 600, 10, false);
  LabelSaisiPar = Label(this, "Message saisi par : ", 400, 8, false);
  DBTextUserSelecter = Value(this, "UserSelecter", kValueLeft, 400, kValueWidth, 8, false);
  DBTextMessage = Value(this, "Message", 100, 500, 1700, 10, false);
  DBTextMessage->SetWordWrap(true);
  DBTextMessage->SetStretch(true);
  DBTextMessage->SetAutoSize(false);
  SysDataImpression = Add<cl::TReportSysData>(kValueLeft, 1100, kValueWidth, kRowHeight);
  SysDataImpression->Font().SetSize(10);
}

}  // namespace mirvel
