// TReport: the banded report, with one title band printed once, its labels, data texts and the
// date and time of printing.
//
// Units.  Every position and size is in tenths of a millimetre from the page's top-left corner;
// the band's controls are placed relative to the top margin.  Text is measured at the output
// device's resolution, so that what the layout says fits is what the device draws.
//
// Layout (Layout): the controls in the order of their Top; a data text with WordWrap and Stretch
// grows to its wrapped height (CR LF breaks its lines) and pushes the controls below it down;
// when it passes the bottom margin its remaining lines continue at the top margin of a new page.
// The result is a list of positioned text items per page, the one input of the drawing routine
// (DrawReportPage), which serves the preview, the printer, the PDF and the tests alike.  A report
// on an empty or closed dataset still has one page.
//
// Errors: a data text naming a field its open dataset lacks raises EDatabaseError naming it; a
// PDF that cannot be written raises EReportError with its path and leaves no file behind.
//
// Ownership: the controls belong to the report (as components).  Threads: GUI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/db/TDataSet.h"
#include "classlib/forms/Graphics.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/TComponent.h"

namespace cl {

class EReportError : public Exception {
 public:
  using Exception::Exception;
};

// The page settings (tenths of a millimetre).  Settings only a designer uses are kept as given.
struct TReportPage {
  int Width = 2100;
  int Length = 2970;
  int LeftMargin = 100;
  int RightMargin = 100;
  int TopMargin = 100;
  int BottomMargin = 100;
  int Columns = 1;
  int ColumnSpace = 0;
  bool Portrait = true;
};

enum TReportOption { FirstPageHeader, LastPageFooter };
using TReportOptions = TSet<TReportOption>;

class TReport;

// A control of the title band.  Left, Top, Width and Height in tenths of a millimetre.
class TReportControl : public TComponent {
 public:
  explicit TReportControl(TComponent* owner);
  void SetBounds(int left, int top, int width, int height);
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // Its name stays empty to print in the report's font.
  TFont& Font() { return font_; }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment) { alignment_ = alignment; }
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool value) { auto_size_ = value; }
  // The text printed (Windows-1252).
  virtual std::string PrintedText(TReport& report) const = 0;
  virtual bool Stretches() const { return false; }

 private:
  int left_ = 0, top_ = 0, width_ = 500, height_ = 50;
  TFont font_;
  TAlignment alignment_ = taLeftJustify;
  bool auto_size_ = true;
};

class TReportLabel : public TReportControl {
 public:
  using TReportControl::TReportControl;
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption) { caption_ = caption; }
  std::string PrintedText(TReport&) const override { return caption_; }

 private:
  std::string caption_;
};

class TReportDBText : public TReportControl {
 public:
  using TReportControl::TReportControl;
  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* dataset) { dataset_ = dataset; }
  const std::string& DataField() const { return data_field_; }
  void SetDataField(const std::string& name) { data_field_ = name; }
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool value) { word_wrap_ = value; }
  bool Stretch() const { return stretch_; }
  void SetStretch(bool value) { stretch_ = value; }
  // The field's display text (a memo's whole text); "" on a closed or empty dataset.
  std::string PrintedText(TReport& report) const override;
  bool Stretches() const override { return word_wrap_ && stretch_; }

 private:
  TDataSet* dataset_ = nullptr;
  std::string data_field_;
  bool word_wrap_ = false;
  bool stretch_ = false;
};

// The date and time of printing, in the format settings' short date and long time.
class TReportSysData : public TReportControl {
 public:
  using TReportControl::TReportControl;
  std::string PrintedText(TReport& report) const override;
};

// One laid-out text: its page (0-based), its box in tenths of a millimetre, and how to draw it.
struct TReportItem {
  int Page = 0;
  double Left = 0, Top = 0, Width = 0, Height = 0;
  std::string Text;
  std::string FontName;
  int FontSize = 10;
  bool Bold = false;
  TAlignment Alignment = taLeftJustify;
};

struct TReportLayout {
  int PageCount = 1;
  std::vector<TReportItem> Items;
};

class TReport : public TComponent {
 public:
  explicit TReport(TComponent* owner);

  TReportPage& Page() { return page_; }
  TFont& Font() { return font_; }
  TReportOptions Options() const { return options_; }
  void SetOptions(TReportOptions options) { options_ = options; }
  bool PrintIfEmpty() const { return print_if_empty_; }
  void SetPrintIfEmpty(bool value) { print_if_empty_ = value; }
  int Copies() const { return copies_; }
  void SetCopies(int copies) { copies_ = copies; }
  int Zoom() const { return zoom_; }
  void SetZoom(int zoom) { zoom_ = zoom; }
  TColor BandColor() const { return band_color_; }
  void SetBandColor(TColor color) { band_color_ = color; }
  // The title band's height (tenths of a millimetre).
  int BandHeight() const { return band_height_; }
  void SetBandHeight(int height) { band_height_ = height; }

  // Adds a control to the title band (the report owns it).
  template <class T>
  T* Add(int left, int top, int width, int height) {
    auto* control = new T(this);
    control->SetBounds(left, top, width, height);
    controls_.push_back(control);
    return control;
  }

  // The clock of the printing date (tests fix it).
  void SetClock(std::function<TDateTime()> clock) { clock_ = std::move(clock); }
  TDateTime PrintTime() const { return clock_ ? clock_() : Now(); }

  // Lays the report out for a device of `dpi` dots per inch.
  TReportLayout Layout(int dpi);
  // Shows the pages in a modal window (navigation, zoom, print, PDF).
  void Preview();
  // Prints through the print dialog.
  void Print();
  // Writes the pages to a PDF file (A4, no device margins).
  void PrintToPdf(const std::string& path);
  // Draws one page (0-based) onto an image of `dpi` and saves it as PNG (for a person or a test).
  void SavePageImage(int page, int dpi, const std::string& path);

 private:
  TReportPage page_;
  TFont font_;
  TReportOptions options_{FirstPageHeader, LastPageFooter};
  bool print_if_empty_ = true;
  int copies_ = 1;
  int zoom_ = 100;
  TColor band_color_ = clWhite;
  int band_height_ = 600;
  std::vector<TReportControl*> controls_;
  std::function<TDateTime()> clock_;
};

}  // namespace cl
