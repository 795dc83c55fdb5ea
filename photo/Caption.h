// Caption lines and the date/time stamp drawn on a photograph, inked through a mask.
#pragma once

#include <array>
#include <cstdint>

#include <QDateTime>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QVector>

namespace PhotoPipeline {

// The five caption lines, Line1 first.
using TCaptionLines = std::array<QString, 5>;

// Where and in what the caption goes on a photo of a given width.
struct TCaptionLayout {
    QString FontName;  // the face the caption asks for ("宋体" or "Small Fonts")
    int PixelSize;     // character height at 96 pixels per inch
    struct TLine {
        int Index;  // 0 for Line1 ... 4 for Line5
        QPoint TopLeft;
    };
    QVector<TLine> Lines;
    QPoint StampOffsetBoth;  // (dx, dy) when date and time are both stamped
    QPoint StampOffsetOne;   // (dx, dy) when only one of them is
};
TCaptionLayout CaptionLayout(int photoWidth);

// The installed family that stands in for a face a caption asks for: a Song/Ming face
// for "宋体", a small sans face for "Small Fonts". Also registers both as font
// substitutions so that any QFont asking for them by name lands on the same faces.
QString ResolveCaptionFamily(const QString& fontName);

// The date/time stamp: short date, long time (hours, minutes, seconds, no time zone);
// with both, the time and its space are left out at exactly midnight. Empty with neither.
QString StampText(const QDateTime& now, bool printDate, bool printTime);

// Draws the caption on a white mask of the photo's size and inks the photo through it.
// Drawing failures are absorbed: what was drawn before them is still inked.
void DrawCaption(QImage& photo, const TCaptionLines& lines, bool printDate, bool printTime,
                 uint32_t fontColor, const QDateTime& now);

// Every photo pixel under a non-white mask pixel becomes black when its blue component
// is above 128, white otherwise. The mask has the photo's size (Format_RGB32).
void InkThroughMask(QImage& photo, const QImage& mask);

}  // namespace PhotoPipeline
