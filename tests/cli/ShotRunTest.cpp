// snapix-shot's run in this process, where the virtual camera can be made to fail the
// way real ones do: held by another program, unplugged during a series.
#include "cli/Shot.h"

#include <cstdio>

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "capture/VirtualCamera.h"
#include "support/TestFiles.h"

namespace {

class ShotRun : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        photos = dir.filePath(QStringLiteral("photos"));
        VirtualCamera::Instance().Reset();
    }
    void TearDown() override { VirtualCamera::Instance().Reset(); }

    // Runs the tool's work on the given arguments; its program folder is the test folder.
    int Run(QStringList args) {
        args << QStringLiteral("--virtual-camera") << QStringLiteral("-o") << photos;
        const TShotParse parsed = ParseShotOptions(args);
        EXPECT_TRUE(parsed.Ok()) << parsed.Error.toStdString();
        FILE* outFile = std::tmpfile();
        FILE* errFile = std::tmpfile();
        const int status = RunShot(parsed.Options, dir.path(), outFile, errFile);
        out = ReadBack(outFile);
        err = ReadBack(errFile);
        return status;
    }

    static QString ReadBack(FILE* file) {
        std::rewind(file);
        QByteArray bytes;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
            bytes.append(buffer, qsizetype(n));
        }
        std::fclose(file);
        return QString::fromUtf8(bytes);
    }

    QTemporaryDir dir;
    QString photos;
    QString out, err;
};

TEST_F(ShotRun, CameraHeldByAnotherProgramIsSaid) {
    VirtualCamera::Faults faults;
    faults.busyOnBuffers = true;
    VirtualCamera::Instance().SetFaults(faults);
    EXPECT_EQ(Run({}), kExitFailed);
    EXPECT_TRUE(
        err.contains("Snapix Virtual Camera (virtual:0) is busy: another program is "
                     "using it"))
        << qPrintable(err);
    EXPECT_TRUE(out.isEmpty());

    // Refused when the size is set, before the stream.
    faults = {};
    faults.busyOnFormat = true;
    VirtualCamera::Instance().SetFaults(faults);
    EXPECT_EQ(Run({"--size=320x240"}), kExitFailed);
    EXPECT_TRUE(err.contains("is busy: another program is using it")) << qPrintable(err);
}

// A camera starts dark while its exposure settles: the first photograph waits until the
// brightness stops changing, unless --skip names the picture to take.
TEST_F(ShotRun, TheFirstPhotographWaitsForTheExposureToSettleUnlessSkipSaysWhich) {
    const struct {
        QStringList args;
        bool settled;
    } cases[] = {{{}, true}, {{"--skip=0"}, false}, {{"--skip=45"}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(Run(c.args + QStringList{"--bmp"}), kExitStored) << qPrintable(err);
        const qint64 took = clock.elapsed();
        const QImage photo(out.trimmed());
        ASSERT_FALSE(photo.isNull()) << qPrintable(out);
        // The white bar, a quarter down: white once settled, grey at the dark start.
        const int white = qGray(photo.pixel(photo.width() / 16, photo.height() / 4));
        if (c.settled) {
            EXPECT_GE(white, 245);
            EXPECT_GE(took, 1000) << "the exposure takes a second to settle";
        } else {
            EXPECT_LE(white, 100);
            EXPECT_LT(took, 1000);
        }
        EXPECT_LT(took, 4000);
        QFile::remove(out.trimmed());
    }
}

// The brightness must have held over a whole 300 ms: a machine too busy to look at
// more than one picture in that time does not take its one look for a steady picture.
TEST(ExposureSettled, TheBrightnessHeldOverTheWholeWindow) {
    using Means = std::vector<std::pair<double, double>>;
    const struct {
        Means means;
        double now;
        bool settled;
    } cases[] = {
        {{{0, 120}, {100, 120.5}, {200, 121}, {320, 121}}, 320, true},
        {{{0, 40}, {100, 80}, {200, 110}, {320, 121}}, 320, false},
        {{{0, 120}, {100, 120}}, 100, false},  // not looked at for a whole window yet
        {{{0, 40}, {340, 121}}, 340, false},   // the one look after a stall
        {{{0, 40}, {340, 121}, {700, 121.5}}, 700, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExposureSettled(c.means, c.now), c.settled) << c.now << " " << c.means.size();
    }
}

TEST_F(ShotRun, CameraUnpluggedDuringASeriesEndsItWithTheReason) {
    // Unplugged once the first photograph is in its folder; the second one is due 30
    // seconds later, so the series is waiting when the camera goes.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!EntriesOf(photos).isEmpty()) {
            VirtualCamera::Instance().Unplug();
            watch.stop();
        }
    });
    watch.start(5);
    EXPECT_EQ(Run({"--count=3", "--interval=30"}), kExitFailed);
    EXPECT_EQ(out.split('\n', Qt::SkipEmptyParts).size(), 1);
    EXPECT_TRUE(err.contains("摄像头已断开")) << qPrintable(err);
    EXPECT_TRUE(err.contains("1 of 3 photographs taken")) << qPrintable(err);
    EXPECT_EQ(VirtualCamera::Instance().OpenDescriptors(), 0);
}

}  // namespace
