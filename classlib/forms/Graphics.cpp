#include "classlib/forms/Graphics.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <algorithm>

#include "classlib/forms/GraphicsImpl.h"
#include "classlib/forms/QtText.h"
#include "classlib/rtl/Resources.h"

namespace cl {

struct TCanvasImpl {
  QImage* image = nullptr;      // a bitmap's canvas
  QPainter* painter = nullptr;  // a control's canvas during Paint
};

struct TBitmapImpl {
  QImage image;
};

struct TIconImpl {
  QImage image;
};

namespace {

// The classic light scheme, index = system colour number, values 0x00BBGGRR.
// clang-format off
constexpr int32_t kSystemColors[] = {
  0xC8C8C8, 0x808000, 0x800000, 0x808080, 0xC0C0C0, 0xFFFFFF, 0x000000, 0x000000,
  0x000000, 0xFFFFFF, 0xC0C0C0, 0xC0C0C0, 0x808080, 0x800000, 0xFFFFFF, 0xC0C0C0,
  0x808080, 0x808080, 0x000000, 0xC0C0C0, 0xFFFFFF, 0x000000, 0xDFDFDF, 0x000000,
  0xE1FFFF,
};
// clang-format on

QString SubstitutedFamily(const std::string& name) {
  const QString family = ToQString(name);
  const QString lower = family.toLower();
  if (lower == "arial") {
    return QFontDatabase::families().contains("Liberation Sans") ? QString("Liberation Sans")
                                                                 : QString("DejaVu Sans");
  }
  if (lower == "ms sans serif") return "DejaVu Sans";
  return family;
}

// Runs `paint` with a painter on the canvas's surface; nothing without one.
template <class F>
void WithPainter(TCanvasImpl* impl, F&& paint) {
  if (impl->painter != nullptr) {
    impl->painter->save();
    paint(*impl->painter);
    impl->painter->restore();
    return;
  }
  if (impl->image == nullptr || impl->image->isNull()) return;
  QPainter painter(impl->image);
  paint(painter);
}

void ApplyPen(QPainter& painter, const TPen& pen) {
  if (pen.Style() == psClear) {
    painter.setPen(Qt::NoPen);
    return;
  }
  QPen qpen(ToQColor(pen.Color()));
  qpen.setWidth(pen.Width());
  qpen.setStyle(pen.Style() == psDash  ? Qt::DashLine
                : pen.Style() == psDot ? Qt::DotLine
                                       : Qt::SolidLine);
  painter.setPen(qpen);
}

// The width a line shows: a single "&" is not drawn, "&&" is drawn once.
int ShownWidth(const QFontMetrics& metrics, const QString& line, bool prefix) {
  if (!prefix) return metrics.horizontalAdvance(line);
  QString shown;
  for (qsizetype i = 0; i < line.size(); ++i) {
    if (line[i] == '&') {
      ++i;
      if (i >= line.size()) break;
    }
    shown += line[i];
  }
  return metrics.horizontalAdvance(shown);
}

// Splits text into the lines DrawText shows: at line breaks, and with DT_WORDBREAK between
// words where the next word would pass `width` (a word wider than that stays whole).
std::vector<QString> LayoutLines(const QFontMetrics& metrics, const QString& text, int width,
                                 unsigned flags, bool prefix) {
  std::vector<QString> lines;
  const QStringList paragraphs = (flags & DT_SINGLELINE)
                                     ? QStringList{QString(text).replace('\n', ' ').remove('\r')}
                                     : QString(text).remove('\r').split('\n');
  for (const QString& paragraph : paragraphs) {
    if (!(flags & DT_WORDBREAK) || (flags & DT_SINGLELINE)) {
      lines.push_back(paragraph);
      continue;
    }
    QString line;
    for (const QString& word : paragraph.split(' ')) {
      const QString candidate = line.isEmpty() ? word : line + ' ' + word;
      if (!line.isEmpty() && ShownWidth(metrics, candidate, prefix) > width) {
        lines.push_back(line);
        line = word;
      } else {
        line = candidate;
      }
    }
    lines.push_back(line);
  }
  return lines;
}

QImage TransparentCopy(const TBitmap& bitmap) {
  QImage image = BitmapImage(bitmap).convertToFormat(QImage::Format_ARGB32);
  const QRgb key = ToQColor(bitmap.TransparentColor()).rgb();
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if ((line[x] & 0xFFFFFF) == (key & 0xFFFFFF)) line[x] = 0;
    }
  }
  return image;
}

QImage GraphicImage(const TGraphic& graphic) {
  if (auto* bitmap = dynamic_cast<const TBitmap*>(&graphic)) {
    return graphic.Transparent() ? TransparentCopy(*bitmap) : BitmapImage(*bitmap);
  }
  if (auto* icon = dynamic_cast<const TIcon*>(&graphic)) return IconImage(*icon);
  return QImage();
}

}  // namespace

int32_t ColorToRGB(TColor color) {
  if (color < 0) {
    const int index = color & 0xFF;
    return index < static_cast<int>(std::size(kSystemColors)) ? kSystemColors[index] : 0;
  }
  return color & 0xFFFFFF;
}

QColor ToQColor(TColor color) {
  const int32_t rgb = ColorToRGB(color);
  return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

QFont ToQFont(const TFont& font) {
  QFont result(SubstitutedFamily(font.Name()));
  result.setPixelSize(std::max(1, -font.Height()));
  result.setBold(font.Style().Contains(fsBold));
  result.setItalic(font.Style().Contains(fsItalic));
  result.setUnderline(font.Style().Contains(fsUnderline));
  result.setStrikeOut(font.Style().Contains(fsStrikeOut));
  return result;
}

// ---- TFont, TBrush, TPen ----------------------------------------------------------------------

void TFont::Assign(const TPersistent* source) {
  auto* other = dynamic_cast<const TFont*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  name_ = other->name_;
  size_ = other->size_;
  color_ = other->color_;
  style_ = other->style_;
  Changed();
}

void TFont::SetName(const std::string& name) {
  if (name == name_) return;
  name_ = name;
  Changed();
}

void TFont::SetSize(int size) {
  if (size == size_) return;
  size_ = size;
  Changed();
}

void TFont::SetHeight(int height) { SetSize(-(height * 72 - (height < 0 ? 48 : -48)) / 96); }

void TFont::SetColor(TColor color) {
  if (color == color_) return;
  color_ = color;
  Changed();
}

void TFont::SetStyle(TFontStyles style) {
  if (style == style_) return;
  style_ = style;
  Changed();
}

void TFont::Changed() {
  if (on_change_) {
    TNotifyEvent handler = on_change_;
    handler(this);
  }
}

void TBrush::Assign(const TPersistent* source) {
  auto* other = dynamic_cast<const TBrush*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  color_ = other->color_;
  style_ = other->style_;
}

void TPen::Assign(const TPersistent* source) {
  auto* other = dynamic_cast<const TPen*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  color_ = other->color_;
  width_ = other->width_;
  style_ = other->style_;
}

// ---- TCanvas ----------------------------------------------------------------------------------

TCanvas::TCanvas() : impl_(new TCanvasImpl) {}
TCanvas::~TCanvas() = default;

void BeginControlPaint(TCanvas& canvas, QPainter* painter) { canvas.Impl()->painter = painter; }
void EndControlPaint(TCanvas& canvas) { canvas.Impl()->painter = nullptr; }

bool TCanvas::CanDraw() const {
  return impl_->painter != nullptr || (impl_->image != nullptr && !impl_->image->isNull());
}

void TCanvas::LineTo(int x, int y) {
  // The end point is not drawn, so that joined lines paint each pixel once.
  if (x != pen_pos_.X || y != pen_pos_.Y) {
    const QPoint from(pen_pos_.X, pen_pos_.Y);
    const QPoint to(x - ((x > pen_pos_.X) - (x < pen_pos_.X)),
                    y - ((y > pen_pos_.Y) - (y < pen_pos_.Y)));
    WithPainter(impl_.get(), [&](QPainter& p) {
      ApplyPen(p, pen_);
      p.drawLine(from, to);
    });
  }
  pen_pos_ = {x, y};
}

void TCanvas::FillRect(const TRect& rect) {
  if (brush_.Style() == bsClear) return;
  WithPainter(impl_.get(), [&](QPainter& p) {
    p.fillRect(QRect(rect.Left, rect.Top, rect.Width(), rect.Height()), ToQColor(brush_.Color()));
  });
}

void TCanvas::FrameRect(const TRect& rect) {
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  WithPainter(impl_.get(), [&](QPainter& p) {
    const QColor color = ToQColor(brush_.Color());
    p.fillRect(QRect(rect.Left, rect.Top, rect.Width(), 1), color);
    p.fillRect(QRect(rect.Left, rect.Bottom - 1, rect.Width(), 1), color);
    p.fillRect(QRect(rect.Left, rect.Top, 1, rect.Height()), color);
    p.fillRect(QRect(rect.Right - 1, rect.Top, 1, rect.Height()), color);
  });
}

void TCanvas::Rectangle(int left, int top, int right, int bottom) {
  WithPainter(impl_.get(), [&](QPainter& p) {
    const QRect area(left, top, right - left, bottom - top);
    if (brush_.Style() != bsClear) p.fillRect(area, ToQColor(brush_.Color()));
    if (pen_.Style() == psClear) return;
    ApplyPen(p, pen_);
    p.drawRect(area.adjusted(0, 0, -1, -1));
  });
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  WithPainter(impl_.get(), [&](QPainter& p) {
    const QFont font = ToQFont(font_);
    const QFontMetrics metrics(font);
    const QString qtext = ToQString(text);
    if (brush_.Style() != bsClear) {
      p.fillRect(QRect(x, y, metrics.horizontalAdvance(qtext), metrics.height()),
                 ToQColor(brush_.Color()));
    }
    p.setFont(font);
    p.setPen(ToQColor(font_.Color()));
    p.drawText(x, y + metrics.ascent(), qtext);
  });
  pen_pos_ = {x + TextWidth(text), y};
}

void TCanvas::TextRect(const TRect& rect, int x, int y, const std::string& text) {
  WithPainter(impl_.get(), [&](QPainter& p) {
    const QRect area(rect.Left, rect.Top, rect.Width(), rect.Height());
    if (brush_.Style() != bsClear) p.fillRect(area, ToQColor(brush_.Color()));
    p.setClipRect(area);
    const QFont font = ToQFont(font_);
    p.setFont(font);
    p.setPen(ToQColor(font_.Color()));
    p.drawText(x, y + QFontMetrics(font).ascent(), ToQString(text));
  });
}

int TCanvas::TextWidth(const std::string& text) {
  return QFontMetrics(ToQFont(font_)).horizontalAdvance(ToQString(text));
}

int TCanvas::TextHeight(const std::string&) { return QFontMetrics(ToQFont(font_)).height(); }

TTextMetric TCanvas::TextMetrics() {
  const QFontMetrics metrics(ToQFont(font_));
  TTextMetric m;
  m.tmAscent = metrics.ascent();
  m.tmDescent = metrics.descent();
  m.tmHeight = metrics.height();
  m.tmExternalLeading = metrics.leading();
  m.tmAveCharWidth = metrics.averageCharWidth();
  m.tmMaxCharWidth = metrics.maxWidth();
  return m;
}

int TCanvas::DrawText(const std::string& text, TRect& rect, unsigned flags) {
  const QFont font = ToQFont(font_);
  const QFontMetrics metrics(font);
  const bool prefix = !(flags & DT_NOPREFIX);
  const std::vector<QString> lines =
      LayoutLines(metrics, ToQString(text), rect.Width(), flags, prefix);
  // Lines are the font's height apart, without extra leading.
  const int line_height = metrics.height();
  const int height = line_height * static_cast<int>(lines.size());
  if (flags & DT_CALCRECT) {
    int width = 0;
    for (const QString& line : lines) width = std::max(width, ShownWidth(metrics, line, prefix));
    rect.Right = rect.Left + width;
    rect.Bottom = rect.Top + height;
    return height;
  }
  int top = rect.Top;
  if (flags & DT_SINGLELINE) {
    if (flags & DT_VCENTER) top = rect.Top + (rect.Height() - line_height) / 2;
    if (flags & DT_BOTTOM) top = rect.Bottom - line_height;
  }
  WithPainter(impl_.get(), [&](QPainter& p) {
    p.setFont(font);
    p.setPen(ToQColor(font_.Color()));
    p.setClipRect(QRect(rect.Left, rect.Top, rect.Width(), rect.Height()));
    int y = top;
    for (const QString& line : lines) {
      const int width = ShownWidth(metrics, line, prefix);
      int x = rect.Left;
      if (flags & DT_CENTER) x = rect.Left + (rect.Width() - width) / 2;
      if (flags & DT_RIGHT) x = rect.Right - width;
      p.drawText(
          QRect(x, y, width + 1, line_height),
          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | (prefix ? Qt::TextShowMnemonic : 0),
          line);
      y += line_height;
    }
  });
  return height;
}

void TCanvas::Draw(int x, int y, const TGraphic& graphic) {
  if (graphic.Empty()) return;
  const QImage image = GraphicImage(graphic);
  WithPainter(impl_.get(), [&](QPainter& p) { p.drawImage(x, y, image); });
}

void TCanvas::StretchDraw(const TRect& rect, const TGraphic& graphic) {
  if (graphic.Empty()) return;
  const QImage image = GraphicImage(graphic);
  WithPainter(impl_.get(), [&](QPainter& p) {
    p.drawImage(QRect(rect.Left, rect.Top, rect.Width(), rect.Height()), image);
  });
}

void TCanvas::BitBlt(int x, int y, int width, int height, const TBitmap& source, int source_x,
                     int source_y, uint32_t rop) {
  const QImage& from = BitmapImage(source);
  QImage piece =
      from.copy(source_x, source_y, width, height).convertToFormat(QImage::Format_ARGB32);
  if (rop == ROP_DSPDxax) {
    // Black mask pixels take the brush, white ones let the destination through.
    const QRgb brush = ToQColor(brush_.Color()).rgb();
    for (int row = 0; row < piece.height(); ++row) {
      auto* line = reinterpret_cast<QRgb*>(piece.scanLine(row));
      for (int col = 0; col < piece.width(); ++col) {
        line[col] = (line[col] & 0xFFFFFF) == 0xFFFFFF ? 0 : brush;
      }
    }
  }
  WithPainter(impl_.get(), [&](QPainter& p) { p.drawImage(x, y, piece); });
}

TColor TCanvas::Pixels(int x, int y) const {
  if (impl_->image == nullptr || !impl_->image->valid(x, y)) return clNone;
  const QRgb pixel = impl_->image->pixel(x, y);
  return RGB(qRed(pixel), qGreen(pixel), qBlue(pixel));
}

void TCanvas::SetPixel(int x, int y, TColor color) {
  if (impl_->image != nullptr && impl_->image->valid(x, y)) {
    impl_->image->setPixel(x, y, ToQColor(color).rgb());
    return;
  }
  WithPainter(impl_.get(), [&](QPainter& p) {
    p.setPen(ToQColor(color));
    p.drawPoint(x, y);
  });
}

// ---- TBitmap ----------------------------------------------------------------------------------

TBitmap::TBitmap() : impl_(new TBitmapImpl) {}
TBitmap::~TBitmap() = default;

QImage& BitmapImage(const TBitmap& bitmap) { return bitmap.Impl()->image; }

void TBitmap::Assign(const TPersistent* source) {
  auto* other = dynamic_cast<const TBitmap*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  impl_->image = other->impl_->image.copy();
  monochrome_ = other->monochrome_;
  transparent_mode_ = other->transparent_mode_;
  transparent_color_ = other->transparent_color_;
  SetTransparent(other->Transparent());
  Changed();
}

bool TBitmap::Empty() const { return impl_->image.isNull(); }
int TBitmap::Width() const { return impl_->image.width(); }
int TBitmap::Height() const { return impl_->image.height(); }

void TBitmap::SetSize(int width, int height) {
  if (width == Width() && height == Height()) return;
  QImage image(std::max(width, 0), std::max(height, 0), QImage::Format_ARGB32);
  image.fill(Qt::white);
  if (!impl_->image.isNull()) {
    QPainter painter(&image);
    painter.drawImage(0, 0, impl_->image);
  }
  impl_->image = image;
  Changed();
}

TCanvas& TBitmap::Canvas() {
  if (canvas_ == nullptr) {
    canvas_ = std::make_unique<TCanvas>();
    canvas_->Impl()->image = &impl_->image;
  }
  return *canvas_;
}

void TBitmap::LoadFromResourceName(const std::string& name) {
  TResourceStream stream(name);
  LoadFromStream(stream);
}

void TBitmap::LoadFromStream(TStream& stream) {
  QByteArray bytes(static_cast<qsizetype>(stream.Size() - stream.Position()), 0);
  if (!bytes.isEmpty()) stream.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  QImage image;
  if (!image.loadFromData(bytes)) throw EInvalidGraphic("Format d'image inconnu");
  impl_->image = image.convertToFormat(QImage::Format_ARGB32);
  if (monochrome_) SetMonochrome(true);
  Changed();
}

void TBitmap::SetMonochrome(bool monochrome) {
  monochrome_ = monochrome;
  if (!monochrome) return;
  QImage& image = impl_->image;
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      line[x] = (line[x] & 0xFFFFFF) == 0xFFFFFF ? 0xFFFFFFFF : 0xFF000000;
    }
  }
  Changed();
}

void TBitmap::MakeMask(TColor background, TBitmap& mask) const {
  const QRgb key = ToQColor(background).rgb() & 0xFFFFFF;
  QImage image(impl_->image.size(), QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      out[x] = (impl_->image.pixel(x, y) & 0xFFFFFF) == key ? 0xFFFFFFFF : 0xFF000000;
    }
  }
  mask.impl_->image = image;
  mask.monochrome_ = true;
}

TColor TBitmap::TransparentColor() const {
  if (transparent_mode_ == tmFixed || Empty()) return transparent_color_;
  const QRgb pixel = impl_->image.pixel(0, Height() - 1);
  return RGB(qRed(pixel), qGreen(pixel), qBlue(pixel));
}

void TBitmap::SetTransparentColor(TColor color) {
  transparent_color_ = color;
  transparent_mode_ = tmFixed;
}

// ---- TIcon ------------------------------------------------------------------------------------

TIcon::TIcon() : impl_(new TIconImpl) {}
TIcon::~TIcon() = default;
TIcon::TIcon(const TIcon& other) : TGraphic(), bytes_(other.bytes_), impl_(new TIconImpl) {
  impl_->image = other.impl_->image;
}
TIcon& TIcon::operator=(const TIcon& other) {
  if (this != &other) {
    bytes_ = other.bytes_;
    impl_->image = other.impl_->image;
  }
  return *this;
}

const QImage& IconImage(const TIcon& icon) { return icon.Impl()->image; }

void TIcon::Assign(const TPersistent* source) {
  auto* other = dynamic_cast<const TIcon*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  *this = *other;
}

bool TIcon::Empty() const { return impl_->image.isNull(); }
int TIcon::Width() const { return impl_->image.width(); }
int TIcon::Height() const { return impl_->image.height(); }

void TIcon::LoadFromBytes(const std::vector<uint8_t>& bytes) {
  bytes_ = bytes;
  QImage image;
  const QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<qsizetype>(bytes.size()));
  // Undecodable bytes make an empty icon; the bytes are kept all the same.
  if (!image.loadFromData(data, "ICO")) image = QImage();
  impl_->image = image.isNull() ? image : image.convertToFormat(QImage::Format_ARGB32);
}

void TIcon::LoadFromStream(TStream& stream) {
  std::vector<uint8_t> bytes(static_cast<size_t>(stream.Size() - stream.Position()));
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  LoadFromBytes(bytes);
}

void TIcon::LoadFromResourceName(const std::string& name) {
  TResourceStream stream(name);
  LoadFromStream(stream);
}

void TIcon::SaveToStream(TStream& stream) const {
  if (!bytes_.empty()) stream.WriteBuffer(bytes_.data(), static_cast<int32_t>(bytes_.size()));
}

// ---- TCustomImageList -------------------------------------------------------------------------

TCustomImageList::TCustomImageList(TComponent* owner) : TComponent(owner) {}
TCustomImageList::~TCustomImageList() = default;

void TCustomImageList::SetSize(int width, int height) {
  width_ = std::max(width, 1);
  height_ = std::max(height, 1);
  Clear();
}

int TCustomImageList::Add(const TBitmap& image, const TBitmap* mask) {
  const int first = Count();
  const int pieces = std::max(1, image.Width() / width_);
  for (int i = 0; i < pieces; ++i) {
    Entry entry{std::make_unique<TBitmap>(), std::make_unique<TBitmap>()};
    entry.image->SetSize(width_, height_);
    BitmapImage(*entry.image) = BitmapImage(image).copy(i * width_, 0, width_, height_);
    if (mask != nullptr) {
      BitmapImage(*entry.mask) = BitmapImage(*mask).copy(i * width_, 0, width_, height_);
    } else {
      entry.mask->SetSize(width_, height_);
      BitmapImage(*entry.mask).fill(Qt::black);
    }
    entry.mask->SetMonochrome(true);
    images_.push_back(std::move(entry));
  }
  return first;
}

int TCustomImageList::AddMasked(const TBitmap& image, TColor mask_color) {
  TBitmap mask;
  image.MakeMask(mask_color, mask);
  return Add(image, &mask);
}

void TCustomImageList::ReplaceMasked(int index, const TBitmap& image, TColor mask_color) {
  if (index < 0 || index >= Count()) return;
  const int added = AddMasked(image, mask_color);
  images_[static_cast<size_t>(index)] = std::move(images_[static_cast<size_t>(added)]);
  images_.resize(static_cast<size_t>(added));
}

void TCustomImageList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  images_.erase(images_.begin() + index);
}

void TCustomImageList::Clear() { images_.clear(); }

void TCustomImageList::GetBitmap(int index, TBitmap& bitmap) const {
  if (index < 0 || index >= Count()) return;
  bitmap.Assign(images_[static_cast<size_t>(index)].image.get());
}

void TCustomImageList::Draw(TCanvas& canvas, int x, int y, int index, bool enabled) const {
  if (index < 0 || index >= Count()) return;
  const Entry& entry = images_[static_cast<size_t>(index)];
  if (!enabled) {
    // Embossed: the shape in the highlight colour one pixel down-right, then in the shadow.
    const TColor saved = canvas.Brush().Color();
    canvas.Brush().SetColor(clBtnHighlight);
    canvas.BitBlt(x + 1, y + 1, width_, height_, *entry.mask, 0, 0, ROP_DSPDxax);
    canvas.Brush().SetColor(clBtnShadow);
    canvas.BitBlt(x, y, width_, height_, *entry.mask, 0, 0, ROP_DSPDxax);
    canvas.Brush().SetColor(saved);
    return;
  }
  QImage image = BitmapImage(*entry.image).convertToFormat(QImage::Format_ARGB32);
  const QImage& mask = BitmapImage(*entry.mask);
  for (int row = 0; row < image.height() && row < mask.height(); ++row) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
    for (int col = 0; col < image.width() && col < mask.width(); ++col) {
      if ((mask.pixel(col, row) & 0xFFFFFF) == 0xFFFFFF) line[col] = 0;
    }
  }
  TBitmap piece;
  BitmapImage(piece) = image;
  canvas.Draw(x, y, piece);
}

void TCustomImageList::DrawMask(TCanvas& canvas, int x, int y, int index) const {
  if (index < 0 || index >= Count()) return;
  canvas.Draw(x, y, *images_[static_cast<size_t>(index)].mask);
}

}  // namespace cl
