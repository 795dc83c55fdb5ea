// Real-camera behaviour through the virtual USB camera: the format chosen by frame rate
// for each model and size, photographs decoded from YUYV and Motion-JPEG, damaged
// frames, the unplug the driver reports, controls as the driver keeps them, and a
// sensor mounted upside down turned round by libv4lconvert.
#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>

#include <linux/videodev2.h>

#include <QScreen>

#include "capture/StreamFormat.h"
#include "capture/V4lConvert.h"
#include "support/JpegCheck.h"
#include "support/TestPattern.h"
#include "support/TestFiles.h"
#include "support/RawStream.h"
#include "support/VirtualCameraFixture.h"

namespace {

const vcam::TModel& ModelNamed(const char* id) {
    return *vcam::FindModel(id);
}

// A component on one of the models, with a shown window; the pattern checked by pixel, so
// the exposure is settled from the start.
class ModelTest : public ::testing::Test {
  protected:
    void Use(const char* id) {
        model = &ModelNamed(id);
        Device().Reset();
        Device().SetSettling(false);
        window = std::make_unique<TVideoWindow>();
        window->resize(320, 240);
        window->show();
        camera = std::make_unique<TSnapixture>();
        camera->SetVideoWindow(window.get());
        camera->SetMoniker(TMoniker{QString::fromLatin1(model->path), &Device()});
        camera->SavePath = photos.path() + QLatin1Char('/');
    }
    void TearDown() override {
        camera.reset();
        window.reset();
        if (model) {
            Device().Reset();
        }
    }
    VirtualCamera& Device() const { return VirtualCamera::Instance(*model); }
    bool WaitForFrames(int count = 1) {
        return QTest::qWaitFor(
            [&] { return camera->SampleGrabber()->FramesArrived() >= uint64_t(count); }, 5000);
    }

    const vcam::TModel* model = nullptr;
    QTemporaryDir photos;
    std::unique_ptr<TVideoWindow> window;
    std::unique_ptr<TSnapixture> camera;
};

constexpr uint32_t kYuyv = V4L2_PIX_FMT_YUYV;
constexpr uint32_t kMjpeg = V4L2_PIX_FMT_MJPEG;

}  // namespace

// Each model at each size of the settings panel (index 4: the camera's own size): the
// format with the highest frame rate at the size it gives, ties to YUYV, at that rate.
TEST_F(ModelTest, EachModelAndPanelSizeStreamsTheFastestFormat) {
    struct Case {
        const char* model;
        int index;
        uint32_t fourcc;
        QSize size;
        uint32_t fps;
    };
    const Case cases[] = {
        {"1080p", 0, kYuyv, {160, 120}, 30},   {"1080p", 1, kYuyv, {320, 240}, 30},
        {"1080p", 2, kYuyv, {640, 480}, 30},   {"1080p", 3, kMjpeg, {1280, 720}, 30},
        {"1080p", 4, kYuyv, {640, 480}, 30},   {"vga", 0, kYuyv, {160, 120}, 30},
        {"vga", 1, kYuyv, {320, 240}, 30},     {"vga", 2, kYuyv, {640, 480}, 30},
        {"vga", 3, kYuyv, {640, 480}, 30},     {"vga", 4, kYuyv, {640, 480}, 30},
        {"mjpeg", 0, kMjpeg, {160, 120}, 30},  {"mjpeg", 1, kMjpeg, {320, 240}, 30},
        {"mjpeg", 2, kMjpeg, {640, 480}, 30},  {"mjpeg", 3, kMjpeg, {1280, 720}, 30},
        {"mjpeg", 4, kMjpeg, {1280, 720}, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " index " + std::to_string(c.index));
        Use(c.model);
        camera->SetInputResolution(c.index);
        ASSERT_EQ(camera->Preview(), 0);
        EXPECT_EQ(Device().PixelFormat(), c.fourcc);
        EXPECT_EQ(QSize(Device().FrameSize().first, Device().FrameSize().second), c.size);
        EXPECT_EQ(Device().FramesPerSecond(), c.fps);
        EXPECT_EQ(QSize(camera->SampleWidth, camera->SampleHeight), c.size);
        EXPECT_EQ(camera->StreamText(), QStringLiteral("%1x%2 %3 %4 fps")
                                            .arg(c.size.width())
                                            .arg(c.size.height())
                                            .arg(FourccName(c.fourcc))
                                            .arg(c.fps));
        ASSERT_TRUE(WaitForFrames());
        TearDown();
    }
}

// A driver keeps its format when the device is closed and opened again; "默认分辨率"
// (index 4) goes back to the size the device had when this component first opened it.
TEST_F(ModelTest, TheFormatOutlivesTheSessionAndDefaultGoesBackToTheOwnSize) {
    Use("1080p");
    camera->SetInputResolution(3);
    ASSERT_EQ(camera->Preview(), 0);
    camera->Stop();

    // Opened afresh by anyone, the camera is as the last session left it.
    TSnapixture other;
    other.SetMoniker(camera->Moniker());
    other.SetInputResolution(4);
    ASSERT_EQ(other.Preview(), 0);
    EXPECT_EQ(other.StreamText(), QStringLiteral("1280x720 MJPEG 30 fps"));
    other.Stop();

    camera->SetInputResolution(4);
    ASSERT_EQ(camera->Preview(), 0);
    EXPECT_EQ(camera->StreamText(), QStringLiteral("640x480 YUYV 30 fps"));
}

// Photographs from YUYV and from Motion-JPEG frames (without Huffman tables, with an AVI1
// segment, with bytes after the end), at their own size and at every output size: each
// decodes strictly and shows the pattern's colours, within what YUV rounding and two JPEG
// encodings (the camera's and the photograph's) explain.
TEST_F(ModelTest, PhotographsFromEachFormatDecodeStrictlyAndShowThePattern) {
    struct Source {
        const char* model;
        int index;
        uint32_t fourcc;
        QSize size;
        int tolerance;
    };
    const Source sources[] = {
        {"1080p", 2, kYuyv, {640, 480}, 12},
        {"1080p", 3, kMjpeg, {1280, 720}, 20},
        {"mjpeg", 4, kMjpeg, {1280, 720}, 20},
    };
    for (const Source& s : sources) {
        Use(s.model);
        camera->SetInputResolution(s.index);
        ASSERT_EQ(camera->Preview(), 0);
        ASSERT_EQ(Device().PixelFormat(), s.fourcc);
        ASSERT_TRUE(WaitForFrames(10));  // round the ring of Motion-JPEG frames
        for (int output = -1; output < 6; ++output) {
            SCOPED_TRACE(std::string(s.model) + " " + FourccName(s.fourcc).toStdString() +
                         " output " + std::to_string(output));
            camera->UseOutputResolution = output >= 0;
            camera->SetOutputResolution(std::max(output, 0));
            camera->FileNameType = 2;
            camera->FileHeader = QStringLiteral("shot%1").arg(output + 1);
            ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();
            const StrictJpeg jpeg = StrictDecode(ReadBytes(camera->FileName()));
            ASSERT_TRUE(jpeg.Ok()) << jpeg.Error.toStdString();
            const QSize expected = output < 0 ? s.size
                                              : QSize(camera->OutputWidth(), camera->OutputHeight());
            EXPECT_EQ(QSize(jpeg.Width, jpeg.Height), expected);
            EXPECT_LE(PatternError(jpeg.Picture), s.tolerance);
        }
        TearDown();
    }
}

// The live picture shows the pattern's colours at every size a Motion-JPEG frame is
// decoded at for the window (eighths of the frame from 1/8 to 1/2, else whole), in the
// picture decoded and on the screen, within what a JPEG encoding and YUV rounding explain.
TEST_F(ModelTest, TheLivePictureShowsThePatternAtEverySizeItIsDecodedAt) {
    const struct {
        QSize window, decoded;
    } cases[] = {
        {{100, 60}, {160, 90}},   {{300, 170}, {320, 180}},   {{364, 255}, {480, 270}},
        {{560, 330}, {640, 360}}, {{1000, 600}, {1280, 720}},
    };
    Use("mjpeg");
    camera->SetInputResolution(3);
    ASSERT_EQ(camera->Preview(), 0);
    ASSERT_EQ(Device().PixelFormat(), kMjpeg);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window.width());
        window->resize(c.window);
        const uint64_t painted = window->FramesPainted();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->FramesPainted() > painted + 1; }, 5000));
        EXPECT_EQ(window->Picture().size(), c.decoded);
        EXPECT_LE(PatternError(window->Picture()), 20);
        const QImage onScreen = window->screen()->grabWindow(window->winId()).toImage();
        ASSERT_EQ(onScreen.size(), c.window);
        EXPECT_LE(PatternError(onScreen), 20);
    }
}

// Damaged Motion-JPEG frames and short frames never reach a photograph: it takes the
// next good frame; a camera that sends nothing good fails the photograph with a reason.
TEST_F(ModelTest, ADamagedOrShortFrameIsNeverInAPhotograph) {
    struct Case {
        const char* name;
        const char* model;
        VirtualCamera::Faults faults;
    };
    const Case cases[] = {
        {"every other Motion-JPEG frame damaged", "mjpeg", {.corruptEvery = 2}},
        {"every other Motion-JPEG frame short", "mjpeg", {.shortEvery = 2}},
        {"every other YUYV frame short", "vga", {.shortEvery = 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Use(c.model);
        Device().SetFaults(c.faults);
        ASSERT_EQ(camera->Preview(), 0);
        ASSERT_TRUE(WaitForFrames(2));
        camera->FileFormat = 1;  // BMP: the picture exactly as it was converted
        for (int shot = 0; shot < 6; ++shot) {
            camera->FileNameType = 2;
            camera->FileHeader = QStringLiteral("shot%1").arg(shot);
            ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();
            EXPECT_LE(PatternError(camera->ABitmap()), 20) << shot;
            QTest::qWait(17);  // land on damaged and good frames alike
        }
        EXPECT_GT(window->FramesRefused(), 0u) << "the window met damaged frames too";
        TearDown();
    }

    Use("mjpeg");
    Device().SetFaults({.corruptEvery = 1});
    ASSERT_EQ(camera->Preview(), 0);
    ASSERT_TRUE(WaitForFrames(1));
    const QStringList before = EntriesOf(photos.path());
    EXPECT_EQ(camera->Capture(), 1);
    EXPECT_TRUE(camera->LastError().contains(QStringLiteral("损坏"))) << camera->LastError().toStdString();
    EXPECT_EQ(EntriesOf(photos.path()), before);
    EXPECT_TRUE(window->Picture().isNull()) << "nothing damaged was shown";
}

// A sensor mounted upside down, as the driver reports it: libv4lconvert turns the
// pictures round, for the window and the photograph alike. (It reads YUYV's levels as
// 0..255 rather than 16..235, as it does for every program: white comes out 235.)
TEST_F(ModelTest, AnUpsideDownSensorIsTurnedRoundByLibv4lconvert) {
    Use("1080p");
    Device().SetFaults({.upsideDown = true});
    ASSERT_EQ(camera->Preview(), 0);
    ASSERT_TRUE(WaitForFrames());
    EXPECT_TRUE(camera->Filter()->Converter()->Processing());
    QImage photo;
    ASSERT_EQ(camera->SampleGrabber()->GrabBitmap(photo), 0);
    EXPECT_LE(PatternError(photo), 24);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->FramesPainted() > 0; }, 3000));
    EXPECT_EQ(window->Picture().size(), QSize(640, 480)) << "libv4lconvert converts whole frames";
    EXPECT_LE(PatternError(window->Picture()), 24);
}

namespace {

// The device through its raw calls, as a program other than ours uses it.
class RawDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        camera.Reset();
        fd = camera.Open(VirtualCamera::kPath, O_RDWR | O_NONBLOCK);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0) {
            camera.Close(fd);
        }
        camera.Reset();
    }
    int Ioctl(unsigned long request, void* arg) { return camera.Ioctl(fd, request, arg); }
    int SetControl(uint32_t id, int32_t& value) {
        v4l2_control c{id, value};
        const int r = Ioctl(VIDIOC_S_CTRL, &c);
        value = c.value;
        return r;
    }
    uint32_t Flags(uint32_t id) {
        v4l2_queryctrl q{};
        q.id = id;
        EXPECT_EQ(Ioctl(VIDIOC_QUERYCTRL, &q), 0);
        return q.flags;
    }

    VirtualCamera& camera = VirtualCamera::Instance();
    int fd = -1;
};

}  // namespace

// Values outside the range are clamped and rounded to the step, the value taken written
// back; menus refuse entries they lack; the manual settings are inactive while their
// automatic switches are on, as a USB camera's driver keeps them.
TEST_F(RawDevice, ControlsClampRoundAndKeepTheirAutomaticPairs) {
    const struct {
        uint32_t id;
        int32_t asked;
        int result;
        int32_t taken;
    } sets[] = {
        {V4L2_CID_BRIGHTNESS, 300, 0, 255},
        {V4L2_CID_BRIGHTNESS, -5, 0, 0},
        {V4L2_CID_HUE, 7, 0, 5},
        {V4L2_CID_HUE, 8, 0, 10},
        {V4L2_CID_HUE, 999, 0, 180},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 3333, 0, 3330},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 9000, 0, 6500},
        {V4L2_CID_AUTO_WHITE_BALANCE, 5, 0, 1},
        {V4L2_CID_POWER_LINE_FREQUENCY, 2, 0, 2},
        {V4L2_CID_POWER_LINE_FREQUENCY, 3, -ERANGE, 3},
        {V4L2_CID_EXPOSURE_AUTO, 2, -EINVAL, 2},  // shutter priority: not on this camera
        {V4L2_CID_USER_CLASS, 1, -EACCES, 1},
        {V4L2_CID_ZOOM_ABSOLUTE, 1, -EINVAL, 1},
    };
    for (const auto& s : sets) {
        int32_t value = s.asked;
        EXPECT_EQ(SetControl(s.id, value), s.result) << std::hex << s.id << std::dec << " " << s.asked;
        EXPECT_EQ(value, s.taken) << std::hex << s.id << std::dec << " " << s.asked;
    }

    // Menus: the power line's three entries; automatic exposure has manual and
    // aperture priority only.
    const struct {
        uint32_t id, index;
        const char* name;
    } menus[] = {{V4L2_CID_POWER_LINE_FREQUENCY, 0, "Disabled"},
                 {V4L2_CID_POWER_LINE_FREQUENCY, 1, "50 Hz"},
                 {V4L2_CID_POWER_LINE_FREQUENCY, 2, "60 Hz"},
                 {V4L2_CID_POWER_LINE_FREQUENCY, 3, nullptr},
                 {V4L2_CID_EXPOSURE_AUTO, 0, nullptr},
                 {V4L2_CID_EXPOSURE_AUTO, 1, "Manual Mode"},
                 {V4L2_CID_EXPOSURE_AUTO, 2, nullptr},
                 {V4L2_CID_EXPOSURE_AUTO, 3, "Aperture Priority Mode"},
                 {V4L2_CID_BRIGHTNESS, 0, nullptr}};
    for (const auto& m : menus) {
        v4l2_querymenu q{};
        q.id = m.id;
        q.index = m.index;
        const int r = Ioctl(VIDIOC_QUERYMENU, &q);
        EXPECT_EQ(r, m.name ? 0 : -EINVAL) << std::hex << m.id << std::dec << " " << m.index;
        if (m.name) {
            EXPECT_STREQ(reinterpret_cast<const char*>(q.name), m.name);
        }
    }

    // Automatic white balance is on (set above): its temperature is inactive; off, it
    // is not. The same for the exposure under aperture priority.
    EXPECT_TRUE(Flags(V4L2_CID_WHITE_BALANCE_TEMPERATURE) & V4L2_CTRL_FLAG_INACTIVE);
    EXPECT_TRUE(Flags(V4L2_CID_EXPOSURE_ABSOLUTE) & V4L2_CTRL_FLAG_INACTIVE);
    int32_t off = 0, manual = V4L2_EXPOSURE_MANUAL;
    ASSERT_EQ(SetControl(V4L2_CID_AUTO_WHITE_BALANCE, off), 0);
    ASSERT_EQ(SetControl(V4L2_CID_EXPOSURE_AUTO, manual), 0);
    EXPECT_FALSE(Flags(V4L2_CID_WHITE_BALANCE_TEMPERATURE) & V4L2_CTRL_FLAG_INACTIVE);
    EXPECT_FALSE(Flags(V4L2_CID_EXPOSURE_ABSOLUTE) & V4L2_CTRL_FLAG_INACTIVE);

    // Several at once: checked together before any is set.
    v4l2_ext_control both[2] = {{}, {}};
    both[0].id = V4L2_CID_CONTRAST;
    both[0].value = 17;
    both[1].id = V4L2_CID_POWER_LINE_FREQUENCY;
    both[1].value = 7;
    v4l2_ext_controls request{};
    request.which = V4L2_CTRL_WHICH_CUR_VAL;
    request.count = 2;
    request.controls = both;
    EXPECT_EQ(Ioctl(VIDIOC_S_EXT_CTRLS, &request), -ERANGE);
    EXPECT_EQ(request.error_idx, 2u);
    v4l2_control contrast{V4L2_CID_CONTRAST, 0};
    ASSERT_EQ(Ioctl(VIDIOC_G_CTRL, &contrast), 0);
    EXPECT_EQ(contrast.value, 128) << "nothing was set";

    // Every control is found by walking the list.
    int listed = 0;
    v4l2_queryctrl walk{};
    walk.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (Ioctl(VIDIOC_QUERYCTRL, &walk) == 0) {
        ++listed;
        walk.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    EXPECT_EQ(listed, 15);
}

// Motion-JPEG frames come as USB cameras send them: most without Huffman tables, some
// with an AVI1 segment (the 1080p model), numbered in sequence and stamped on the
// monotonic clock.
TEST_F(RawDevice, MotionJpegFramesComeAsUsbCamerasSendThem) {
    camera.SetSettling(false);
    TRawStream stream(camera, fd);
    ASSERT_EQ(stream.Start(V4L2_PIX_FMT_MJPEG, 640, 480), 0);
    int withTables = 0, withoutTables = 0;
    uint32_t lastSequence = 0;
    timeval lastStamp{};
    for (int i = 0; i < 12; ++i) {
        v4l2_buffer b{};
        ASSERT_EQ(stream.Next(b), 0);
        const uint8_t* data = stream.Data(b);
        const std::string head(reinterpret_cast<const char*>(data), std::min<uint32_t>(b.bytesused, 600));
        EXPECT_EQ(uint8_t(head[0]), 0xFF);
        EXPECT_EQ(uint8_t(head[1]), 0xD8);
        EXPECT_EQ(head.substr(6, 4), "AVI1");
        EXPECT_EQ(head.find("JFIF"), std::string::npos);
        (head.find("\xFF\xC4") != std::string::npos ? withTables : withoutTables)++;
        EXPECT_EQ(data[b.bytesused - 2], 0xFF);
        EXPECT_EQ(data[b.bytesused - 1], 0xD9);
        EXPECT_TRUE(b.flags & V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC);
        if (i > 0) {
            EXPECT_GT(b.sequence, lastSequence);
            EXPECT_TRUE(timercmp(&b.timestamp, &lastStamp, >));
        }
        lastSequence = b.sequence;
        lastStamp = b.timestamp;
        ASSERT_EQ(Ioctl(VIDIOC_QBUF, &b), 0);
    }
    EXPECT_GT(withoutTables, withTables);
    EXPECT_GT(withTables, 0);
}

// Unplugged mid-stream: poll reports POLLERR | POLLHUP at once, the dequeue fails with
// ENODEV, and so does every further call on the descriptor but close.
TEST_F(RawDevice, AnUnpluggedCameraPollsAsAnErrorAndAnswersNoSuchDevice) {
    TRawStream stream(camera, fd);
    ASSERT_EQ(stream.Start(V4L2_PIX_FMT_YUYV, 640, 480), 0);
    v4l2_buffer b{};
    ASSERT_EQ(stream.Next(b), 0);
    ASSERT_EQ(Ioctl(VIDIOC_QBUF, &b), 0);
    camera.Unplug();
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(camera.Poll(&p, 1, 2000), 1);
    EXPECT_EQ(p.revents, POLLERR | POLLHUP);
    v4l2_buffer gone{};
    gone.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    gone.memory = V4L2_MEMORY_MMAP;
    EXPECT_EQ(Ioctl(VIDIOC_DQBUF, &gone), -ENODEV);
    v4l2_capability cap{};
    EXPECT_EQ(Ioctl(VIDIOC_QUERYCAP, &cap), -ENODEV);
    EXPECT_EQ(camera.Open(VirtualCamera::kPath, O_RDWR), -ENODEV);
    EXPECT_EQ(stream.Stop(), 0);  // the mappings let go of, as after any unplug
    EXPECT_EQ(camera.Close(fd), 0);
    fd = -1;
}
