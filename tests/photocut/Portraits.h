// Test pictures with a real face: the portrait from the setup script (astronaut.png of
// python3-skimage) scaled, shifted, turned, and set on plain or textured walls, with
// where its eyes, chin and crown truly are.
#pragma once

#include <cmath>
#include <complex>
#include <random>

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QTransform>

#include <gtest/gtest.h>

#include "photocut/FaceFinder.h"
#include "photocut/IdPhotoStandard.h"

// The portrait as it is, or a null picture (the test then fails saying why).
inline QImage Portrait() {
    static const QImage portrait =
        QImage(QStringLiteral(SNAPIX_TEST_PORTRAIT)).convertToFormat(QImage::Format_BGR888);
    return portrait;
}

#define ASSERT_PORTRAIT()                                                              \
    ASSERT_FALSE(Portrait().isNull())                                                 \
        << "the test portrait " SNAPIX_TEST_PORTRAIT " is missing: run scripts/setup.sh"

// Where the portrait's features are (512 x 512 picture), read off the picture by hand
// and by a 68-point landmark model: eye centres, the chin's lowest point, the top of the
// hair.
struct TTruth {
    QPointF LeftEye{203.5, 102.5};
    QPointF RightEye{247, 104.5};
    QPointF Chin{221, 178};
    QPointF Crown{229, 16};
    QRectF Face{190, 85, 72, 80};  // brows to mouth, cheek to cheek
};

// The portrait placed on a canvas: scaled by `scale` about its centre, its centre put at
// `centre`, turned by `degrees` (clockwise) about that centre. `truth` follows along.
struct TPlaced {
    QImage Picture;
    TTruth Truth;
    QTransform Map;  // portrait pixels to canvas pixels
};

inline TPlaced Place(QSize canvas, double scale, QPointF centre, double degrees,
                     QColor wall = QColor(193, 185, 183)) {
    TPlaced placed;
    placed.Map = QTransform()
                     .translate(centre.x(), centre.y())
                     .rotate(degrees)
                     .scale(scale, scale)
                     .translate(-256, -256);
    QImage image(canvas, QImage::Format_RGB32);
    image.fill(wall);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setTransform(placed.Map);
        painter.drawImage(0, 0, Portrait());
    }
    placed.Picture = image.convertToFormat(QImage::Format_BGR888);
    const TTruth t;
    placed.Truth = {placed.Map.map(t.LeftEye), placed.Map.map(t.RightEye), placed.Map.map(t.Chin),
                    placed.Map.map(t.Crown), placed.Map.mapRect(t.Face)};
    return placed;
}

// The person alone: the head with its hair and the suit below, as an outline in portrait
// pixels. Everything outside it is the portrait's studio backdrop, flag and model.
inline QPainterPath PersonOutline() {
    QPainterPath head;
    head.addEllipse(QPointF(226, 98), 78, 88);  // hair and face
    QPainterPath neck;
    neck.addRect(QRectF(185, 140, 85, 70));
    QPainterPath body;
    body.moveTo(120, 512);
    body.lineTo(110, 300);
    body.lineTo(150, 200);
    body.lineTo(300, 200);
    body.lineTo(350, 300);
    body.lineTo(360, 512);
    body.closeSubpath();
    return head.united(neck).united(body);
}

// The person on a wall of one colour with a little sensor noise, or on a wall of coloured
// blocks. `outside` marks the wall's pixels.
struct TComposite {
    QImage Picture;  // Format_BGR888
    QImage Wall;     // Format_Grayscale8: 255 where the wall shows
    TTruth Truth;
};

inline TComposite OnWall(QSize canvas, double scale, QPointF centre, bool textured,
                         QColor wall = QColor(110, 150, 205)) {
    TComposite c;
    const QTransform map = QTransform()
                               .translate(centre.x(), centre.y())
                               .scale(scale, scale)
                               .translate(-256, -256);
    QImage image(canvas, QImage::Format_RGB32);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-3, 3);
    std::uniform_int_distribution<int> shade(40, 230);
    for (int y = 0; y < canvas.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < canvas.width(); ++x) {
            line[x] = qRgb(std::clamp(wall.red() + noise(random), 0, 255),
                           std::clamp(wall.green() + noise(random), 0, 255),
                           std::clamp(wall.blue() + noise(random), 0, 255));
        }
    }
    if (textured) {
        QPainter painter(&image);
        for (int y = 0; y < canvas.height(); y += 24) {
            for (int x = 0; x < canvas.width(); x += 24) {
                painter.fillRect(x, y, 24, 24, QColor(shade(random), shade(random), shade(random)));
            }
        }
    }
    const QPainterPath person = map.map(PersonOutline());
    {
        QPainter painter(&image);
        painter.setClipPath(person);
        painter.setTransform(map);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(0, 0, Portrait());
    }
    c.Picture = image.convertToFormat(QImage::Format_BGR888);
    c.Wall = QImage(canvas, QImage::Format_Grayscale8);
    c.Wall.fill(255);
    {
        QPainter painter(&c.Wall);
        // The outline's own pixels are neither: antialiased, and where the new colour is
        // blended in (a few pixels at the photograph's resolution), they are left out.
        painter.setPen(QPen(Qt::gray, 6 * scale));
        painter.setBrush(Qt::black);
        painter.drawPath(person);
    }
    const TTruth t;
    c.Truth = {map.map(t.LeftEye), map.map(t.RightEye), map.map(t.Chin), map.map(t.Crown),
               map.mapRect(t.Face)};
    return c;
}

// The portrait as an identity photo made from it shows it, known by the photo's own eyes
// (as the face finder sees them): Map carries a point of the portrait (TTruth) into the
// photo by the one turn, scale and shift that lays the true eyes onto the seen ones. For
// photos made along a road whose framing the test cannot see (a camera, a process).
struct TSeenPortrait {
    bool Found = false;
    QPointF LeftEye, RightEye;
    QPointF Map(QPointF portrait) const {
        const TTruth t;
        const auto z = [](QPointF p) { return std::complex<double>(p.x(), p.y()); };
        const std::complex<double> mapped = z(LeftEye) + (z(portrait) - z(t.LeftEye)) *
                                                             (z(RightEye) - z(LeftEye)) /
                                                             (z(t.RightEye) - z(t.LeftEye));
        return QPointF(mapped.real(), mapped.imag());
    }
    double TiltDegrees() const {
        return std::atan2(RightEye.y() - LeftEye.y(), RightEye.x() - LeftEye.x()) * 180 / M_PI;
    }
};

inline TSeenPortrait SeenPortrait(const QImage& photo) {
    const TFaceFind found = FaceFinder::Find(photo);
    return {found.Found() && found.EyesFound, found.LeftEye, found.RightEye};
}

// The mean brightness (0..255) of the square of `photo` of half side `radius` about `centre`.
inline double MeanLuma(const QImage& photo, QPointF centre, int radius) {
    double sum = 0;
    int count = 0;
    for (int y = int(centre.y()) - radius; y <= int(centre.y()) + radius; ++y) {
        for (int x = int(centre.x()) - radius; x <= int(centre.x()) + radius; ++x) {
            if (photo.rect().contains(x, y)) {
                sum += qGray(photo.pixel(x, y));
                ++count;
            }
        }
    }
    return count ? sum / count : 0;
}

// An identity photo of `standard` made from the portrait along a road whose framing the
// test cannot see: the head's height and the crown's margin inside the standard's ranges
// (a little wider, for eyes found to a pixel or two), the face centred and level.
inline void ExpectFramed(const QImage& photo, const TIdPhotoStandard& standard) {
    ASSERT_EQ(photo.size(), standard.Pixels);
    const TSeenPortrait seen = SeenPortrait(photo);
    ASSERT_TRUE(seen.Found) << "no eyes seen in the identity photo";
    const TTruth t;
    const double height = photo.height();
    const double crown = seen.Map(t.Crown).y() / height, chin = seen.Map(t.Chin).y() / height;
    const TShareRange head = standard.Head.IsSet() ? standard.Head : IdPhotoStandards::kStudioHead;
    const TShareRange margin =
        standard.Crown.IsSet() ? standard.Crown : IdPhotoStandards::kStudioCrown;
    EXPECT_GE(chin - crown, head.Min - 0.03) << "head";
    EXPECT_LE(chin - crown, head.Max + 0.03) << "head";
    EXPECT_GE(crown, margin.Min - 0.015) << "crown margin";
    EXPECT_LE(crown, margin.Max + 0.015) << "crown margin";
    EXPECT_NEAR((seen.LeftEye.x() + seen.RightEye.x()) / 2, photo.width() / 2.0,
                0.02 * photo.width())
        << "centred";
    EXPECT_LT(std::abs(seen.TiltDegrees()), 2.0) << "level";
}
