// Caption lines and the date/time stamp drawn on a photograph, inked through a mask.
#pragma once

#include <array>
#include <cstdint>

#include <QDateTime>
#include <QImage>
#include <QLocale>
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

// The time of day as the locale writes it on a clock: hours, minutes and seconds in its
// digits, with its day-period marker ("下午", "PM") where it uses a 12-hour clock, and
// nothing else: no time zone, no unit words, no literal text of its formats.
QString ClockText(const QTime& time, const QLocale& locale);

// The date/time stamp: the locale's short date, then the clock time (ClockText); with
// both, the time and its space are left out at exactly midnight. Empty with neither.
QString StampText(const QDateTime& now, bool printDate, bool printTime,
                  const QLocale& locale = QLocale::system());

// The caption's mask for a photo of `size` (Format_RGB32): white, with the laid-out lines
// and the stamp drawn without anti-aliasing in `fontColor`, so that a pixel is either
// untouched or ink. The stamp keeps the layout's place where it fits; a stamp that would
// run past the right or bottom edge moves left or up just enough, never past the left or
// top edge. A null image when nothing is drawn or memory is short. Drawing failures are
// absorbed: what was drawn before them stays.
QImage CaptionMask(QSize size, const TCaptionLines& lines, bool printDate, bool printTime,
                   uint32_t fontColor, const QDateTime& now,
                   const QLocale& locale = QLocale::system());

// Draws the caption on a white mask of the photo's size and inks the photo through it.
void DrawCaption(QImage& photo, const TCaptionLines& lines, bool printDate, bool printTime,
                 uint32_t fontColor, const QDateTime& now,
                 const QLocale& locale = QLocale::system());

// Every photo pixel under a non-white mask pixel becomes black when its blue component
// is above 128, white otherwise. The mask has the photo's size (Format_RGB32).
void InkThroughMask(QImage& photo, const QImage& mask);

}  // namespace PhotoPipeline
