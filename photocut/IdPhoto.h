// The steps from a photograph to a stored identity photo, shared by the cutting panel
// and `snapix-shot --id-photo`: find the face, frame it for the standard, cut the frame
// from the photograph's own pixels, change the background, encode within the KB range.
// No widget; every step may run on any thread.
#pragma once

#include <optional>

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QRgb>
#include <QString>

#include "photocut/FaceFinder.h"
#include "photocut/IdPhotoFraming.h"
#include "photocut/IdPhotoJpeg.h"
#include "photocut/IdPhotoStandard.h"

// What the user asks for beyond the standard.
struct TIdPhotoRequest {
    TIdPhotoStandard Standard;
    std::optional<QRgb> Background;  // empty: as photographed
    int MinKb = 0;
    int MaxKb = 0;
};

// Where the face is and how the photograph is framed for the standard.
struct TIdPhotoFraming {
    TFaceFind Face;
    THead Head;
    TIdFrame Frame;
    QString Error;  // "未检测到人脸", or the face finder's own error
    bool Ok() const { return Error.isEmpty(); }
};

// A cut identity photo.
struct TIdPhotoCut {
    QImage Picture;              // the standard's pixels, Format_BGR888; null on failure
    double Enlargement = 1;      // > 1: the photograph held fewer pixels than the cut needs
    bool Extended = false;       // the frame reached past the photograph's edge
    QRectF FaceInCut;            // the face's box in the cut's pixels
    bool BackgroundChanged = false;
    QString BackgroundRefused;   // why the background stayed, when a colour was asked for
};

namespace IdPhoto {

inline const QString kNoFace = QStringLiteral("未检测到人脸");

// Finds the face and frames it.
TIdPhotoFraming Locate(const QImage& photo, const TIdPhotoStandard& standard);

// The frame's rectangle of the straightened photograph at `pixels` (the standard's size, or
// for a print the real size at 300 dpi), resampled with the area-averaging scaler, with the
// wall behind the person in `background` when one is given (and the wall is plain).
// `face` is the face's box in the photograph.
TIdPhotoCut Cut(const QImage& photo, const TIdFrame& frame, QSize pixels, const QRectF& face,
                std::optional<QRgb> background = std::nullopt);

// A sentence for the user about a cut and its face search: several faces, enlargement,
// an extended edge, a crown that had to be assumed. Empty when there is nothing to say.
QString Remarks(const TIdPhotoFraming& framing, const TIdPhotoCut& cut);

// Every step, for snapix-shot: the stored file's bytes, or an error.
struct TMade {
    TIdPhotoFraming Framing;
    TIdPhotoCut Cut;
    TIdJpeg Jpeg;
    QString Error;
    bool Ok() const { return Error.isEmpty(); }
};
TMade Make(const QImage& photo, const TIdPhotoRequest& request);

}  // namespace IdPhoto
