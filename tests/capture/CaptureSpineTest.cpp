// The capture spine against the virtual camera: device list, component
// properties, preview, grab, events and the device failure modes.
#include <cerrno>
#include <cstring>

#include <linux/videodev2.h>

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QTimer>

#include "capture/DirectShowException.h"
#include "capture/SysDevEnum.h"
#include "support/NativeFrames.h"
#include "support/TestFiles.h"
#include "support/VirtualCameraFixture.h"

TEST(DeviceList, VirtualCameraListedLastOnlyWhenEnabled) {
    qputenv("SNAPIX_VIRTUAL_CAMERA", "0");
    const int real = TSysDevEnum().DeviceCount();
    qputenv("SNAPIX_VIRTUAL_CAMERA", "1");
    TSysDevEnum devices;
    ASSERT_EQ(devices.DeviceCount(), real + 1);
    EXPECT_EQ(devices.DeviceName(real), QString(VirtualCamera::kName));
    EXPECT_FALSE(devices.DeviceMoniker(real).IsNone());
    EXPECT_TRUE(devices.DeviceMoniker(real + 1).IsNone());
    EXPECT_TRUE(devices.DeviceMoniker(-1).IsNone());
}

TEST(DirectShowException, MessageIsSystemTextWithHexCode) {
    EXPECT_EQ(EDirectShowException(EBUSY).Message(),
              QStringLiteral("Device or resource busy ($10)."));
    EXPECT_EQ(EDirectShowException(ENODEV).Code(), ENODEV);
}

TEST(Snapixture, NewInstanceDefaults) {
    TSnapixture c;
    EXPECT_EQ(c.CaptureStatus, csNone);
    EXPECT_EQ(c.InputResolution(), 4);
    EXPECT_EQ(c.OutputResolution(), 4);
    EXPECT_EQ(c.InputWidth(), 0);
    EXPECT_EQ(c.InputHeight(), 0);
    EXPECT_EQ(c.OutputWidth(), 3264);
    EXPECT_EQ(c.OutputHeight(), 2448);
    EXPECT_TRUE(c.SaveAsFile);
    EXPECT_EQ(c.DelayTime, 5000u);
    EXPECT_EQ(c.CompressionQuality, 80);
    EXPECT_TRUE(c.ABitmap().isNull());
    EXPECT_TRUE(c.Moniker().IsNone());
}

TEST(Snapixture, ResolutionSettersFollowTheirTables) {
    struct Case {
        int32_t index, width, height;
    };
    // An index outside the table is stored but leaves the size as it was.
    const Case input[] = {{0, 160, 120},   {1, 320, 240},    {2, 640, 480},  {3, 1280, 1024},
                          {4, 1280, 1024}, {-1, 1280, 1024}, {9, 1280, 1024}};
    const Case output[] = {{0, 1600, 1200}, {1, 2048, 1536}, {2, 2580, 1936}, {3, 2816, 2112},
                           {4, 3264, 2448}, {5, 3876, 2584}, {7, 3876, 2584}, {-1, 3876, 2584}};
    TSnapixture c;
    for (const Case& k : input) {
        c.SetInputResolution(k.index);
        EXPECT_EQ(c.InputResolution(), k.index);
        EXPECT_EQ(c.InputWidth(), k.width) << k.index;
        EXPECT_EQ(c.InputHeight(), k.height) << k.index;
    }
    for (const Case& k : output) {
        c.SetOutputResolution(k.index);
        EXPECT_EQ(c.OutputResolution(), k.index);
        EXPECT_EQ(c.OutputWidth(), k.width) << k.index;
        EXPECT_EQ(c.OutputHeight(), k.height) << k.index;
    }
}

TEST(Snapixture, StopOnNeverPreviewedComponentSucceeds) {
    TSnapixture c;
    EXPECT_EQ(c.Stop(), 0);
    EXPECT_EQ(c.CaptureStatus, csStop);
}

TEST_F(VirtualCameraTest, PreviewFiresEventsInOrderAndShowsMovingPicture) {
    QStringList events;
    camera->OnConnecting = [&](QObject*) { events << "connecting"; };
    camera->Onconnected = [&](QObject*) { events << "connected"; };
    camera->OnBeforePreview = [&](QObject*) { events << "beforePreview"; };
    camera->Stop();
    ASSERT_EQ(camera->Preview(), 0);
    EXPECT_EQ(events, QStringList({"connecting", "connected", "beforePreview"}));
    EXPECT_EQ(camera->CaptureStatus, csPrev);
    // No size requested: the device's own format is reported.
    EXPECT_EQ(camera->SampleWidth, 640);
    EXPECT_EQ(camera->SampleHeight, 480);

    ASSERT_TRUE(WaitForFrame());
    QImage first, later;
    ASSERT_EQ(camera->SampleGrabber()->GrabBitmap(first), 0);
    EXPECT_EQ(first.format(), QImage::Format_BGR888);
    EXPECT_EQ(first.size(), QSize(640, 480));
    QTest::qWait(150);
    ASSERT_EQ(camera->SampleGrabber()->GrabBitmap(later), 0);
    EXPECT_NE(first, later) << "the picture should move";
    EXPECT_TRUE(QTest::qWaitFor([this] { return window->FramesPainted() > 0; }, 2000));
}

TEST_F(VirtualCameraTest, InputResolutionAppliesAtTheNextPreview) {
    ASSERT_EQ(camera->Preview(), 0);
    camera->SetInputResolution(0);
    EXPECT_EQ(camera->SampleWidth, 640) << "no effect on a running preview";
    camera->Stop();
    ASSERT_EQ(camera->Preview(), 0);
    EXPECT_EQ(camera->SampleWidth, 160);
    EXPECT_EQ(camera->SampleHeight, 120);
    ASSERT_TRUE(WaitForFrame());
    QImage frame;
    camera->SampleGrabber()->GrabBitmap(frame);
    EXPECT_EQ(frame.size(), QSize(160, 120));
}

TEST_F(VirtualCameraTest, InputResolutionOutsideTheTableKeepsTheDeviceSize) {
    // A component that never had a size from the table asks for none.
    for (const int index : {-1, 5, 7}) {
        TVideoWindow freshWindow;
        TSnapixture fresh;
        fresh.SetVideoWindow(&freshWindow);
        fresh.SetMoniker(VirtualMoniker());
        fresh.SetInputResolution(index);
        ASSERT_EQ(fresh.Preview(), 0);
        EXPECT_EQ(QSize(fresh.SampleWidth, fresh.SampleHeight), QSize(640, 480)) << index;
    }
    // After a size from the table, such an index leaves that size as it is.
    camera->SetInputResolution(1);
    ASSERT_EQ(camera->Preview(), 0);
    for (const int index : {-1, 5, 7}) {
        camera->Stop();
        camera->SetInputResolution(index);
        ASSERT_EQ(camera->Preview(), 0);
        EXPECT_EQ(QSize(camera->SampleWidth, camera->SampleHeight), QSize(320, 240)) << index;
    }
}

TEST_F(VirtualCameraTest, InputResolutionFourGoesBackToTheSizeTheDeviceHadWhenFirstOpened) {
    ASSERT_EQ(camera->Preview(), 0);
    // The driver keeps a size set, across opens too.
    for (const int index : {3, 4, 1, 4}) {
        camera->Stop();
        camera->SetInputResolution(index);
        ASSERT_EQ(camera->Preview(), 0);
        const QSize expected = index == 3   ? QSize(1280, 720)
                               : index == 1 ? QSize(320, 240)
                                            : QSize(640, 480);
        EXPECT_EQ(QSize(camera->SampleWidth, camera->SampleHeight), expected) << index;
    }
}

TEST_F(VirtualCameraTest, RefusedSizeKeepsTheDeviceFormat) {
    VirtualCamera::Instance().SetFaults({.refuseSizes = true});
    camera->SetInputResolution(3);
    ASSERT_EQ(camera->Preview(), 0);
    EXPECT_EQ(camera->SampleWidth, 640);
    EXPECT_EQ(camera->SampleHeight, 480);
}

// A sink that counts what the graph hands it.
class CountingSink : public IFrameSink {
  public:
    void FrameArrived(const TNativeFrame& frame) override {
        QMutexLocker lock(&mutex);
        ++frames;
        last = frame;
    }
    void FrameGone() override { ++gone; }
    int Frames() const {
        QMutexLocker lock(&mutex);
        return frames;
    }
    int gone = 0;  // GUI thread only

  private:
    mutable QMutex mutex;
    int frames = 0;
    TNativeFrame last;
};

TEST_F(VirtualCameraTest, WithoutAWindowThePreviewStillFeedsTheGrabber) {
    camera.reset();  // one stream at a time on the virtual camera
    TSnapixture headless;
    headless.SetMoniker(VirtualMoniker());
    ASSERT_EQ(headless.Preview(), 0);
    EXPECT_EQ(headless.CaptureStatus, csPrev);
    QImage frame;
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return headless.SampleGrabber()->GrabBitmap(frame) == 0; }, 3000));
    EXPECT_EQ(frame.size(), QSize(640, 480));
}

TEST(FilterGraph, RunsWithNoSinkAndFeedsEverySinkItHas) {
    qputenv("SNAPIX_VIRTUAL_CAMERA", "1");
    VirtualCamera& vc = VirtualCamera::Instance();
    vc.Reset();
    TFilterGraph graph;
    TFilter device;
    device.SetFilterGraph(&graph);
    device.SetBaseFilter(TMoniker{VirtualCamera::kPath, &vc});
    ASSERT_EQ(graph.SetActive(true), 0);
    ASSERT_EQ(graph.RenderStream(), 0);
    ASSERT_EQ(graph.RunGraph(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return graph.FramesDelivered() >= 2; }, 3000))
        << "frames flow with no sink at all";

    CountingSink a, b;
    graph.AddSink(&a);
    graph.AddSink(&b);
    EXPECT_TRUE(QTest::qWaitFor([&] { return a.Frames() >= 2 && b.Frames() >= 2; }, 3000));
    graph.RemoveSink(&a);
    const int seenByA = a.Frames();
    const int seenByB = b.Frames();
    EXPECT_TRUE(QTest::qWaitFor([&] { return b.Frames() >= seenByB + 2; }, 3000));
    EXPECT_EQ(a.Frames(), seenByA) << "a removed sink gets nothing more";

    EXPECT_EQ(graph.ClearInsertedFilters(), 0);
    EXPECT_EQ(b.gone, 1) << "the sinks still in the graph hear that the picture is gone";
    EXPECT_EQ(a.gone, 0);
    graph.SetActive(false);
    EXPECT_EQ(vc.OpenDescriptors(), 0);
    device.SetFilterGraph(nullptr);
    graph.RemoveSink(&b);
}

TEST_F(VirtualCameraTest, ASecondPhotographDuringTheDelayIsRefusedAndTheFirstGoesOn) {
    ASSERT_EQ(camera->Preview(), 0);
    ASSERT_TRUE(WaitForFrame());
    camera->Delay = true;
    camera->DelayTime = 300;
    camera->FileNameType = 2;
    camera->FileHeader = "first";
    int inner = -1;
    TCapStatus during = csNone;
    bool busy = false;
    QString innerReason;
    QTimer::singleShot(50, [&] {
        during = camera->CaptureStatus;
        busy = camera->Busy();
        inner = camera->Capture();
        innerReason = camera->LastError();
    });
    EXPECT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();
    EXPECT_EQ(inner, 1);
    EXPECT_FALSE(innerReason.isEmpty());
    EXPECT_TRUE(busy) << "the component says a photograph is under way";
    EXPECT_EQ(during, csPrev) << "the status stays what the device does";
    EXPECT_EQ(camera->CaptureStatus, csPrev);
    EXPECT_FALSE(camera->Busy());
    EXPECT_TRUE(camera->LastError().isEmpty())
        << "the refusal does not stick to the first photograph";
    EXPECT_EQ(EntriesOf(photoDir.path()), QStringList{"first.jpg"});
}

TEST_F(VirtualCameraTest, AStopDuringTheDelayEndsThePhotographWithoutAFile) {
    ASSERT_EQ(camera->Preview(), 0);
    ASSERT_TRUE(WaitForFrame());
    camera->Delay = true;
    camera->DelayTime = 300;
    QTimer::singleShot(50, [&] { camera->Stop(); });
    EXPECT_EQ(camera->Capture(), 1);
    EXPECT_EQ(camera->CaptureStatus, csStop);
    EXPECT_TRUE(EntriesOf(photoDir.path()).isEmpty());
}

TEST_F(VirtualCameraTest, DeviceFailuresReachTheCallerOnceWithTheirReason) {
    struct Case {
        const char* name;
        VirtualCamera::Faults faults;
        int code;
    };
    const Case cases[] = {{"busy on open", {.busyOnOpen = true}, EBUSY},
                          {"busy at the format", {.busyOnFormat = true}, EBUSY},
                          {"busy at the buffer request", {.busyOnBuffers = true}, EBUSY},
                          {"stream on", {.streamOnFails = true}, EIO}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        camera->Stop();
        VirtualCamera::Instance().SetFaults(k.faults);
        try {
            camera->Preview();
            ADD_FAILURE() << "the refused run should escape";
        } catch (const EDirectShowException& e) {
            EXPECT_EQ(e.Code(), k.code);
            EXPECT_EQ(camera->LastError(), e.Message()) << "the component keeps the reason too";
        }
        EXPECT_EQ(camera->CaptureStatus, csStop);
        EXPECT_EQ(VirtualCamera::Instance().LiveMappings(), 0);
        EXPECT_FALSE(VirtualCamera::Instance().Streaming());
    }
    VirtualCamera::Instance().SetFaults({});
    camera->Stop();
    EXPECT_EQ(VirtualCamera::Instance().OpenDescriptors(), 0);
    EXPECT_EQ(camera->Preview(), 0);
}

TEST_F(VirtualCameraTest, UnplugStopsTheStreamAndReleasesTheDevice) {
    ASSERT_EQ(camera->Preview(), 0);
    ASSERT_TRUE(WaitForFrame());
    VirtualCamera& vc = VirtualCamera::Instance();
    vc.Unplug();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return vc.OpenDescriptors() == 0 && vc.LiveMappings() == 0; }, 3000));
    EXPECT_FALSE(camera->FilterGraph()->Running());
    EXPECT_TRUE(window->CurrentFrame().IsNull()) << "no frozen picture of a camera that is gone";
    EXPECT_EQ(vc.BuffersQueuedAfterUnplug(), 0);
    const uint64_t delivered = vc.FramesDelivered();
    QTest::qWait(100);
    EXPECT_EQ(vc.FramesDelivered(), delivered);

    vc.PlugIn();
    camera->Stop();
    ASSERT_EQ(camera->Preview(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return vc.FramesDelivered() > delivered; }, 2000));
}

TEST_F(VirtualCameraTest, PhotographAfterUnplugFailsAndSaysTheCameraIsGone) {
    int lost = 0;
    camera->OnDeviceLost = [&](QObject*) { ++lost; };
    ASSERT_EQ(camera->Preview(), 0);
    ASSERT_TRUE(WaitForFrame());
    ASSERT_EQ(camera->Capture(), 0) << "a photograph while the camera is there";
    const QStringList before = EntriesOf(photoDir.path());
    VirtualCamera::Instance().Unplug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lost == 1; }, 3000));
    EXPECT_NE(camera->CaptureStatus, csPrev);
    EXPECT_TRUE(camera->LastError().contains(QStringLiteral("断开")));

    bool captured = false;
    camera->OnCaptured = [&](QObject*) { captured = true; };
    EXPECT_EQ(camera->Capture(), 1);
    EXPECT_FALSE(captured);
    EXPECT_TRUE(camera->LastError().contains(QStringLiteral("断开")))
        << camera->LastError().toStdString();
    EXPECT_EQ(EntriesOf(photoDir.path()), before) << "no photograph of an earlier moment";

    // Still gone at the next Stop and Preview: the refusal names the device, and a
    // photograph still fails.
    camera->Stop();
    EXPECT_THROW(camera->Preview(), EDirectShowException);
    EXPECT_EQ(camera->Capture(), 1);
    EXPECT_EQ(EntriesOf(photoDir.path()), before);
}

TEST_F(VirtualCameraTest, StopReleasesEverything) {
    ASSERT_EQ(camera->Preview(), 0);
    ASSERT_TRUE(WaitForFrame());
    EXPECT_EQ(camera->Stop(), 0);
    EXPECT_EQ(camera->CaptureStatus, csStop);
    EXPECT_EQ(VirtualCamera::Instance().OpenDescriptors(), 0);
    EXPECT_EQ(VirtualCamera::Instance().LiveMappings(), 0);
    EXPECT_FALSE(camera->FilterGraph()->Active());
}

TEST_F(VirtualCameraTest, CaptureAfterStopWaitsThenFailsWithoutCapturedEvent) {
    ASSERT_EQ(camera->Preview(), 0);
    camera->Stop();
    QStringList events;
    camera->OnBeforeCapture = [&](QObject*) { events << "before"; };
    camera->OnCaptured = [&](QObject*) { events << "captured"; };
    camera->Delay = true;
    camera->DelayTime = 200;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(camera->Capture(), 1);
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_EQ(events, QStringList({"before"}));
    EXPECT_FALSE(camera->LastError().isEmpty());
}

TEST_F(VirtualCameraTest, DelayWaitKeepsDispatchingEvents) {
    ASSERT_EQ(camera->Preview(), 0);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    camera->Delay = true;
    camera->DelayTime = 250;
    QElapsedTimer clock;
    clock.start();
    camera->Capture();
    EXPECT_GE(clock.elapsed(), 250);
    // Timers ran during the wait, more than once; how often depends on the load.
    EXPECT_GE(ticks, 2);
}

TEST_F(VirtualCameraTest, NoFramesMeansNoPhotograph) {
    VirtualCamera::Instance().SetFaults({.noFrames = true});
    ASSERT_EQ(camera->Preview(), 0);
    bool captured = false;
    camera->OnCaptured = [&](QObject*) { captured = true; };
    EXPECT_EQ(camera->Capture(), 1);
    EXPECT_FALSE(captured);
    EXPECT_FALSE(camera->LastError().isEmpty());
}

TEST_F(VirtualCameraTest, RepaintsAreCoalesced) {
    const TNativeFrame frame = YuyvFrame(Filled(64, 48, Qt::red));
    QThread* producer = QThread::create([&] {
        for (int i = 0; i < 200; ++i) {
            window->FrameArrived(frame);
        }
    });
    producer->start();
    producer->wait();
    delete producer;
    QTest::qWait(50);
    // 200 frames arrived while the GUI thread was busy: one repaint paints
    // the latest, nothing queues up behind it.
    EXPECT_LE(window->FramesPainted(), 2u);
    EXPECT_GE(window->FramesPainted(), 1u);
}

TEST_F(VirtualCameraTest, PreviewOnARunningGraphKeepsItRunning) {
    ASSERT_EQ(camera->Preview(), 0);
    camera->SetInputResolution(1);
    EXPECT_EQ(camera->Preview(), 0);
    EXPECT_EQ(camera->CaptureStatus, csPrev);
    EXPECT_EQ(camera->SampleWidth, 640) << "the size waits for the next stop";
    EXPECT_TRUE(WaitForFrame());
}

namespace {
QImage GrabAfterNextFrames(TSnapixture& camera) {
    const uint64_t seen = VirtualCamera::Instance().FramesDelivered();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return VirtualCamera::Instance().FramesDelivered() >= seen + 2; }, 2000));
    QImage frame;
    EXPECT_EQ(camera.SampleGrabber()->GrabBitmap(frame), 0);
    return frame;
}
}  // namespace

// The camera's buffers go round and round; each frame still shows the square in one
// place only: a row through it differs from a row above it in one run of at most 32
// pixels (where the square is not on the white bar).
TEST_F(VirtualCameraTest, EveryFrameShowsTheSquareOnceWhateverBufferItCameIn) {
    class Keeper : public IFrameSink {
      public:
        void FrameArrived(const TNativeFrame& frame) override {
            QMutexLocker lock(&mutex);
            frames << frame;
        }
        void FrameGone() override {}
        QList<TNativeFrame> Frames() const {
            QMutexLocker lock(&mutex);
            return frames;
        }

      private:
        mutable QMutex mutex;
        QList<TNativeFrame> frames;
    } keeper;
    ASSERT_EQ(camera->Preview(), 0);
    camera->FilterGraph()->AddSink(&keeper);
    // Three times round the buffers at least.
    EXPECT_TRUE(QTest::qWaitFor([&] { return keeper.Frames().size() >= 14; }, 3000));
    camera->FilterGraph()->RemoveSink(&keeper);
    int squaresSeen = 0;
    const QList<TNativeFrame> kept = keeper.Frames();
    for (const TNativeFrame& native : kept) {
        QImage frame;
        ASSERT_EQ(camera->FilterGraph()->ConvertFrame(native, frame), 0);
        ASSERT_EQ(frame.size(), QSize(640, 480));
        const uint8_t* through = frame.constScanLine(240);
        const uint8_t* above = frame.constScanLine(200);
        int first = -1, last = -1, runs = 0;
        for (int x = 0; x < 640; ++x) {
            if (std::memcmp(through + 3 * x, above + 3 * x, 3) != 0) {
                if (last != x - 1) {
                    ++runs;
                    first = x;
                }
                last = x;
            }
        }
        EXPECT_LE(runs, 1) << "an old square left behind";
        if (runs == 1) {
            EXPECT_LE(last - first + 1, 32);
            ++squaresSeen;
        }
    }
    EXPECT_GE(squaresSeen, kept.size() / 2);
}

TEST_F(VirtualCameraTest, PictureControlsChangeThePictureAtOnce) {
    VirtualCamera::Instance().SetSettling(false);
    VirtualCamera::Instance().SetColourKiller(true);
    ASSERT_EQ(camera->Preview(), 0);
    v4l2_queryctrl query{};
    query.id = V4L2_CID_BRIGHTNESS;
    ASSERT_EQ(camera->Filter()->Ioctl(VIDIOC_QUERYCTRL, &query), 0);
    EXPECT_EQ(query.minimum, 0);
    EXPECT_EQ(query.maximum, 255);
    EXPECT_EQ(query.default_value, 128);

    // A pixel of the red bar, away from the moving square and the counter.
    const QPoint red(5 * 640 / 8 + 10, 100);
    const QColor before = GrabAfterNextFrames(*camera).pixelColor(red);
    v4l2_control brighter{V4L2_CID_BRIGHTNESS, 128 + 60};
    ASSERT_EQ(camera->Filter()->Ioctl(VIDIOC_S_CTRL, &brighter), 0);
    const QColor after = GrabAfterNextFrames(*camera).pixelColor(red);
    EXPECT_GT(after.green(), before.green() + 40);

    v4l2_control colourOff{V4L2_CID_COLOR_KILLER, 1};
    ASSERT_EQ(camera->Filter()->Ioctl(VIDIOC_S_CTRL, &colourOff), 0);
    const QColor grey = GrabAfterNextFrames(*camera).pixelColor(red);
    EXPECT_EQ(grey.red(), grey.green());
    EXPECT_EQ(grey.green(), grey.blue());

    VirtualCamera::Instance().SetFaults({.noControls = true});
    EXPECT_EQ(camera->Filter()->Ioctl(VIDIOC_QUERYCTRL, &query), -EINVAL);
}

TEST_F(VirtualCameraTest, FailedStopSaysSoKeepsTheStatusAndStillReleasesTheDevice) {
    ASSERT_EQ(camera->Preview(), 0);
    ASSERT_TRUE(WaitForFrame());
    int told = 0;
    camera->OnStopFailed = [&](QObject*) { ++told; };
    VirtualCamera::Instance().SetFaults({.streamOffFails = true});
    EXPECT_EQ(camera->Stop(), 1);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(camera->CaptureStatus, csPrev);
    EXPECT_EQ(camera->LastError(), QStringLiteral("Input/output error ($5)."));
    EXPECT_EQ(VirtualCamera::Instance().OpenDescriptors(), 0);
    EXPECT_EQ(VirtualCamera::Instance().LiveMappings(), 0);
}
