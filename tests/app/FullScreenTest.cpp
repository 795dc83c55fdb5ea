// The full-screen preview: each way in and out, one window reused, keys that
// do nothing there, and the show sequence on the way back.
#include <functional>

#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include "app/uFullScreen.h"
#include "settings/SettingsStore.h"
#include "tests/app/MainWindowFixture.h"
#include "widgets/VideoWindow.h"

namespace {

// Waits until `window` paints pictures of the running stream.
bool ShowsLivePicture(TVideoWindow* window) {
    return QTest::qWaitFor([&] { return !window->CurrentFrame().IsNull(); }, 5000);
}

}  // namespace

TEST_F(MainWindowTest, EachGestureSwitchesToFullScreenAndBackReusingOneWindow) {
    StartWithPicture();
    struct Gesture {
        const char* name;
        std::function<void()> act;
    };
    const Gesture enters[] = {
        {"button 全", [&] { form->bsSkinSpeedButton1->click(); }},
        {"double-click on the picture",
         [&] { QTest::mouseDClick(form->VideoWindow, Qt::LeftButton); }},
        {"Alt+Enter", [&] { QTest::keyClick(form.get(), Qt::Key_Return, Qt::AltModifier); }},
    };
    const Gesture leaves[] = {
        {"double-click", [] { QTest::mouseDClick(frmFullScreen->VideoWindow, Qt::LeftButton); }},
        {"Esc", [] { QTest::keyClick(frmFullScreen->VideoWindow, Qt::Key_Escape); }},
        {"Alt+Enter",
         [] { QTest::keyClick(frmFullScreen->VideoWindow, Qt::Key_Return, Qt::AltModifier); }},
    };
    QPointer<TfrmFullScreen> first;
    for (const Gesture& enter : enters) {
        for (const Gesture& leave : leaves) {
            SCOPED_TRACE(std::string(enter.name) + " / " + leave.name);
            enter.act();
            ASSERT_TRUE(form->FullScreenActive());
            ASSERT_NE(frmFullScreen, nullptr);
            if (!first) {
                first = frmFullScreen;
            }
            EXPECT_EQ(frmFullScreen, first.data()) << "one window for the run";
            EXPECT_FALSE(form->isVisible());
            EXPECT_TRUE(frmFullScreen->isVisible());
            EXPECT_TRUE(frmFullScreen->windowFlags() & Qt::FramelessWindowHint);
            EXPECT_EQ(frmFullScreen->geometry(), form->screen()->availableGeometry());
            EXPECT_EQ(form->Snapixture->VideoWindow(), frmFullScreen->VideoWindow);
            EXPECT_TRUE(ShowsLivePicture(frmFullScreen->VideoWindow));

            leave.act();
            EXPECT_FALSE(form->FullScreenActive());
            EXPECT_TRUE(form->isVisible());
            EXPECT_FALSE(frmFullScreen->isVisible());
            EXPECT_EQ(form->Snapixture->VideoWindow(), form->VideoWindow);
            EXPECT_EQ(form->Snapixture->CaptureStatus, csPrev);
            EXPECT_EQ(Status(), QStringLiteral("预览中."));
            // The full-screen picture went black with its stream.
            EXPECT_TRUE(frmFullScreen->VideoWindow->CurrentFrame().IsNull());
            EXPECT_TRUE(ShowsLivePicture(form->VideoWindow));
        }
    }
    EXPECT_TRUE(Photos().isEmpty()) << "no gesture takes a photograph";
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, InFullScreenOnlyTheLeavingKeysActAndF8TakesNoPhotograph) {
    StartWithPicture();
    form->bsSkinSpeedButton1->click();
    ASSERT_TRUE(ShowsLivePicture(frmFullScreen->VideoWindow));
    for (Qt::Key key : {Qt::Key_F8, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space, Qt::Key_F11}) {
        QTest::keyClick(frmFullScreen->VideoWindow, key);
        EXPECT_TRUE(form->FullScreenActive()) << "key " << key;
    }
    QTest::keyClick(frmFullScreen->VideoWindow, Qt::Key_F8, Qt::ControlModifier);
    EXPECT_TRUE(Photos().isEmpty());
    EXPECT_EQ(form->Snapixture->CaptureStatus, csPrev);

    // A close from the desktop leaves full screen; the window stays for the next switch.
    QPointer<TfrmFullScreen> window = frmFullScreen;
    window->close();
    EXPECT_FALSE(form->FullScreenActive());
    EXPECT_TRUE(form->isVisible());
    ASSERT_TRUE(window);
    form->bsSkinSpeedButton1->click();
    EXPECT_EQ(frmFullScreen, window.data());
}

TEST_F(MainWindowTest, ReturningFromFullScreenRunsTheShowSequence) {
    StartWithPicture();
    form->bsSkinSpeedButton1->click();
    // Changed while in full screen: the show sequence reads the folder again.
    const QString photos = AppPath + "fromfullscreen";
    WriteSavePathSetting(photos);
    SendMessage(form.get(), WM_STATUS_TEXT, 2);

    QTest::keyClick(frmFullScreen->VideoWindow, Qt::Key_Escape);
    EXPECT_EQ(SavePath, photos + "/");
    EXPECT_EQ(Status(), QStringLiteral("预览中."));
    EXPECT_EQ(form->btnCapture->text(), QStringLiteral("拍照[F8]"));
    EXPECT_TRUE(ShowsLivePicture(form->VideoWindow));
}
