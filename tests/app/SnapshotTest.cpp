// The snapshot workflow: capture keys, the single photograph and its status
// texts, the countdown, failures, preview restarts and closing mid-countdown.
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTimer>

#include "capture/SysDevEnum.h"
#include "settings/fraCamSet.h"
#include "widgets/ComboBox.h"
#include "tests/app/MainWindowFixture.h"
#include "widgets/Image.h"

namespace {

// Records each new status text with the time it first appeared, and whether
// the capture button was ever seen enabled while a photograph ran.
class StatusLog {
  public:
    StatusLog(TfrmMainForm& form) : form_(form) {
        clock_.start();
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Sample(); });
        timer_.start();
    }

    void Sample() {
        const QString text = form_.stbStatus->text();
        if (texts.isEmpty() || texts.last() != text) {
            texts << text;
            times.push_back(clock_.elapsed());
        }
        if (text.startsWith(QStringLiteral("延时")) && form_.btnCapture->isEnabled()) {
            buttonEnabledDuringCountdown = true;
        }
    }

    qint64 FirstSeen(const QString& text) const {
        const qsizetype i = texts.indexOf(text);
        return i < 0 ? -1 : times[static_cast<size_t>(i)];
    }

    QStringList texts;
    std::vector<qint64> times;
    bool buttonEnabledDuringCountdown = false;

  private:
    TfrmMainForm& form_;
    QElapsedTimer clock_;
    QTimer timer_;
};

QString Countdown(int seconds) {
    return QStringLiteral("延时拍照倒计时 %1 秒").arg(seconds);
}

}  // namespace

TEST_F(MainWindowTest, F8TakesAPhotographAtTheCamerasOwnSizeAndShowsIt) {
    StartWithPicture();
    ASSERT_TRUE(Photos().isEmpty());
    QStringList seen;
    // What the status shows while the photograph is being stored.
    form->Snapixture->OnCapturing = [&](QObject*) { seen << Status(); };

    QTest::keyClick(form.get(), Qt::Key_F8);

    EXPECT_EQ(seen, QStringList{QStringLiteral("拍照中.")});
    EXPECT_EQ(Status(), QStringLiteral("拍照完成."));
    EXPECT_TRUE(form->btnCapture->isEnabled());
    const QStringList photos = Photos();
    ASSERT_EQ(photos.size(), 1) << Info().toStdString();
    // The settings' default prefix and date-time: TAVRINYYYYMMDDHHMMSS.jpg
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^TAVRIN\\d{14}\\.jpg$")).match(photos[0]).hasMatch())
        << photos[0].toStdString();
    EXPECT_EQ(QImageReader(SavePath + photos[0]).size(), QSize(640, 480));
    EXPECT_EQ(form->Image->Picture().size(), QSize(640, 480));
    EXPECT_EQ(form->Image->Picture(), form->Snapixture->ABitmap());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, CaptureKeysWorkWithAnyModifierAndOtherKeysDoNot) {
    StartWithPicture();
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool captures;
    };
    const Case cases[] = {
        {Qt::Key_F8, Qt::NoModifier, true},
        {Qt::Key_Return, Qt::NoModifier, true},
        {Qt::Key_Enter, Qt::KeypadModifier, true},
        {Qt::Key_F8, Qt::ControlModifier, true},
        // Alt+Enter is the full-screen gesture and takes no photograph (FullScreenTest).
        {Qt::Key_Return, Qt::ShiftModifier, true},
        {Qt::Key_F7, Qt::NoModifier, false},
        {Qt::Key_Space, Qt::NoModifier, false},
        {Qt::Key_Escape, Qt::NoModifier, false},
    };
    int photographs = 0;
    form->Snapixture->OnCapturing = [&](QObject*) { ++photographs; };
    for (const Case& c : cases) {
        const int before = photographs;
        QTest::keyClick(form.get(), c.key, c.modifiers);
        EXPECT_EQ(photographs - before, c.captures ? 1 : 0)
            << "key " << c.key << " modifiers " << c.modifiers;
    }
}

TEST_F(MainWindowTest, EnterOnTheFocusedCaptureButtonTakesOnePhotographNotTwo) {
    StartWithPicture();
    form->activateWindow();
    form->btnCapture->setFocus();
    int photographs = 0;
    form->Snapixture->OnCapturing = [&](QObject*) { ++photographs; };
    QTest::keyClick(form->btnCapture, Qt::Key_Return);
    QTest::keyClick(form->btnCapture, Qt::Key_F8);
    EXPECT_EQ(photographs, 2);
}

TEST_F(MainWindowTest, TrayCaptureItemTakesAPhotographLikeF8) {
    StartWithPicture();
    form->F81->trigger();
    EXPECT_EQ(Status(), QStringLiteral("拍照完成."));
    EXPECT_EQ(Photos().size(), 1);
}

TEST_F(MainWindowTest, DelayedPhotographCountsDownOncePerSecondAndIgnoresF8Meanwhile) {
    StartWithPicture();
    form->cbDelay->setChecked(true);
    form->fraCamSet->seDelay->setValue(2);
    int photographs = 0;
    form->Snapixture->OnCapturing = [&](QObject*) { ++photographs; };
    StatusLog log(*form);
    int pressedDuringCountdown = 0;
    QTimer::singleShot(500, [&] {
        QTest::keyClick(form.get(), Qt::Key_F8);
        ++pressedDuringCountdown;
    });
    QTimer::singleShot(600, [&] {
        QTest::keyClick(form.get(), Qt::Key_Return);
        ++pressedDuringCountdown;
    });

    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(form.get(), Qt::Key_F8);
    const qint64 took = clock.elapsed();
    log.Sample();

    EXPECT_GE(took, 2000) << "the photograph comes no earlier than the delay";
    EXPECT_EQ(pressedDuringCountdown, 2);
    EXPECT_EQ(photographs, 1) << "keys during the countdown do nothing";
    EXPECT_FALSE(log.buttonEnabledDuringCountdown);
    ASSERT_GE(log.texts.size(), 3) << log.texts.join(" | ").toStdString();
    EXPECT_EQ(log.texts.first(), Countdown(2));
    EXPECT_TRUE(log.texts.contains(Countdown(1))) << log.texts.join(" | ").toStdString();
    EXPECT_GE(log.FirstSeen(Countdown(1)), 1000);
    EXPECT_EQ(log.texts.last(), QStringLiteral("拍照完成.")) << log.texts.join(" | ").toStdString();
    EXPECT_FALSE(form->tmDelay->isActive());
    EXPECT_EQ(Photos().size(), 1);
}

TEST_F(MainWindowTest, DelayZeroWithTheBoxTickedPhotographsAtOnce) {
    StartWithPicture();
    form->cbDelay->setChecked(true);
    form->fraCamSet->seDelay->setValue(0);
    QStringList seen;
    form->Snapixture->OnCapturing = [&](QObject*) { seen << Status(); };
    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_EQ(seen, QStringList{Countdown(0)});
    EXPECT_EQ(Status(), QStringLiteral("拍照完成."));
}

TEST_F(MainWindowTest, UntickingTheDelayBoxFreezesTheCountdownButThePhotographIsTaken) {
    StartWithPicture();
    form->cbDelay->setChecked(true);
    form->fraCamSet->seDelay->setValue(2);
    StatusLog log(*form);
    QTimer::singleShot(300, [&] { form->cbDelay->setChecked(false); });
    QTest::keyClick(form.get(), Qt::Key_F8);
    log.Sample();
    EXPECT_EQ(log.texts, (QStringList{Countdown(2), QStringLiteral("拍照完成.")}));
    EXPECT_EQ(Photos().size(), 1);
}

TEST_F(MainWindowTest, FailedPhotographIsReportedWithItsReasonAndNotAsDone) {
    StartWithPicture();
    // The camera stops sending pictures: no frame comes for the photograph.
    form->Snapixture->Stop();
    VirtualCamera::Faults faults;
    faults.noFrames = true;
    VirtualCamera::Instance().SetFaults(faults);
    SendMessage(form.get(), WM_DEVICE_SELECT, 0);

    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_EQ(Status(), QStringLiteral("拍照失败."));
    EXPECT_FALSE(Info().isEmpty());
    EXPECT_EQ(Info(), form->Snapixture->LastError());
    EXPECT_TRUE(form->btnCapture->isEnabled());
    EXPECT_TRUE(Photos().isEmpty());
    EXPECT_TRUE(form->Image->Picture().isNull()) << "the photo panel keeps what it had";
    EXPECT_TRUE(boxes.empty()) << "reported in the status bar, not in a box";
}

TEST_F(MainWindowTest, PhotographThatCannotBeWrittenNamesTheFile) {
    StartWithPicture();
    // A regular file where the photo folder should be.
    const QString blocked = AppPath + "notafolder";
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    SavePath = blocked + "/";
    const QImage before = form->Image->Picture();

    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_EQ(Status(), QStringLiteral("拍照失败."));
    EXPECT_TRUE(Info().contains(blocked)) << Info().toStdString();
    EXPECT_EQ(form->Image->Picture(), before);
}

TEST_F(MainWindowTest, NoCameraShowsTheMessageOnceAndF8ReportsTheFailure) {
    qputenv("SNAPIX_VIRTUAL_CAMERA", "0");
    if (TSysDevEnum().DeviceCount() > 0) {
        GTEST_SKIP() << "this machine has a camera";
    }
    Start();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, TMessageBoxKind::Plain);
    EXPECT_EQ(boxes[0].caption, QString());
    EXPECT_EQ(boxes[0].text, QStringLiteral("未发现可以使用的视频捕获设备!"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(Status(), QStringLiteral("预览中."));

    form->cbDelay->setChecked(true);
    form->fraCamSet->seDelay->setValue(1);
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_GE(clock.elapsed(), 1000) << "the countdown runs its full length";
    EXPECT_EQ(Status(), QStringLiteral("拍照失败."));
    EXPECT_FALSE(Info().isEmpty());
    EXPECT_TRUE(form->Image->Picture().isNull());
    EXPECT_EQ(boxes.size(), 1u) << "no further message";
}

TEST_F(MainWindowTest, ResolutionAndDeviceRequestsRestartThePreview) {
    StartWithPicture();
    // The left panel says what the camera delivers once the live picture starts.
    EXPECT_EQ(Info(), QStringLiteral("640x480 YUYV 30 fps"));
    // The settings' source list restarts the preview at the size it shows.
    form->fraCamSet->cbAMStreamConfig->setCurrentIndex(1);
    EXPECT_EQ(form->Snapixture->InputResolution(), 1);
    EXPECT_EQ(form->Snapixture->SampleWidth, 320);
    EXPECT_EQ(form->Snapixture->SampleHeight, 240);
    EXPECT_TRUE(WaitForFrame());
    EXPECT_EQ(Info(), QStringLiteral("320x240 YUYV 30 fps"));
    // 1280*1024: the camera's nearest, where Motion-JPEG runs at 30 fps and YUYV at 10.
    form->fraCamSet->cbAMStreamConfig->setCurrentIndex(3);
    EXPECT_EQ(Info(), QStringLiteral("1280x720 MJPEG 30 fps"));
    EXPECT_TRUE(WaitForFrame());

    // A device index outside the list: no device, no picture, no message.
    SendMessage(form.get(), WM_DEVICE_SELECT, 7);
    EXPECT_TRUE(form->Snapixture->Moniker().IsNone());
    EXPECT_NE(form->Snapixture->CaptureStatus, csPrev);

    const int last = TSysDevEnum().DeviceCount() - 1;  // the virtual camera
    SendMessage(form.get(), WM_DEVICE_SELECT, static_cast<quintptr>(last));
    EXPECT_EQ(form->Snapixture->CaptureStatus, csPrev);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, PreviewRestartThatTheDeviceRefusesShowsTheErrorAndTheSenderGoesOn) {
    StartWithPicture();
    struct Case {
        const char* what;
        VirtualCamera::Faults faults;
        QString text;
    };
    const Case cases[] = {
        {"stream on", {.streamOnFails = true}, QStringLiteral("Input/output error ($5).")},
        // Another program streams from the camera: the user is told so, not shown black.
        {"busy at the format",
         {.busyOnFormat = true},
         QStringLiteral("Device or resource busy ($10).")},
        {"busy at the buffers",
         {.busyOnBuffers = true},
         QStringLiteral("Device or resource busy ($10).")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        boxes.clear();
        VirtualCamera::Instance().SetFaults(c.faults);
        SendMessage(form.get(), WM_INPUT_RESOLUTION, 0, 2);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].kind, TMessageBoxKind::Error);
        EXPECT_EQ(boxes[0].text, c.text);
        // The window is still in working order: the next request runs normally.
        VirtualCamera::Instance().SetFaults({});
        SendMessage(form.get(), WM_INPUT_RESOLUTION, 0, 2);
        EXPECT_EQ(form->Snapixture->CaptureStatus, csPrev);
        EXPECT_EQ(boxes.size(), 1u);
    }
}

TEST_F(MainWindowTest, UnpluggedCameraIsReportedAtOnceAndAPhotographThenFails) {
    StartWithPicture();
    VirtualCamera::Instance().Unplug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Status() == QStringLiteral("摄像头已断开."); }, 3000));
    EXPECT_TRUE(Info().contains(QStringLiteral("断开"))) << Info().toStdString();

    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_EQ(Status(), QStringLiteral("拍照失败."));
    EXPECT_TRUE(Info().contains(QStringLiteral("断开"))) << Info().toStdString();
    EXPECT_TRUE(Photos().isEmpty()) << "no photograph of the last frame before the unplug";
    EXPECT_TRUE(form->btnCapture->isEnabled());
}

// The loss is reported by the streaming thread after the photograph was stored: the
// file name stays in view, the lost-camera text beside it.
TEST_F(MainWindowTest, APhotographStoredAsTheCameraIsLostStillShowsItsFileName) {
    StartWithPicture();
    QTest::keyClick(form.get(), Qt::Key_F8);
    ASSERT_EQ(Status(), QStringLiteral("拍照完成."));
    const QString stored = form->Snapixture->FileName();
    ASSERT_EQ(Info(), stored);
    VirtualCamera::Instance().Unplug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Status() == QStringLiteral("摄像头已断开."); }, 3000));
    EXPECT_TRUE(Info().startsWith(stored)) << Info().toStdString();
    EXPECT_TRUE(Info().contains(QStringLiteral("断开"))) << Info().toStdString();
}

TEST_F(MainWindowTest, ClosingDuringTheCountdownStopsAtOnceAndEndsTheRunCleanly) {
    StartWithPicture();
    form->cbDelay->setChecked(true);
    // Far longer than the test may take: only quitting ends the wait early.
    form->fraCamSet->seDelay->setValue(60);
    bool stoppedAtClose = false;
    QTimer::singleShot(0, [&] { QTest::keyClick(form.get(), Qt::Key_F8); });
    QTimer::singleShot(300, [&] {
        form->close();
        stoppedAtClose =
            form->Snapixture->CaptureStatus == csStop && !VirtualCamera::Instance().Streaming();
    });

    // Should the run not end, this ends it with a code the test rejects.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(20000);

    QElapsedTimer clock;
    clock.start();
    const int code = QApplication::exec();
    EXPECT_EQ(code, 0);
    EXPECT_LT(clock.elapsed(), 60000) << "the wait ended with the event loop";
    EXPECT_TRUE(stoppedAtClose);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->btnCapture->isEnabled());
    EXPECT_TRUE(Photos().isEmpty());
    form.reset();  // after the photograph call has returned
}

TEST(ShutterSound, IsAnEightBitMonoWaveOf5480Samples) {
    QFile file(QStringLiteral(":/resources/shutter.wav"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray wav = file.readAll();
    ASSERT_GE(wav.size(), 44);
    auto u16 = [&](int at) { return quint16(quint8(wav[at]) | quint8(wav[at + 1]) << 8); };
    auto u32 = [&](int at) { return quint32(u16(at)) | quint32(u16(at + 2)) << 16; };
    EXPECT_EQ(wav.left(4), "RIFF");
    EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(u16(20), 1) << "PCM";
    EXPECT_EQ(u16(22), 1) << "mono";
    EXPECT_EQ(u32(24), 11025u);
    EXPECT_EQ(u16(34), 8) << "bits per sample";
    EXPECT_EQ(wav.mid(36, 4), "data");
    EXPECT_EQ(u32(40), 5480u);
    EXPECT_EQ(wav.size(), 44 + 5480);
    // A sound, not silence.
    int loud = 0;
    for (int i = 44; i < wav.size(); ++i) {
        loud += std::abs(quint8(wav[i]) - 128) > 32;
    }
    EXPECT_GT(loud, 20);
}

TEST_F(MainWindowTest, ADeviceThatRefusesToStopIsReportedInABoxAndStillReleased) {
    StartWithPicture();
    VirtualCamera::Instance().SetFaults({.streamOffFails = true});
    form->fraCamSet->cbAMStreamConfig->setCurrentIndex(1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("Error:"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("Stop Device Fail!"));
    // The preview came back at the new size all the same.
    EXPECT_EQ(form->Snapixture->CaptureStatus, csPrev);
    EXPECT_EQ(form->Snapixture->SampleWidth, 320);
}
