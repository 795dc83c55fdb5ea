// Framing an identity photo from the face: where the chin and the crown are, how much
// the head is tilted, and which rectangle of the straightened photograph makes the
// standard's photo. Pure computation on pictures, no widget: any thread.
#pragma once

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRectF>

#include "photocut/FaceFinder.h"
#include "photocut/IdPhotoStandard.h"

// The head as the photo shows it, in photo pixels.
struct THead {
    QPointF EyeMiddle;
    double EyeDistance = 0;
    double Tilt = 0;  // degrees; positive: the eye line falls to the picture's right
    QPointF Chin;
    QPointF Crown;
    bool CrownSeen = false;  // the hair's top edge was found in the picture
    double FaceWidth = 0;    // cheek to cheek
};

// Geometry of an average adult face in eye distances (centre to centre), used where
// the picture cannot say: the chin below the eye line, the crown above it when the top
// of the hair cannot be seen, the face's width.
constexpr double kChinBelowEyes = 1.7;
constexpr double kCrownAboveEyes = 2.0;
constexpr double kFaceWidthInEyes = 2.1;
// The crown is looked for this far above the eye line, in eye distances: below lies the
// forehead, above there is no head.
constexpr double kCrownSearchLow = 1.5;
constexpr double kCrownSearchHigh = 3.4;

// A head tilted less than this stays as it is; more than the most is turned by the most.
constexpr double kStraightenFrom = 2.0;
constexpr double kStraightenMost = 15.0;

// How an identity photo is cut: the photograph turned by Rotation degrees (clockwise on
// screen) about Pivot, then the rectangle Crop of that straightened photograph.
struct TIdFrame {
    double Rotation = 0;
    QPointF Pivot;
    QRectF Crop;
};

namespace IdPhotoFraming {

// The head of the face found in `photo`: its tilt from the eyes, the chin from the face's
// proportions, the crown where the hair ends against the background above it.
THead MeasureHead(const QImage& photo, const TFaceFind& face);

// The rotation that straightens a head of this tilt: 0 below kStraightenFrom, at most
// kStraightenMost either way.
double StraighteningFor(double tilt);

// The frame that puts the head where the standard wants it: head height and crown margin
// in the middle of the standard's ranges (or the studio composition), face centred left
// to right, eye line level.
TIdFrame FrameHead(const THead& head, const TIdPhotoStandard& standard);

// Where a point of the photograph lies in the straightened one, and back.
QPointF Straightened(const TIdFrame& frame, QPointF photoPoint);
QPointF Unstraightened(const TIdFrame& frame, QPointF straightPoint);

// The pixels of `area` (straightened coordinates) of the photograph turned by `degrees`
// about `pivot`: bilinear where it is turned, a plain copy where it is not; outside the
// photograph its nearest edge pixel repeats. Format_BGR888; null when memory is short or
// the area is empty or over 100 megapixels.
QImage TurnedArea(const QImage& photo, QPointF pivot, double degrees, const QRect& area);

}  // namespace IdPhotoFraming
