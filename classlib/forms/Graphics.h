// Colours, fonts, brushes, pens, the canvas and the images: what the program paints with.
//
// TColor is 0x00BBGGRR; a system colour is 0x80000000 | index, resolved through one table
// (ColorToRGB) to the classic light scheme, so that drawings do not depend on the desktop theme.
// clNone and clDefault are markers, never painted.
//
// A TCanvas draws on a bitmap at any time, or on a control during its Paint; outside Paint a
// control's canvas only measures text.  Text is Windows-1252.  Font names the forms give are
// substituted when the machine lacks them: "Arial" by Liberation Sans when installed (same metrics), else DejaVu Sans;
// "MS Sans Serif" by DejaVu Sans.
//
// Images: TBitmap holds 32-bit pixels (or a monochrome mask), loads BMP or PNG resources, and may
// draw transparently (the transparent colour, or its bottom-left pixel's).  TIcon keeps the bytes
// it was loaded from verbatim (they are saved back unchanged) and decodes them with the toolkit's
// icon reader; bytes it cannot decode make an empty icon.  TCustomImageList holds equally sized
// images with their masks.
//
// Threads: GUI thread only, except that a TIcon may be copied on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/forms/Types.h"
#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Streams.h"
#include "classlib/rtl/TComponent.h"
#include "classlib/rtl/TSet.h"

namespace cl {

using TColor = int32_t;

// clang-format off
constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF,
                 clMoneyGreen = 0xC0DCC0, clNone = 0x1FFFFFFF, clDefault = 0x20000000;

constexpr TColor SystemColor(int index) { return static_cast<TColor>(0x80000000u | index); }
constexpr TColor clScrollBar = SystemColor(0), clBackground = SystemColor(1),
                 clActiveCaption = SystemColor(2), clInactiveCaption = SystemColor(3),
                 clMenu = SystemColor(4), clWindow = SystemColor(5), clWindowFrame = SystemColor(6),
                 clMenuText = SystemColor(7), clWindowText = SystemColor(8),
                 clCaptionText = SystemColor(9), clActiveBorder = SystemColor(10),
                 clInactiveBorder = SystemColor(11), clAppWorkSpace = SystemColor(12),
                 clHighlight = SystemColor(13), clHighlightText = SystemColor(14),
                 clBtnFace = SystemColor(15), clBtnShadow = SystemColor(16),
                 clGrayText = SystemColor(17), clBtnText = SystemColor(18),
                 clInactiveCaptionText = SystemColor(19), clBtnHighlight = SystemColor(20),
                 cl3DDkShadow = SystemColor(21), cl3DLight = SystemColor(22),
                 clInfoText = SystemColor(23), clInfoBk = SystemColor(24);
// clang-format on

// The 0x00BBGGRR value of a colour (system colours through the table).
int32_t ColorToRGB(TColor color);
inline int GetRValue(int32_t rgb) { return rgb & 0xFF; }
inline int GetGValue(int32_t rgb) { return (rgb >> 8) & 0xFF; }
inline int GetBValue(int32_t rgb) { return (rgb >> 16) & 0xFF; }
inline int32_t RGB(int r, int g, int b) { return r | (g << 8) | (b << 16); }

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;

// A font: the name as the program knows it, the size in points (or the height in pixels,
// negative for a character height without the internal leading), the colour and styles.
class TFont : public TPersistent {
 public:
  TFont() = default;
  void Assign(const TPersistent* source) override;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  int Size() const { return size_; }
  void SetSize(int size);
  // Pixels at 96 per inch: -Size * 96 / 72.
  int Height() const { return -(size_ * 96 + 36) / 72; }
  void SetHeight(int height);
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles style);

  const TNotifyEvent& OnChange() const { return on_change_; }
  void SetOnChange(TNotifyEvent handler) { on_change_ = std::move(handler); }

 private:
  void Changed();

  std::string name_ = "MS Sans Serif";
  int size_ = 8;
  TColor color_ = clWindowText;
  TFontStyles style_;
  TNotifyEvent on_change_;
};

enum TBrushStyle { bsSolid, bsClear };
class TBrush : public TPersistent {
 public:
  void Assign(const TPersistent* source) override;
  TColor Color() const { return color_; }
  void SetColor(TColor color) { color_ = color; }
  TBrushStyle Style() const { return style_; }
  void SetStyle(TBrushStyle style) { style_ = style; }

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
};

enum TPenStyle { psSolid, psDash, psDot, psClear };
class TPen : public TPersistent {
 public:
  void Assign(const TPersistent* source) override;
  TColor Color() const { return color_; }
  void SetColor(TColor color) { color_ = color; }
  int Width() const { return width_; }
  void SetWidth(int width) { width_ = width < 1 ? 1 : width; }
  TPenStyle Style() const { return style_; }
  void SetStyle(TPenStyle style) { style_ = style; }

 private:
  TColor color_ = clBlack;
  int width_ = 1;
  TPenStyle style_ = psSolid;
};

// DrawText flags.
// clang-format off
constexpr unsigned DT_LEFT = 0x0, DT_CENTER = 0x1, DT_RIGHT = 0x2, DT_VCENTER = 0x4,
                   DT_BOTTOM = 0x8, DT_WORDBREAK = 0x10, DT_SINGLELINE = 0x20,
                   DT_CALCRECT = 0x400, DT_NOPREFIX = 0x800;
// Raster operations of CopyRect-style transfers.
constexpr uint32_t SRCCOPY = 0x00CC0020;
// With a monochrome mask as source: where the mask is white the destination stays, where it is
// black the brush colour is painted (the embossed drawing of disabled images).
constexpr uint32_t ROP_DSPDxax = 0x00E20746;
// clang-format on

// A font's vertical measures in pixels.
struct TTextMetric {
  int tmHeight = 0;  // ascent + descent
  int tmAscent = 0;
  int tmDescent = 0;
  int tmExternalLeading = 0;
  int tmAveCharWidth = 0;
  int tmMaxCharWidth = 0;
};

class TGraphic;
class TBitmap;
struct TCanvasImpl;

class TCanvas : public TPersistent {
 public:
  TCanvas();
  ~TCanvas() override;

  TFont& Font() { return font_; }
  TBrush& Brush() { return brush_; }
  TPen& Pen() { return pen_; }
  TPoint PenPos() const { return pen_pos_; }

  void MoveTo(int x, int y) { pen_pos_ = {x, y}; }
  void LineTo(int x, int y);
  void FillRect(const TRect& rect);
  void FrameRect(const TRect& rect);
  // Outline with the pen, inside filled with the brush; right and bottom are excluded.
  void Rectangle(int left, int top, int right, int bottom);
  void TextOut(int x, int y, const std::string& text);
  // The text clipped to `rect`, starting at (x, y); the brush fills the rectangle first.
  void TextRect(const TRect& rect, int x, int y, const std::string& text);
  int TextWidth(const std::string& text);
  int TextHeight(const std::string& text);
  TTextMetric TextMetrics();
  // Draws `text` in `rect` with DT_ flags and returns the text's height; with DT_CALCRECT only
  // measures, setting the rectangle's right and bottom to what the text needs.  Without
  // DT_NOPREFIX a single "&" underlines the next character.
  int DrawText(const std::string& text, TRect& rect, unsigned flags);
  void Draw(int x, int y, const TGraphic& graphic);
  void StretchDraw(const TRect& rect, const TGraphic& graphic);
  // Copies part of a bitmap with a raster operation (SRCCOPY or ROP_DSPDxax); REQUIRES: for
  // ROP_DSPDxax the source is a monochrome mask.
  void BitBlt(int x, int y, int width, int height, const TBitmap& source, int source_x,
              int source_y, uint32_t rop);

  // The colour of a pixel (clNone outside the surface, or on a control's canvas).
  TColor Pixels(int x, int y) const;
  void SetPixel(int x, int y, TColor color);

  // True while drawing goes somewhere (a bitmap, or a control inside Paint).
  bool CanDraw() const;

  TCanvasImpl* Impl() const { return impl_.get(); }

 private:
  std::unique_ptr<TCanvasImpl> impl_;
  TFont font_;
  TBrush brush_;
  TPen pen_;
  TPoint pen_pos_;
};

// A picture a canvas can draw.
class TGraphic : public TPersistent {
 public:
  virtual bool Empty() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent) { transparent_ = transparent; }
  // Fired when the picture changes as a whole (Assign, a load, a new size, monochrome).
  const TNotifyEvent& OnChange() const { return on_change_; }
  void SetOnChange(TNotifyEvent handler) { on_change_ = std::move(handler); }

 protected:
  void Changed() {
    if (on_change_) {
      TNotifyEvent handler = on_change_;
      handler(this);
    }
  }

 private:
  bool transparent_ = false;
  TNotifyEvent on_change_;
};

struct TBitmapImpl;
struct TIconImpl;

enum TTransparentMode { tmAuto, tmFixed };

class TBitmap : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;
  void Assign(const TPersistent* source) override;

  bool Empty() const override;
  int Width() const override;
  int Height() const override;
  void SetWidth(int width) { SetSize(width, Height()); }
  void SetHeight(int height) { SetSize(Width(), height); }
  // New pixels are white.
  void SetSize(int width, int height);
  TCanvas& Canvas();

  // Loads a BMP or PNG resource; raises EResNotFound when there is none, EInvalidGraphic when
  // its bytes are no image.
  void LoadFromResourceName(const std::string& name);
  void LoadFromStream(TStream& stream);

  // A monochrome bitmap is black and white only; making a colour bitmap monochrome keeps white
  // as white and turns every other colour black.
  bool Monochrome() const { return monochrome_; }
  void SetMonochrome(bool monochrome);
  // The mask of this bitmap: white where a pixel has `background`'s colour, black elsewhere.
  void MakeMask(TColor background, TBitmap& mask) const;

  // tmAuto: the bottom-left pixel's colour; tmFixed: TransparentColor as set.
  TTransparentMode TransparentMode() const { return transparent_mode_; }
  void SetTransparentMode(TTransparentMode mode) { transparent_mode_ = mode; }
  TColor TransparentColor() const;
  void SetTransparentColor(TColor color);

  TBitmapImpl* Impl() const { return impl_.get(); }

 private:
  std::unique_ptr<TBitmapImpl> impl_;
  std::unique_ptr<TCanvas> canvas_;
  bool monochrome_ = false;
  TTransparentMode transparent_mode_ = tmAuto;
  TColor transparent_color_ = clFuchsia;
};

class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

class TIcon : public TGraphic {
 public:
  TIcon();
  ~TIcon() override;
  TIcon(const TIcon& other);
  TIcon& operator=(const TIcon& other);
  void Assign(const TPersistent* source) override;

  bool Empty() const override;
  int Width() const override;
  int Height() const override;

  void LoadFromStream(TStream& stream);
  void LoadFromResourceName(const std::string& name);
  void LoadFromBytes(const std::vector<uint8_t>& bytes);
  // The bytes exactly as loaded.
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  void SaveToStream(TStream& stream) const;

  TIconImpl* Impl() const { return impl_.get(); }

 private:
  std::vector<uint8_t> bytes_;
  std::unique_ptr<TIconImpl> impl_;
};

// Equally sized images, each with a mask (white = transparent).
class TCustomImageList : public TComponent {
 public:
  explicit TCustomImageList(TComponent* owner);
  ~TCustomImageList() override;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Clears the list.
  void SetSize(int width, int height);
  int Count() const { return static_cast<int>(images_.size()); }
  // Adds the images of `image` (several side by side when it is wider), with `mask` (or none);
  // returns the first new index.
  int Add(const TBitmap& image, const TBitmap* mask);
  // The same, the mask made from `mask_color`.
  int AddMasked(const TBitmap& image, TColor mask_color);
  // Puts the first image of `image` in place of an entry, its mask made from `mask_color`.
  void ReplaceMasked(int index, const TBitmap& image, TColor mask_color);
  void Delete(int index);
  void Clear();
  // Draws an entry; a disabled one is embossed in the button shadow colour.
  void Draw(TCanvas& canvas, int x, int y, int index, bool enabled = true) const;
  // Draws an entry's mask in black and white.
  void DrawMask(TCanvas& canvas, int x, int y, int index) const;
  void GetBitmap(int index, TBitmap& bitmap) const;

 private:
  struct Entry {
    std::unique_ptr<TBitmap> image;
    std::unique_ptr<TBitmap> mask;
  };
  int width_ = 16;
  int height_ = 16;
  std::vector<Entry> images_;
};

}  // namespace cl
