// Other V4L2 programs on the virtual camera through libsnapix-vcam.so, as whole
// processes: the drivers' checker on every model, a frame from each peer showing the
// pattern, a hostile client, two clients at once, and faults switched on from outside.
#include <algorithm>
#include <cmath>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "support/JpegCheck.h"
#include "support/TestFiles.h"
#include "support/TestPattern.h"

namespace {

struct TRun {
    bool finished = false;
    int exitCode = -1;
    QString output;  // standard output and error, merged
};

class PreloadTest : public ::testing::Test {
  protected:
    // The environment of a program on the camera: the library, a model, switches, and a
    // runtime folder of the test's own, so that tests running at once never share the
    // lock that makes two programs on one node busy.
    QProcessEnvironment Environment(const QString& model = QStringLiteral("1080p"),
                                    const QString& faults = QString()) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(SNAPIX_VCAM_LIBRARY));
        env.insert(QStringLiteral("SNAPIX_VCAM_MODEL"), model);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        env.remove(QStringLiteral("SNAPIX_VCAM_DEVICE"));
        env.remove(QStringLiteral("SNAPIX_VCAM_FAULTS_FILE"));
        if (faults.isEmpty()) {
            env.remove(QStringLiteral("SNAPIX_VCAM_FAULTS"));
        } else {
            env.insert(QStringLiteral("SNAPIX_VCAM_FAULTS"), faults);
        }
        return env;
    }

    static void Start(QProcess& process, const QString& program, const QStringList& args,
                      const QProcessEnvironment& env) {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, args);
    }

    static TRun Run(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                    int timeoutMs = 60000) {
        QProcess process;
        Start(process, program, args, env);
        TRun run;
        run.finished =
            process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit;
        run.exitCode = process.exitCode();
        run.output = QString::fromLocal8Bit(process.readAll());
        if (!run.finished) {
            process.kill();
            process.waitForFinished();
        }
        return run;
    }

    QString Path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

// ------------------------------------------------------------- the checker

class ComplianceTest : public PreloadTest, public ::testing::WithParamInterface<const char*> {};

// v4l2-compliance -s: every test passes and none warns (a warning to accept goes into the
// README's list and into this test, with its reason).
TEST_P(ComplianceTest, TheDriversCheckerFindsNoFailureAndNoWarning) {
    const TRun run =
        Run(QStringLiteral("v4l2-compliance"),
            {QStringLiteral("-d"), QStringLiteral("/dev/video99"), QStringLiteral("-s")},
            Environment(QString::fromLatin1(GetParam())), 110000);
    ASSERT_TRUE(run.finished) << run.output.toStdString();
    const QRegularExpression totals(
        QStringLiteral(R"(Total for snapix-virtual device /dev/video99: (\d+), )"
                       R"(Succeeded: (\d+), Failed: (\d+), Warnings: (\d+))"));
    const QRegularExpressionMatch m = totals.match(run.output);
    ASSERT_TRUE(m.hasMatch()) << run.output.toStdString();
    EXPECT_GE(m.captured(1).toInt(), 50) << "the streaming tests ran";
    EXPECT_EQ(m.captured(2), m.captured(1)) << run.output.toStdString();
    EXPECT_EQ(m.captured(3), QStringLiteral("0"));
    EXPECT_EQ(m.captured(4), QStringLiteral("0"));
    EXPECT_FALSE(run.output.contains(QStringLiteral("fail:"))) << run.output.toStdString();
    EXPECT_FALSE(run.output.contains(QStringLiteral("warn:"))) << run.output.toStdString();
    EXPECT_EQ(run.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, ComplianceTest, ::testing::Values("1080p", "vga", "mjpeg"),
                         [](const auto& info) { return std::string(info.param); });

// ------------------------------------------------------------------ peers

// A raw YUYV frame (BT.601, limited range) as R, G, B rows.
QImage FromYuyv(const QByteArray& yuyv, int width, int height) {
    QImage rgb(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const uint8_t*>(yuyv.constData()) + y * width * 2;
        uint8_t* out = rgb.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const double l = 1.164 * (in[2 * x] - 16);
            const double u = in[(x & ~1) * 2 + 1] - 128.0, v = in[(x & ~1) * 2 + 3] - 128.0;
            const double c[3] = {l + 1.596 * v, l - 0.392 * u - 0.813 * v, l + 2.017 * u};
            for (int k = 0; k < 3; ++k) {
                out[3 * x + k] = uint8_t(std::clamp(std::lround(c[k]), 0L, 255L));
            }
        }
    }
    return rgb;
}

// Each peer takes one frame from the camera, settled from the first frame, and writes it
// as it writes pictures; what it wrote decodes and shows the pattern's colours.
TEST_F(PreloadTest, EachPeerTakesAFrameThatShowsThePattern) {
    enum Kind { kPng, kJpeg, kRawYuyv };
    const struct {
        const char* name;
        const char* model;
        QString program;
        QStringList args;
        QString file;
        Kind kind;
        int width, height;
    } peers[] = {
        {"ffmpeg Motion-JPEG", "1080p", QStringLiteral("ffmpeg"),
         QStringLiteral("-hide_banner -loglevel error -f v4l2 -input_format mjpeg -video_size "
                        "1280x720 -i /dev/video99 -frames:v 1 -update 1 -y %1")
             .split(u' '),
         QStringLiteral("ffmpeg-mjpeg.png"), kPng, 1280, 720},
        {"ffmpeg YUYV", "vga", QStringLiteral("ffmpeg"),
         QStringLiteral("-hide_banner -loglevel error -f v4l2 -input_format yuyv422 -video_size "
                        "640x480 -i /dev/video99 -frames:v 1 -update 1 -y %1")
             .split(u' '),
         QStringLiteral("ffmpeg-yuyv.png"), kPng, 640, 480},
        // Its frames carry bytes after the end marker, as this model's do.
        {"fswebcam", "mjpeg", QStringLiteral("fswebcam"),
         QStringLiteral("-q -d /dev/video99 -p MJPEG -r 1280x720 --no-banner --jpeg 95 %1")
             .split(u' '),
         QStringLiteral("fswebcam.jpg"), kJpeg, 1280, 720},
        {"v4l2-ctl", "1080p", QStringLiteral("v4l2-ctl"),
         QStringLiteral("-d /dev/video99 --set-fmt-video=width=640,height=480,pixelformat=YUYV "
                        "--stream-mmap --stream-count=1 --stream-to=%1")
             .split(u' '),
         QStringLiteral("v4l2-ctl.yuyv"), kRawYuyv, 640, 480},
    };
    for (const auto& peer : peers) {
        SCOPED_TRACE(peer.name);
        const QString file = Path(peer.file);
        QStringList args;
        for (const QString& a : peer.args) {
            args << QString(a).replace(QStringLiteral("%1"), file);
        }
        const TRun run =
            Run(peer.program, args, Environment(QString::fromLatin1(peer.model), "settling=0"));
        ASSERT_TRUE(run.finished) << run.output.toStdString();
        ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
        const QByteArray bytes = ReadBytes(file);
        QImage picture;
        switch (peer.kind) {
            case kPng:
                picture = QImage::fromData(bytes, "PNG").convertToFormat(QImage::Format_RGB888);
                break;
            case kJpeg: {
                const StrictJpeg jpeg = StrictDecode(bytes);
                ASSERT_TRUE(jpeg.Error.isEmpty()) << jpeg.Error.toStdString();
                picture = jpeg.Picture;
                break;
            }
            case kRawYuyv:
                ASSERT_EQ(bytes.size(), qsizetype(peer.width) * peer.height * 2);
                picture = FromYuyv(bytes, peer.width, peer.height);
                break;
        }
        ASSERT_EQ(picture.size(), QSize(peer.width, peer.height));
        // Motion-JPEG at quality 80 with light grain, YUV rounding, a peer's own JPEG.
        EXPECT_LE(PatternError(picture), 24);
    }
}

// ------------------------------------------------------------------ clients

// Bad addresses in every request are EFAULT for the caller, never a crash of the program
// that loaded the library; refused requests change nothing and the camera streams on.
TEST_F(PreloadTest, AHostileClientGetsEfaultAndTheCameraStreamsOn) {
    const TRun run =
        Run(QStringLiteral(SNAPIX_VCAM_CLIENT), {QStringLiteral("hostile")}, Environment(), 30000);
    ASSERT_TRUE(run.finished) << "the client crashed or hung:\n" << run.output.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QStringLiteral("hostile: 0 failed")))
        << run.output.toStdString();
}

// Two descriptors in one program, and two programs: the second may stream only while the
// first does not (EBUSY), as a driver shares a camera.
TEST_F(PreloadTest, TwoClientsTakeTheStreamInTurn) {
    const TRun two =
        Run(QStringLiteral(SNAPIX_VCAM_CLIENT), {QStringLiteral("two")}, Environment(), 30000);
    ASSERT_TRUE(two.finished) << two.output.toStdString();
    EXPECT_EQ(two.exitCode, 0) << two.output.toStdString();

    QProcess streamer;
    Start(streamer, QStringLiteral("v4l2-ctl"),
          QStringLiteral("-d /dev/video99 --stream-mmap --stream-count=900").split(u' '),
          Environment());
    ASSERT_TRUE(QTest::qWaitFor([&] { return streamer.readAll().contains('<'); }, 10000))
        << "the first program streams";
    const TRun busy =
        Run(QStringLiteral(SNAPIX_VCAM_CLIENT), {QStringLiteral("busy")}, Environment(), 30000);
    EXPECT_EQ(busy.exitCode, 0) << busy.output.toStdString();
    streamer.kill();
    streamer.waitForFinished();
    // Its lock went with it: the next program streams.
    const TRun after =
        Run(QStringLiteral("v4l2-ctl"),
            QStringLiteral("-d /dev/video99 --stream-mmap --stream-count=3").split(u' '),
            Environment());
    EXPECT_EQ(after.exitCode, 0) << after.output.toStdString();
}

// ----------------------------------------------------------------- faults

// The camera's faults from the environment, as every program then meets them (v4l2-ctl
// says what failed, though it exits 0 after some of them).
TEST_F(PreloadTest, FaultsFromTheEnvironmentReachAPeer) {
    const struct {
        const char* faults;
        const char* args;
        const char* says;
    } cases[] = {
        {"busyOnOpen", "--all", "Device or resource busy"},
        {"unplugged", "--all", "No such device"},
        {"busyOnFormat", "--set-fmt-video=width=320,height=240", "Device or resource busy"},
        {"streamOnFails", "--stream-mmap --stream-count=1", "Input/output error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults);
        const TRun run =
            Run(QStringLiteral("v4l2-ctl"),
                (QStringLiteral("-d /dev/video99 ") + QLatin1String(c.args)).split(u' '),
                Environment(QStringLiteral("1080p"), QLatin1String(c.faults)));
        ASSERT_TRUE(run.finished);
        EXPECT_TRUE(run.output.contains(QLatin1String(c.says))) << run.output.toStdString();
    }
    // A word the camera does not know is said, and the camera works without it.
    const TRun wrong =
        Run(QStringLiteral("v4l2-ctl"),
            QStringLiteral("-d /dev/video99 --stream-mmap --stream-count=1").split(u' '),
            Environment(QStringLiteral("1080p"), QStringLiteral("corruptEvery=x")));
    EXPECT_EQ(wrong.exitCode, 0) << wrong.output.toStdString();
    EXPECT_TRUE(wrong.output.contains(QStringLiteral("unknown switch \"corruptEvery=x\"")))
        << wrong.output.toStdString();
}

// Unplugged at run time through the switch file: a client sees what the capture layer's
// tests expect of a driver (POLLERR | POLLHUP, then ENODEV), and a peer stops on it.
TEST_F(PreloadTest, AnUnplugAtRunTimeReachesEveryProgram) {
    QProcessEnvironment env = Environment();
    const QString switches = Path(QStringLiteral("switches"));
    env.insert(QStringLiteral("SNAPIX_VCAM_FAULTS_FILE"), switches);
    const TRun client =
        Run(QStringLiteral(SNAPIX_VCAM_CLIENT), {QStringLiteral("unplug")}, env, 30000);
    ASSERT_TRUE(client.finished) << client.output.toStdString();
    EXPECT_EQ(client.exitCode, 0) << client.output.toStdString();

    WriteBytes(switches, "");
    QProcess peer;
    Start(peer, QStringLiteral("v4l2-ctl"),
          QStringLiteral("-d /dev/video99 --stream-mmap --stream-count=900").split(u' '), env);
    QByteArray seen;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (seen += peer.readAll()).contains('<'); }, 10000));
    WriteBytes(switches, "unplugged\n");
    // 900 frames take half a minute: it ended because the camera went.
    ASSERT_TRUE(peer.waitForFinished(5000)) << "the peer stopped on the unplug";
    seen += peer.readAll();
    EXPECT_TRUE(seen.contains("VIDIOC_DQBUF: failed: No such device")) << seen.toStdString();

    // The file's switches count from a program's start too; a file that is not one of
    // switches is said and changes nothing.
    const TRun unplugged =
        Run(QStringLiteral("v4l2-ctl"), QStringLiteral("-d /dev/video99 --all").split(u' '), env);
    EXPECT_TRUE(unplugged.output.contains(QLatin1String("No such device")))
        << unplugged.output.toStdString();
    env.insert(QStringLiteral("SNAPIX_VCAM_FAULTS_FILE"), QStringLiteral("/dev/zero"));
    const TRun zero =
        Run(QStringLiteral("v4l2-ctl"),
            QStringLiteral("-d /dev/video99 --stream-mmap --stream-count=1").split(u' '), env);
    EXPECT_EQ(zero.exitCode, 0) << zero.output.toStdString();
    EXPECT_TRUE(zero.output.contains(QLatin1String("/dev/zero: not a file of switches")))
        << zero.output.toStdString();
}

}  // namespace
