// The print sheet: copies of an identity photo at their real size on a 6-inch or A4 sheet
// at 300 dots per inch, with thin grey cut marks and a white margin.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVector>

namespace PrintSheet {

constexpr int kDpi = 300;
// 152 x 102 mm, landscape.
constexpr QSize kSheetSize{1800, 1200};
// 25 x 35 mm and 35 x 49 mm at 300 dpi.
constexpr QSize kOneInch{295, 413};
constexpr QSize kTwoInch{413, 579};
// White border kept clear of photos, and the gap between neighbouring photos in which
// the cut marks run.
constexpr int kMargin = 30;
constexpr int kGap = 20;
constexpr int kMarkLength = 12;
constexpr QRgb kMarkColour = 0xFFA0A0A0;

// A4 portrait, 210 x 297 mm.
constexpr QSize kA4Size{2480, 3508};

// The pixels on the sheet of a picture of `pixels` meant to print at `dpi`: its real size
// at kDpi. The same pixels when `dpi` is kDpi.
QSize RealSize(QSize pixels, int dpi);

// "6 英寸相纸 (152 x 102 mm)" or "A4 纸 (210 x 297 mm)" for a sheet of that size, else
// its millimetres alone.
QString PaperName(QSize sheetSize);

// Where the copies of a photo of `photoSize` go on a sheet of `sheetSize`: as many as fit
// in a grid, the grid centred. Empty when not even one fits.
QVector<QRect> Layout(QSize photoSize, QSize sheetSize = kSheetSize);

// The sheet with `photo` at every place of Layout(photo.size()), cut marks along every
// photo edge, white elsewhere. Format_BGR888.
QImage Compose(const QImage& photo);

// Compose on a sheet of `sheetSize`, with the photo turned a quarter when more copies fit
// that way. `copies` receives how many there are.
QImage ComposeOn(const QImage& photo, QSize sheetSize, int* copies = nullptr);

}  // namespace PrintSheet
