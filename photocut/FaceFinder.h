// Finding the face and its eyes in a photograph, with OpenCV's trained cascades.
// Pure computation: runs on any thread, one search at a time.
#pragma once

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>

struct TFaceFind {
    int Count = 0;        // faces seen; the fields below describe the largest
    QRectF Face;          // its box, in photo pixels
    QPointF LeftEye;      // the eye on the picture's left (the person's right eye)
    QPointF RightEye;
    bool EyesFound = false;  // both eyes seen; else both placed where a face box has them
    QString Error;           // the cascades cannot be read (a broken installation)

    bool Found() const { return Count > 0; }
};

namespace FaceFinder {

// The faces in `photo` (any format; 24-bit ones are read in place). The largest face is
// described, and its eyes searched at the photo's own resolution.
TFaceFind Find(const QImage& photo);

}  // namespace FaceFinder
