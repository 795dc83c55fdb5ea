// The cutting frame, shown offscreen, with its dialogs answered by the test and its
// photo folder in a temporary directory.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include <QImage>
#include <QRect>
#include <QString>
#include <QTemporaryDir>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include "photocut/CropBox.h"
#include "support/FakePhotoShopDialogs.h"
#include "photocut/PhotoView.h"
#include "photocut/fraPhotoShop.h"

// A picture whose every pixel tells where it is: blue = x mod 256, green = y mod 256,
// red = x div 256 * 16 + y div 256. Format_BGR888.
inline QImage Coordinates(int width, int height) {
    QImage image(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        uchar* p = image.scanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            p[0] = uchar(x & 255);
            p[1] = uchar(y & 255);
            p[2] = uchar((x >> 8) * 16 + (y >> 8));
        }
    }
    return image;
}

// Where a pixel of a Coordinates() picture came from.
inline QPoint Origin(const QImage& image, int x, int y) {
    const uchar* p = image.constScanLine(y) + 3 * x;
    return QPoint((p[2] >> 4) * 256 + p[0], (p[2] & 15) * 256 + p[1]);
}

inline QImage Filled(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_BGR888);
    image.fill(colour);
    return image;
}

class PhotoShopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        auto owned = std::make_unique<FakeDialogs>();
        dialogs = owned.get();
        frame.SetDialogs(std::move(owned));
        frame.SetPhotoNaming([this] { return TPhotoNaming{folder.path() + "/", "id"}; });
        frame.show();
    }

    // The view re-rendered at zoom v, whatever the zoom was.
    void Zoom(int v) {
        frame.TrackBar->setValue(v == 0 ? 1 : v - 1);
        frame.TrackBar->setValue(v);
    }

    // Waits for the file chosen last to be decoded; true when it became the source.
    bool WaitForLoad() {
        QSignalSpy finished(&frame, &TfraPhotoShop::LoadFinished);
        if (!QTest::qWaitFor([&] { return !frame.Loading(); }, 60000)) {
            ADD_FAILURE() << "the file is still loading";
            return false;
        }
        return finished.size() == 1 && finished[0][0].toBool();
    }

    bool Load(const QString& path) {
        frame.LoadPhotoFile(path);
        return WaitForLoad();
    }

    // The view image's rectangle in the view panel.
    QRect View() const { return frame.ImgSource->geometry(); }

    // Drags the crop box with the left button from its current place by `delta`,
    // through the pointer positions a hand would pass.
    void Drag(QPoint delta) {
        QWidget* box = frame.pnlCut;
        const QPoint grip = box->pos() + QPoint(10, 10);  // in the view panel
        QTest::mousePress(box, Qt::LeftButton, {}, box->mapFrom(frame.Panel3, grip));
        for (int step = 1; step <= 4; ++step) {
            QTest::mouseMove(box, box->mapFrom(frame.Panel3, grip + delta * step / 4));
        }
        QTest::mouseRelease(box, Qt::LeftButton, {}, box->mapFrom(frame.Panel3, grip + delta));
    }

    QTemporaryDir folder;
    TfraPhotoShop frame;
    FakeDialogs* dialogs = nullptr;
};
