// The identity-photo steps.
#include "photocut/IdPhoto.h"

#include <cmath>

#include <QStringList>

#include "photo/Scale.h"
#include "photocut/IdBackground.h"

namespace IdPhoto {

TIdPhotoFraming Locate(const QImage& photo, const TIdPhotoStandard& standard) {
    TIdPhotoFraming framing;
    framing.Face = FaceFinder::Find(photo);
    if (!framing.Face.Error.isEmpty()) {
        framing.Error = framing.Face.Error;
        return framing;
    }
    if (!framing.Face.Found()) {
        framing.Error = kNoFace;
        return framing;
    }
    framing.Head = IdPhotoFraming::MeasureHead(photo, framing.Face);
    framing.Frame = IdPhotoFraming::FrameHead(framing.Head, standard);
    return framing;
}

TIdPhotoCut Cut(const QImage& photo, const TIdFrame& frame, QSize pixels, const QRectF& face,
                std::optional<QRgb> background) {
    TIdPhotoCut cut;
    const QRect area(int(std::lround(frame.Crop.left())), int(std::lround(frame.Crop.top())),
                     std::max(1, int(std::lround(frame.Crop.width()))),
                     std::max(1, int(std::lround(frame.Crop.height()))));
    QImage picture = IdPhotoFraming::TurnedArea(photo, frame.Pivot, frame.Rotation, area);
    if (picture.isNull()) {
        return cut;
    }
    const QPointF centre = IdPhotoFraming::Straightened(frame, face.center());
    const QRectF faceInArea(centre.x() - face.width() / 2 - area.left(),
                            centre.y() - face.height() / 2 - area.top(), face.width(),
                            face.height());
    const double sx = double(pixels.width()) / area.width();
    const double sy = double(pixels.height()) / area.height();
    cut.FaceInCut = QRectF(faceInArea.left() * sx, faceInArea.top() * sy,
                           faceInArea.width() * sx, faceInArea.height() * sy);
    cut.Enlargement = double(pixels.height()) / area.height();
    // The background is told from the person where the picture is sharpest and smallest:
    // before an enlargement, after a reduction.
    const bool enlarging = cut.Enlargement > 1;
    if (background && enlarging) {
        cut.BackgroundChanged =
            IdBackground::Replace(picture, *background, faceInArea, cut.BackgroundRefused);
    }
    if (!PhotoPipeline::ScalePhoto(picture, pixels.width(), pixels.height())) {
        return cut;
    }
    if (background && !enlarging) {
        cut.BackgroundChanged =
            IdBackground::Replace(picture, *background, cut.FaceInCut, cut.BackgroundRefused);
    }
    cut.Picture = picture;
    const QRectF inside = QRectF(photo.rect()).adjusted(-0.5, -0.5, 0.5, 0.5);
    for (const QPointF corner : {QPointF(area.topLeft()), QPointF(area.topRight()),
                                 QPointF(area.bottomLeft()), QPointF(area.bottomRight())}) {
        cut.Extended |= !inside.contains(IdPhotoFraming::Unstraightened(frame, corner));
    }
    return cut;
}

QString Remarks(const TIdPhotoFraming& framing, const TIdPhotoCut& cut) {
    QStringList parts;
    if (framing.Face.Count > 1) {
        parts << QStringLiteral("检测到 %1 张人脸, 已取最大的一张").arg(framing.Face.Count);
    }
    if (framing.Frame.Rotation != 0) {
        parts << QStringLiteral("头部已扶正 %1°").arg(-framing.Frame.Rotation, 0, 'f', 1);
    }
    if (!framing.Head.CrownSeen) {
        parts << QStringLiteral("未看清头顶, 按脸的比例估计");
    }
    if (cut.Enlargement > 1.0001) {
        parts << QStringLiteral("照片像素不足, 已放大 %1 倍").arg(cut.Enlargement, 0, 'f', 2);
    }
    if (cut.Extended) {
        parts << QStringLiteral("取景超出照片边缘, 以边缘像素补足");
    }
    return parts.join(QStringLiteral("; "));
}

TMade Make(const QImage& photo, const TIdPhotoRequest& request) {
    TMade made;
    made.Framing = Locate(photo, request.Standard);
    if (!made.Framing.Ok()) {
        made.Error = made.Framing.Error;
        return made;
    }
    made.Cut = Cut(photo, made.Framing.Frame, request.Standard.Pixels, made.Framing.Face.Face,
                   request.Background);
    if (made.Cut.Picture.isNull()) {
        made.Error = QStringLiteral("内存不足, 无法裁切");
        return made;
    }
    made.Jpeg = IdPhotoJpeg::Encode(made.Cut.Picture, request.Standard.Dpi, request.MinKb,
                                    request.MaxKb);
    if (!made.Jpeg.Ok()) {
        made.Error = made.Jpeg.Error;
    }
    return made;
}

}  // namespace IdPhoto
