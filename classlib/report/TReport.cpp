#include "classlib/report/TReport.h"

#include <QFile>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>
#include <memory>

#include "classlib/db/TField.h"
#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/GraphicsImpl.h"
#include "classlib/forms/QtText.h"
#include "classlib/forms/StdCtrls.h"
#include "classlib/rtl/DateTimeText.h"

namespace cl {
namespace {

constexpr double kTenthsPerInch = 254.0;

QFont ReportFont(const std::string& name, int size, bool bold) {
  TFont font;
  font.SetName(name);
  QFont q = ToQFont(font);
  q.setPointSizeF(size);
  q.setBold(bold);
  return q;
}

// The wrapped lines of `text` in `width` device pixels: CR LF breaks, words move whole to the
// next line, and a word longer than the line is cut where it must.
std::vector<QString> WrapLines(const QString& text, const QFontMetricsF& metrics, double width) {
  std::vector<QString> lines;
  QString normalized = text;
  normalized.replace("\r\n", "\n");
  for (const QString& paragraph : normalized.split('\n')) {
    QString line;
    for (const QString& word : paragraph.split(' ')) {
      const QString candidate = line.isEmpty() ? word : line + ' ' + word;
      if (metrics.horizontalAdvance(candidate) <= width || line.isEmpty()) {
        line = candidate;
      } else {
        lines.push_back(line);
        line = word;
      }
      while (line.size() > 1 && metrics.horizontalAdvance(line) > width) {
        int cut = line.size() - 1;
        while (cut > 1 && metrics.horizontalAdvance(line.left(cut)) > width) --cut;
        lines.push_back(line.left(cut));
        line = line.mid(cut);
      }
    }
    lines.push_back(line);
  }
  return lines;
}

// The one drawing routine: a page's items onto any painter whose device has `dpi`.
void DrawReportPage(QPainter& painter, const TReportLayout& layout, int page, double dpi,
                    TColor band_color, double page_width, double page_length) {
  const double scale = dpi / kTenthsPerInch;
  painter.fillRect(QRectF(0, 0, page_width * scale, page_length * scale),
                   ToQColor(band_color == clNone ? clWhite : band_color));
  painter.setPen(Qt::black);
  for (const TReportItem& item : layout.Items) {
    if (item.Page != page) continue;
    painter.setFont(ReportFont(item.FontName, item.FontSize, item.Bold));
    const QRectF box(item.Left * scale, item.Top * scale, item.Width * scale, item.Height * scale);
    Qt::Alignment align = Qt::AlignTop | Qt::AlignLeft;
    if (item.Alignment == taRightJustify) align = Qt::AlignTop | Qt::AlignRight;
    if (item.Alignment == taCenter) align = Qt::AlignTop | Qt::AlignHCenter;
    painter.drawText(box, static_cast<int>(align) | Qt::TextDontClip, ToQString(item.Text));
  }
}

}  // namespace

// A control's font has no name of its own until given one: it prints in the report's font.
TReportControl::TReportControl(TComponent* owner) : TComponent(owner) { font_.SetName(""); }

void TReportControl::SetBounds(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
}

std::string TReportDBText::PrintedText(TReport&) const {
  if (dataset_ == nullptr || !dataset_->Active()) return "";
  TField* field = dataset_->FieldByName(data_field_);  // raises naming a missing field
  if (dataset_->IsEmpty()) return "";
  return field->IsBlob() ? field->AsString() : field->DisplayText();
}

std::string TReportSysData::PrintedText(TReport& report) const {
  return DateTimeToStr(report.PrintTime());
}

TReport::TReport(TComponent* owner) : TComponent(owner) { font_.SetName("Arial"); }

TReportLayout TReport::Layout(int dpi) {
  TReportLayout layout;
  const double to_tenths = kTenthsPerInch / dpi;
  QImage device(1, 1, QImage::Format_RGB32);
  device.setDotsPerMeterX(static_cast<int>(dpi / 0.0254 + 0.5));
  device.setDotsPerMeterY(static_cast<int>(dpi / 0.0254 + 0.5));
  const double bottom = page_.Length - page_.BottomMargin;

  std::vector<TReportControl*> order(controls_);
  std::stable_sort(order.begin(), order.end(), [](TReportControl* a, TReportControl* b) {
    return a->Top() != b->Top() ? a->Top() < b->Top() : !a->Stretches() && b->Stretches();
  });
  int page = 0;
  double shift = 0;        // growth of the stretched texts above, on `page`
  double pushed_from = 0;  // controls from this Top down are moved by `shift`
  for (TReportControl* control : order) {
    const std::string name = control->Font().Name().empty() ? font_.Name() : control->Font().Name();
    const int size = control->Font().Size();
    const bool bold = control->Font().Style().Contains(fsBold);
    const QFontMetricsF metrics(ReportFont(name, size, bold), &device);
    const std::string text = control->PrintedText(*this);
    const double line_height = metrics.lineSpacing() * to_tenths;
    const bool below = control->Top() >= pushed_from;
    const double y = page_.TopMargin + control->Top() + (below ? shift : 0);
    TReportItem item;
    item.Page = below ? page : 0;
    item.Left = page_.LeftMargin + control->Left();
    item.Width = control->Width();
    item.FontName = name;
    item.FontSize = size;
    item.Bold = bold;
    item.Alignment = control->Alignment();
    if (!control->Stretches()) {
      item.Top = y;
      item.Height = std::max<double>(control->Height(), line_height);
      item.Text = text;
      if (control->AutoSize() && control->Alignment() == taLeftJustify) {
        item.Width = std::max(item.Width, metrics.horizontalAdvance(ToQString(text)) * to_tenths);
      }
      layout.Items.push_back(item);
      continue;
    }
    double line_y = y;
    for (const QString& line : WrapLines(ToQString(text), metrics, control->Width() / to_tenths)) {
      if (line_y + line_height > bottom && line_y > page_.TopMargin) {
        ++page;
        line_y = page_.TopMargin;
      }
      item.Page = page;
      item.Top = line_y;
      item.Height = line_height;
      item.Text = FromQString(line);
      layout.Items.push_back(item);
      line_y += line_height;
    }
    const double declared_end = page_.TopMargin + control->Top() + control->Height();
    shift = std::max(0.0, line_y - declared_end);
    if (page > 0) shift = line_y - declared_end;
    pushed_from = control->Top() + control->Height();
  }
  layout.PageCount = page + 1;
  return layout;
}

void TReport::PrintToPdf(const std::string& path) {
  const QString target = ToQString(path);
  const QString partial = target + ".part";
  const int dpi = 300;
  const TReportLayout layout = Layout(dpi);
  bool written = false;
  {
    QPdfWriter pdf(partial);
    pdf.setResolution(dpi);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    if (painter.begin(&pdf)) {
      for (int page = 0; page < layout.PageCount; ++page) {
        if (page > 0) pdf.newPage();
        DrawReportPage(painter, layout, page, dpi, band_color_, page_.Width, page_.Length);
      }
      written = painter.end();
    }
  }
  if (written) {
    QFile::remove(target);
    written = QFile::rename(partial, target);
  }
  if (!written) {
    QFile::remove(partial);
    throw EReportError(
        "Impossible d'\xE9"
        "crire le fichier PDF \"" +
        path + "\"");
  }
}

void TReport::SavePageImage(int page, int dpi, const std::string& path) {
  const TReportLayout layout = Layout(dpi);
  const double scale = dpi / kTenthsPerInch;
  QImage image(static_cast<int>(page_.Width * scale + 0.5),
               static_cast<int>(page_.Length * scale + 0.5), QImage::Format_RGB32);
  image.setDotsPerMeterX(static_cast<int>(dpi / 0.0254 + 0.5));
  image.setDotsPerMeterY(static_cast<int>(dpi / 0.0254 + 0.5));
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    DrawReportPage(painter, layout, page, dpi, band_color_, page_.Width, page_.Length);
  }
  if (!image.save(ToQString(path), "PNG")) {
    throw EReportError(
        "Impossible d'\xE9"
        "crire l'image \"" +
        path + "\"");
  }
}

void TReport::Print() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setFullPage(true);
  printer.setCopyCount(copies_);
  QPrintDialog dialog(&printer);
  if (dialog.exec() != QDialog::Accepted) return;
  const int dpi = printer.resolution();
  const TReportLayout layout = Layout(dpi);
  QPainter painter;
  if (!painter.begin(&printer)) throw EReportError("Impossible d'imprimer le rapport");
  for (int page = 0; page < layout.PageCount; ++page) {
    if (page > 0) printer.newPage();
    DrawReportPage(painter, layout, page, dpi, band_color_, page_.Width, page_.Length);
  }
  painter.end();
}

namespace {

// The preview's page: the report's page drawn at the screen's 96 dpi times the zoom.
class TPreviewPage : public TCustomControl {
 public:
  TPreviewPage(TComponent* owner, TReport* report) : TCustomControl(owner), report_(report) {
    layout_ = report_->Layout(96);
  }
  int page = 0;
  int zoom = 100;
  const TReportLayout& LayoutOf() const { return layout_; }
  void Fit() {
    const double scale = 96.0 * zoom / 100 / kTenthsPerInch;
    SetBounds(0, 0, static_cast<int>(report_->Page().Width * scale),
              static_cast<int>(report_->Page().Length * scale));
    Invalidate();
  }

 protected:
  void Paint() override {
    QPainter painter(WidgetOf(this));
    painter.scale(zoom / 100.0, zoom / 100.0);
    DrawReportPage(painter, layout_, page, 96, report_->BandColor(), report_->Page().Width,
                   report_->Page().Length);
  }

 private:
  TReport* report_;
  TReportLayout layout_;
};

}  // namespace

void TReport::Preview() {
  auto form = std::unique_ptr<TForm>(Create<TForm>(nullptr));
  form->SetCaption("Aper\xE7u avant impression");
  form->SetBounds(0, 0, 860, 700);
  form->SetPosition(poScreenCenter);
  auto* sheet = new TPreviewPage(form.get(), this);
  sheet->SetParent(form.get());
  // The page scrolls under the buttons' row: at 100 % an A4 page is taller than the window.
  auto* area = new QScrollArea(WidgetOf(form.get()));
  area->setFrameShape(QFrame::NoFrame);
  area->setWidget(WidgetOf(sheet));
  const auto place_area = [f = form.get(), area] {
    const TRect client = f->ClientRect();
    area->setGeometry(0, 40, client.Width(), std::max(client.Height() - 40, 0));
  };
  place_area();
  form->SetOnResize([place_area](TObject*) { place_area(); });
  sheet->Fit();
  auto* status = new TLabel(form.get());
  status->SetParent(form.get());
  status->SetBounds(420, 12, 200, 16);
  auto show = [sheet, status] {
    status->SetCaption("Page " + std::to_string(sheet->page + 1) + " / " +
                       std::to_string(sheet->LayoutOf().PageCount) + "   " +
                       std::to_string(sheet->zoom) + " %");
    sheet->Fit();
  };
  struct Action {
    const char* caption;
    std::function<void()> run;
  };
  const Action actions[] = {
      {"<",
       [sheet, show] {
         sheet->page = std::max(sheet->page - 1, 0);
         show();
       }},
      {">",
       [sheet, show] {
         sheet->page = std::min(sheet->page + 1, sheet->LayoutOf().PageCount - 1);
         show();
       }},
      {"-",
       [sheet, show] {
         sheet->zoom = std::max(sheet->zoom - 25, 25);
         show();
       }},
      {"+",
       [sheet, show] {
         sheet->zoom = std::min(sheet->zoom + 25, 400);
         show();
       }},
      {"Imprimer", [this] { Print(); }},
      {"PDF",
       [this] {
         const std::string path = FromQString(QFileDialog::getSaveFileName(
             nullptr, ToQString("Enregistrer en PDF"), QString(), ToQString("PDF (*.pdf)")));
         if (!path.empty()) PrintToPdf(path);
       }},
      {"Fermer", [f = form.get()] { f->SetModalResult(mrCancel); }},
  };
  int left = 8;
  for (const Action& action : actions) {
    auto* button = new TButton(form.get());
    button->SetParent(form.get());
    button->SetCaption(action.caption);
    const int width = std::string(action.caption).size() > 2 ? 70 : 30;
    button->SetBounds(left, 8, width, 25);
    left += width + 4;
    std::function<void()> run = action.run;
    button->SetOnClick([run](TObject*) { run(); });
    if (std::string(action.caption) == "Fermer") button->SetCancel(true);
  }
  show();
  form->ShowModal();
}

}  // namespace cl
