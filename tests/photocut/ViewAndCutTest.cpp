// The cutting frame's layout, zoom, photo formats, cut, crop box and camera photos.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "PhotoShopFixture.h"

namespace {

TEST_F(PhotoShopTest, ControlsStandAtTheirPlacesWithTheirTexts) {
    struct Control {
        QWidget* widget;
        QRect rect;
        QString text;
    };
    const Control controls[] = {
        {frame.Bevel4, {8, 4, 697, 32}, {}},
        {frame.edtsPath, {16, 7, 225, 18}, {}},
        {frame.bsSkinButton1, {250, 7, 90, 25}, "选择照片"},
        {frame.bsSkinStdLabel12, {436, 13, 54, 13}, "照片格式"},
        {frame.cbOutput, {493, 7, 109, 25}, "单寸照片"},
        {frame.Panel3, {15, 38, 328, 246}, {}},
        {frame.Bevel1, {0, 0, 328, 246}, {}},
        {frame.ImgSource, {3, 2, 320, 240}, {}},
        {frame.pnlCut, {135, 38, 110, 154}, {}},
        {frame.TrackBar, {11, 294, 337, 20}, {}},
        {frame.ImgTarget, {475, 87, 110, 154}, {}},
        {frame.Bevel2, {472, 85, 116, 160}, {}},
        {frame.Bevel3, {360, 257, 345, 47}, {}},
        {frame.btnCut, {378, 267, 90, 25}, "裁切"},
        {frame.btnSave, {486, 267, 90, 25}, "保存"},
        {frame.btnCopy, {595, 267, 90, 25}, "复制到剪贴板"},
        {frame.btnPrint, {486, 314, 90, 25}, "打印排版"},
    };
    EXPECT_EQ(frame.size(), QSize(715, 353));
    for (const Control& c : controls) {
        SCOPED_TRACE(c.text.toStdString() + " at " + std::to_string(c.rect.x()));
        EXPECT_EQ(c.widget->geometry(), c.rect);
        QString text;
        if (auto* button = qobject_cast<QPushButton*>(c.widget)) {
            text = button->text();
        } else if (auto* label = qobject_cast<QLabel*>(c.widget)) {
            text = label->text();
        } else if (auto* list = qobject_cast<QComboBox*>(c.widget)) {
            text = list->currentText();
        }
        EXPECT_EQ(text, c.text);
    }
    EXPECT_EQ(frame.cbOutput->count(), 2);
    EXPECT_EQ(frame.cbOutput->itemText(1), "二寸照片");
    EXPECT_EQ(frame.cbOutput->toolTip(),
              "根据您不同的需要,输出不同分辨率的照片,分辨率越大,照片文件越大");
    EXPECT_EQ(frame.bsSkinStdLabel12->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_FALSE(frame.edtsPath->isEnabled());
    EXPECT_TRUE(frame.edtsPath->text().isEmpty());
    EXPECT_EQ(frame.TrackBar->orientation(), Qt::Horizontal);
    EXPECT_EQ(frame.TrackBar->minimum(), 0);
    EXPECT_EQ(frame.TrackBar->maximum(), 100);
    EXPECT_EQ(frame.TrackBar->value(), 100);
    EXPECT_EQ(frame.pnlCut->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(frame.CutPhoto().isNull());
}

TEST_F(PhotoShopTest, ZoomRendersTheWholeSourceCentredAtFourToThree) {
    // A 3:2 source: the view is 4:3 whatever the photo's aspect.
    const QImage source = Coordinates(3876, 2584);
    frame.NewPhoto(source);
    struct Case {
        int zoom;
        QRect view;
    };
    const Case cases[] = {
        {100, {4, 3, 320, 240}},
        {99, {6, 4, 316, 237}},
        {50, {84, 63, 160, 120}},
        {0, {164, 123, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zoom);
        Zoom(c.zoom);
        EXPECT_EQ(View(), c.view);
        const QImage& picture = frame.ImgSource->Picture();
        EXPECT_EQ(picture.size(), c.view.size());
        if (picture.isNull()) {
            continue;
        }
        // Nearest pixel, sampled at each target pixel's centre, corners included.
        const int w = picture.width(), h = picture.height();
        for (const QPoint p : {QPoint(0, 0), QPoint(w - 1, h - 1), QPoint(w / 3, h / 2)}) {
            EXPECT_EQ(Origin(picture, p.x(), p.y()),
                      QPoint((2 * p.x() + 1) * 3876 / (2 * w), (2 * p.y() + 1) * 2584 / (2 * h)));
        }
    }
    EXPECT_EQ(frame.pnlCut->geometry(), QRect(135, 38, 110, 154));
}

TEST_F(PhotoShopTest, PhotoFormatSizesBoxAndCutPhotoAndClearsTheCut) {
    frame.NewPhoto(Coordinates(320, 240));
    frame.btnCutClick();
    ASSERT_FALSE(frame.CutPhoto().isNull());
    frame.pnlCut->move(100, 20);
    struct Case {
        int index;
        QSize box;
        QRect cut;
        QRect cutFrame;
    };
    const Case cases[] = {
        {1, {140, 197}, {460, 55, 140, 197}, {457, 52, 146, 203}},
        {0, {110, 154}, {472, 50, 110, 154}, {469, 47, 116, 160}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        frame.cbOutput->setCurrentIndex(c.index);
        EXPECT_EQ(frame.pnlCut->geometry(), QRect(QPoint(100, 20), c.box));
        EXPECT_EQ(frame.ImgTarget->geometry(), c.cut);
        EXPECT_EQ(frame.Bevel2->geometry(), c.cutFrame);
        EXPECT_TRUE(frame.CutPhoto().isNull());
    }
}

TEST_F(PhotoShopTest, CutCopiesTheViewUnderTheBox) {
    frame.NewPhoto(Coordinates(320, 240));
    Zoom(100);  // the view at (4, 3): a 320 x 240 source shows pixel for pixel
    frame.btnCutClick();
    const QImage& cut = frame.CutPhoto();
    ASSERT_EQ(cut.size(), QSize(110, 154));
    EXPECT_EQ(Origin(cut, 0, 0), QPoint(131, 35));
    EXPECT_EQ(Origin(cut, 109, 153), QPoint(240, 188));
    EXPECT_EQ(frame.ImgTarget->geometry(), QRect(475, 87, 110, 154));

    // Overhanging the view's left edge by 20 pixels: only the part over the photo.
    frame.pnlCut->move(View().left() - 20, 38);
    frame.btnCutClick();
    ASSERT_EQ(frame.CutPhoto().size(), QSize(90, 154));
    EXPECT_EQ(Origin(frame.CutPhoto(), 0, 0), QPoint(0, 35));
    EXPECT_EQ(frame.ImgTarget->geometry(), QRect(475, 87, 90, 154));

    // Two inches, overhanging the bottom right corner.
    frame.cbOutput->setCurrentIndex(1);
    frame.pnlCut->move(View().right() - 39, View().bottom() - 49);
    frame.btnCutClick();
    ASSERT_EQ(frame.CutPhoto().size(), QSize(40, 50));
    EXPECT_EQ(Origin(frame.CutPhoto(), 0, 0), QPoint(280, 190));
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(PhotoShopTest, NothingToCutGivesTheNoPhotoMessageAndKeepsTheCut) {
    // No photo at all, also after the zoom moved.
    frame.btnCutClick();
    Zoom(60);
    frame.btnCutClick();
    EXPECT_TRUE(frame.CutPhoto().isNull());

    frame.NewPhoto(Coordinates(320, 240));
    frame.btnCutClick();
    const QImage kept = frame.CutPhoto();
    ASSERT_FALSE(kept.isNull());

    Zoom(0);
    frame.btnCutClick();
    Zoom(100);
    frame.pnlCut->move(View().right() + 1, 38);  // touching the view's right edge
    frame.btnCutClick();
    frame.pnlCut->move(-300, -300);
    frame.btnCutClick();
    EXPECT_EQ(dialogs->messages, std::vector<QString>(5, "没有可裁切的照片，请先拍照!"));
    EXPECT_EQ(frame.CutPhoto(), kept);
    EXPECT_EQ(frame.ImgTarget->size(), QSize(110, 154));
}

TEST_F(PhotoShopTest, CropBoxFollowsTheMouseWhileAButtonIsHeld) {
    Drag(QPoint(-37, 25));
    EXPECT_EQ(frame.pnlCut->geometry(), QRect(98, 63, 110, 154));
    // Far past the view panel's edge: neither stopped nor resized.
    Drag(QPoint(-250, -150));
    EXPECT_EQ(frame.pnlCut->geometry(), QRect(-152, -87, 110, 154));

    // Without a button held the pointer passes over the box and leaves it where it is.
    QTest::mouseMove(frame.pnlCut, QPoint(50, 50));
    QTest::mouseMove(frame.pnlCut, QPoint(80, 90));
    EXPECT_EQ(frame.pnlCut->pos(), QPoint(-152, -87));

    // The dragged box cuts where it was left.
    frame.NewPhoto(Coordinates(320, 240));
    Zoom(100);
    frame.pnlCut->move(135, 38);
    Drag(QPoint(10, -5));
    frame.btnCutClick();
    EXPECT_EQ(Origin(frame.CutPhoto(), 0, 0), QPoint(141, 30));
}

TEST_F(PhotoShopTest, CameraPhotoShowsUnscaledAtZoomHundredAndKeepsTheCut) {
    frame.NewPhoto(Coordinates(320, 240));
    frame.btnCutClick();
    const QImage cut = frame.CutPhoto();
    Zoom(50);

    const QImage photo = Coordinates(640, 480);
    frame.NewPhoto(photo);
    EXPECT_EQ(frame.TrackBar->value(), 100);
    EXPECT_EQ(frame.ImgSave(), photo);
    // Unscaled: the view keeps the place and size of the zoom-100 render and shows the
    // photo from its top-left corner until the zoom next changes.
    EXPECT_EQ(frame.ImgSource->Picture(), photo);
    EXPECT_EQ(View(), QRect(4, 3, 320, 240));
    EXPECT_EQ(frame.CutPhoto(), cut);

    frame.pnlCut->move(4 + 300, 3);
    frame.btnCutClick();
    EXPECT_EQ(frame.CutPhoto().size(), QSize(20, 154));
    EXPECT_EQ(Origin(frame.CutPhoto(), 0, 0), QPoint(300, 0));

    // Hiding the panel keeps everything.
    const QRect box = frame.pnlCut->geometry();
    frame.hide();
    frame.show();
    EXPECT_EQ(frame.ImgSave(), photo);
    EXPECT_EQ(frame.ImgSource->Picture(), photo);
    EXPECT_EQ(frame.pnlCut->geometry(), box);
    EXPECT_EQ(frame.CutPhoto().size(), QSize(20, 154));
}

}  // namespace
