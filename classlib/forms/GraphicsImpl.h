// The link between the painting classes and the toolkit, for the visual layer's .cpp files only.
// The toolkit types are only declared here: this header includes nothing of Qt.
#pragma once

#include "classlib/forms/Graphics.h"

class QColor;
class QFont;
class QImage;
class QPainter;

namespace cl {

QColor ToQColor(TColor color);
// The toolkit font of a TFont, with the font substitutions applied.
QFont ToQFont(const TFont& font);
// The pixels of a bitmap or icon (ARGB32).
QImage& BitmapImage(const TBitmap& bitmap);
const QImage& IconImage(const TIcon& icon);
// Lends a control's painter to its canvas for the time of one Paint.
void BeginControlPaint(TCanvas& canvas, QPainter* painter);
void EndControlPaint(TCanvas& canvas);

}  // namespace cl
