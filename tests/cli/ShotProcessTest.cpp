// snapix-shot as a user runs it: a real process against the virtual camera, with no
// display in its environment, its program folder (and so snapix.ini) in a test folder.
#include <csignal>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <linux/capability.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "photo/SizeLimit.h"

#include "support/ExifRead.h"
#include "support/JpegCheck.h"
#include "support/TestFiles.h"

namespace {

struct Finished {
    int Exit = -1;
    QString Out, Err;
    QStringList Lines() const { return Out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

class ShotProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        programFolder = dir.filePath(QStringLiteral("program"));
        ASSERT_TRUE(QDir().mkpath(programFolder));
        // The tool's folder decides where snapix.ini lives: a copy of its own here.
        binary = programFolder + QStringLiteral("/snapix-shot");
        if (::link(SNAPIX_SHOT_BINARY, QFile::encodeName(binary).constData()) != 0) {
            ASSERT_TRUE(QFile::copy(QStringLiteral(SNAPIX_SHOT_BINARY), binary));
        }
    }

    QString Ini() const { return programFolder + QStringLiteral("/snapix.ini"); }

    // Starts the tool with no display variables (and no virtual-camera switch: the
    // option must be enough), with `extra` ("NAME=value") added. modifier runs in the
    // child before it starts.
    void Start(QProcess& process, const QStringList& args,
               const std::function<void()>& modifier = nullptr, const QStringList& extra = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "SNAPIX_VIRTUAL_CAMERA"}) {
            env.remove(QString::fromLatin1(name));
        }
        for (const QString& variable : extra) {
            env.insert(variable.section(QLatin1Char('='), 0, 0),
                       variable.section(QLatin1Char('='), 1));
        }
        process.setProcessEnvironment(env);
        if (modifier) {
            process.setChildProcessModifier(modifier);
        }
        process.start(binary, args);
    }

    Finished Collect(QProcess& process) {
        Finished result;
        if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit) {
            result.Exit = process.exitCode();
        }
        result.Out = QString::fromUtf8(process.readAllStandardOutput());
        result.Err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    Finished Run(const QStringList& args, const std::function<void()>& modifier = nullptr,
                 const QStringList& extra = {}) {
        QProcess process;
        Start(process, args, modifier, extra);
        return Collect(process);
    }

    QTemporaryDir dir;
    QString programFolder;
    QString binary;
};

// Each camera's sizes, then per size its formats and frame rates, what it runs at now
// marked; the switch may name other models.
TEST_F(ShotProcess, ListsTheCamerasWithTheirSizesFormatsAndFrameRates) {
    const QString all = QStringLiteral("30 20 15 10 5 fps");
    const Finished run = Run({"--list", "--virtual-camera"});
    EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Lines(),
              (QStringList{"0\tSnapix Virtual Camera\tvirtual:0\t160x120 320x240 640x480* "
                           "800x600 1280x720 1920x1080",
                           "\t160x120\tYUYV " + all + ", MJPEG " + all,
                           "\t320x240\tYUYV " + all + ", MJPEG " + all,
                           "\t640x480\tYUYV 30* 20 15 10 5 fps, MJPEG " + all,
                           "\t800x600\tMJPEG " + all,
                           "\t1280x720\tYUYV 10 5 fps, MJPEG " + all,
                           "\t1920x1080\tYUYV 5 fps, MJPEG " + all}));

    const Finished two = Run({"--list"}, nullptr, {"SNAPIX_VIRTUAL_CAMERA=vga,mjpeg"});
    EXPECT_EQ(two.Exit, 0) << two.Err.toStdString();
    const QStringList lines = two.Lines();
    ASSERT_EQ(lines.size(), 12) << two.Out.toStdString();
    EXPECT_EQ(lines[0], "0\tSnapix Virtual Camera VGA\tvirtual:vga\t160x120 176x144 320x240 "
                        "352x288 640x480*");
    EXPECT_EQ(lines[6], "1\tSnapix Virtual Camera MJPEG\tvirtual:mjpeg\t160x120 320x240 "
                        "640x480 1280x720* 1920x1080");
    EXPECT_EQ(lines[10], "\t1280x720\tMJPEG 30* 20 15 10 5 fps");
}

TEST_F(ShotProcess, TakesOnePhotographWithEveryOption) {
    WriteBytes(Ini(), "[Snapix]\nMaxFileNo=41\n");
    const QString photos = dir.filePath(QStringLiteral("photos"));  // made by the tool
    const Finished run = Run({"--virtual-camera",
                              "--device=virtual:0",
                              "--size",
                              "320x240",
                              "--output",
                              photos,
                              "--prefix",
                              "shot_",
                              "--serial",
                              "--quality",
                              "90",
                              "--output-size",
                              "1600x1200",
                              "--bw",
                              "--caption",
                              "Snapix",
                              "--caption",
                              "第二行",
                              "--caption",
                              "three",
                              "--date",
                              "--time",
                              "--delay",
                              "0.2",
                              "--control",
                              "brightness=20",
                              "--control",
                              "contrast=100",
                              "--control",
                              "colour=off"});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    const QString expected = photos + QStringLiteral("/shot_00000042.jpg");
    EXPECT_EQ(run.Lines(), QStringList{expected});

    const StrictJpeg jpeg = StrictDecode(ReadBytes(expected));
    ASSERT_TRUE(jpeg.Ok()) << jpeg.Error.toStdString();
    EXPECT_EQ(QSize(jpeg.Width, jpeg.Height), QSize(1600, 1200));
    int worst = 0;
    for (int y = 0; y < jpeg.Height; y += 7) {
        const uchar* row = jpeg.Picture.constScanLine(y);
        for (int x = 0; x < jpeg.Width; ++x) {
            const int r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
            worst = std::max({worst, std::abs(r - g), std::abs(g - b)});
        }
    }
    EXPECT_LE(worst, 2) << "a black-and-white photograph has no colour";
    EXPECT_TRUE(ReadBytes(Ini()).contains("MaxFileNo=42"));
}

// The series goes, without --output, into the photo folder snapix.ini names.
TEST_F(ShotProcess, TakesASeriesIntoTheStoredPhotoFolder) {
    const QString photos = dir.filePath(QStringLiteral("stored"));
    WriteBytes(Ini(), "[Snapix]\nSavePath=" + QFile::encodeName(photos) + "\n");
    const Finished run =
        Run({"--virtual-camera", "--count", "3", "--interval", "0.3", "--prefix", "s"});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    const QStringList lines = run.Lines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(QSet<QString>(lines.begin(), lines.end()).size(), 3);
    for (const QString& line : lines) {
        EXPECT_TRUE(line.startsWith(photos + QStringLiteral("/s"))) << line.toStdString();
        EXPECT_TRUE(StrictDecode(ReadBytes(line)).Ok()) << line.toStdString();
    }
    EXPECT_EQ(EntriesOf(photos).size(), 3);
}

// Caption text needs fonts, which must work with the offscreen platform alone.
TEST_F(ShotProcess, CaptionTextIsDrawnWithoutADisplay) {
    // The third caption line sits at y 50 of a 640x480 picture, on the test pattern's
    // white bar: anything black there is ink.
    auto blackInCaptionBand = [this](const QStringList& captions) {
        QStringList args = {"--virtual-camera", "--size=640x480", "--bmp", "-o", dir.path()};
        for (const QString& caption : captions) {
            args << QStringLiteral("--caption=") + caption;
        }
        const Finished run = Run(args);
        EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
        const QImage photo(run.Lines().value(0));
        EXPECT_EQ(photo.size(), QSize(640, 480));
        int black = 0;
        for (int y = 50; y < 70 && !photo.isNull(); ++y) {
            for (int x = 10; x < 75; ++x) {
                black += qGray(photo.pixel(x, y)) < 64;
            }
        }
        QFile::remove(run.Lines().value(0));
        return black;
    };
    EXPECT_EQ(blackInCaptionBand({}), 0);
    EXPECT_GT(blackInCaptionBand({"", "", "HHHH"}), 20);
}

// --max-kb keeps each file within its limit, starting from the output size the size rule
// gives it (not the camera's own size); limits above 500 KB act as 500 KB.
TEST_F(ShotProcess, MaxKbKeepsEachFileWithinItsLimit) {
    const struct {
        const char* Kb;
        int64_t Bytes;
        QSize Start;
        bool StaysAtStart;  // a limit no picture can miss at the rule's size
    } cases[] = {
        {"500", 500 * 1024, {2816, 2112}, true},
        {"3000", 500 * 1024, {2816, 2112}, true},
        {"51", 51 * 1024, {2580, 1936}, false},
        {"5", 5 * 1024, {1600, 1200}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Kb);
        const Finished run = Run({"--virtual-camera", "--size=640x480", "-o", dir.path(),
                                  QStringLiteral("--prefix=kb%1_").arg(c.Kb),
                                  QStringLiteral("--max-kb=%1").arg(c.Kb)});
        ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
        const QByteArray file = ReadBytes(run.Lines().value(0));
        EXPECT_GT(file.size(), 0);
        EXPECT_LE(file.size(), c.Bytes);
        const StrictJpeg jpeg = StrictDecode(file);
        ASSERT_TRUE(jpeg.Ok()) << jpeg.Error.toStdString();
        const QSize size(jpeg.Width, jpeg.Height);
        if (c.StaysAtStart) {
            EXPECT_EQ(size, c.Start);
        } else {
            const std::vector<QSize> steps = PhotoPipeline::SizeLimitSteps(c.Start, {640, 480});
            EXPECT_NE(std::find(steps.begin(), steps.end(), size), steps.end())
                << size.width() << "x" << size.height();
        }
    }
}

// A limit nothing can keep (a caption longer than the limit, which the EXIF block holds):
// the smallest photograph is stored, the tool says so and fails.
TEST_F(ShotProcess, AFileLargerThanMaxKbIsStoredAndFails) {
    const Finished run = Run({"--virtual-camera", "-o", dir.path(), "--max-kb=1",
                              QStringLiteral("--caption=") + QString(1500, QLatin1Char('c'))});
    EXPECT_EQ(run.Exit, 1);
    EXPECT_TRUE(run.Err.contains("not even its smallest size keeps it within 1 KB"))
        << run.Err.toStdString();
    ASSERT_EQ(run.Lines().size(), 1);
    EXPECT_TRUE(StrictDecode(ReadBytes(run.Lines()[0])).Ok());
}

// The tool's photographs carry the EXIF block too, in the local time of its environment.
TEST_F(ShotProcess, EveryPhotographCarriesItsExifBlockInLocalTime) {
    const Finished run = Run(
        {"--virtual-camera", "-o", dir.path(), "--caption=Snapix 测试", "--caption=two", "--date"},
        nullptr, {"TZ=CST-8"});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    const QMap<QString, QString> tags = ExifTags(run.Lines().value(0));
    EXPECT_EQ(tags.value("Exif.Image.Model"), "Snapix Virtual Camera");
    EXPECT_EQ(tags.value("Exif.Image.ImageDescription"), "Snapix 测试\ntwo");
    EXPECT_EQ(tags.value("Exif.Photo.OffsetTimeOriginal"), "+08:00");
    const QString name = QFileInfo(run.Lines().value(0)).completeBaseName();
    EXPECT_EQ(tags.value("Exif.Photo.DateTimeOriginal"),
              QDateTime::fromString(name, QStringLiteral("yyyyMMddHHmmss"))
                  .toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")));
}

TEST_F(ShotProcess, WrongCommandLineIsAUsageError) {
    const Finished run = Run({"--virtual-camera", "--count=many", "-o", dir.path()});
    EXPECT_EQ(run.Exit, 2);
    EXPECT_TRUE(run.Err.contains("--count must be a whole number")) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains("snapix-shot --help"));
    EXPECT_TRUE(run.Out.isEmpty());
}

// Nothing is stored and the reason is said, before any camera is started.
TEST_F(ShotProcess, FolderThatCannotTakePhotographsFails) {
    const QString locked = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(locked));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    const QString file = dir.filePath(QStringLiteral("plain-file"));
    WriteBytes(file, "x");
    // Root writes into any folder; without this capability it obeys the mode as others do.
    const auto asOrdinaryUser = [] { ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0); };
    const struct {
        QString Output;
        const char* Says;
    } cases[] = {
        {locked, "cannot store photographs in"},
        {file, "is a file, not a folder"},
        {dir.filePath(QStringLiteral("no/such/folder")), "cannot create the folder"},
    };
    for (const auto& c : cases) {
        const Finished run = Run({"--virtual-camera", "-o", c.Output}, asOrdinaryUser);
        EXPECT_EQ(run.Exit, 1) << c.Output.toStdString();
        EXPECT_TRUE(run.Err.contains(QString::fromUtf8(c.Says))) << run.Err.toStdString();
        EXPECT_TRUE(run.Out.isEmpty()) << run.Out.toStdString();
    }
    EXPECT_TRUE(EntriesOf(locked).isEmpty());
}

// What the camera cannot do is found before any photograph, and said.
TEST_F(ShotProcess, CameraThatCannotDoWhatIsAskedFails) {
    const struct {
        QStringList Args;
        const char* Says;
    } cases[] = {
        {{"--control=brightness=300"}, "brightness 300 is outside the camera's range 0 to 255"},
        {{"--size=1000x700"}, "does not deliver 1000x700 (the nearest it offers is 800x600"},
        {{"--device=3"}, "there is no camera 3: the cameras are numbered 0 to 0"},
        {{"--device=/dev/null"}, "/dev/null is not a camera"},
    };
    for (const auto& c : cases) {
        const Finished run = Run(QStringList{"--virtual-camera", "-o", dir.path()} + c.Args);
        EXPECT_EQ(run.Exit, 1) << c.Args.join(' ').toStdString();
        EXPECT_TRUE(run.Err.contains(QString::fromUtf8(c.Says))) << run.Err.toStdString();
    }
    EXPECT_TRUE(EntriesOf(dir.path()).contains("program"));
    EXPECT_EQ(EntriesOf(dir.path()).size(), 1) << "nothing stored";
}

TEST_F(ShotProcess, CtrlCStopsASeriesAfterTheCurrentPhotograph) {
    QProcess process;
    Start(process, {"--virtual-camera", "--count=5", "--interval=60", "-o", dir.path()});
    ASSERT_TRUE(process.waitForStarted(60000));
    ASSERT_TRUE(process.waitForReadyRead(60000)) << "the first photograph is reported";
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    const Finished run = Collect(process);
    EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Lines().size(), 1);
    EXPECT_TRUE(run.Err.contains("1 of 5 photographs taken")) << run.Err.toStdString();
}

// A script reads the paths from standard output: when they cannot be written, the run
// fails and says so, and the photograph already stored stays.
TEST_F(ShotProcess, LostStandardOutputFailsTheRunAndKeepsThePhotographs) {
    const struct {
        const char* Case;
        std::function<void(QProcess&)> Prepare;
        const char* Says;
    } cases[] = {
        {"a full disk", [](QProcess& p) { p.setStandardOutputFile("/dev/full"); },
         "cannot write to standard output: No space left on device"},
        {"closed", [](QProcess& p) { p.setChildProcessModifier([] { ::close(STDOUT_FILENO); }); },
         "cannot write to standard output: it is closed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        const QString photos = dir.filePath(QString::fromUtf8(c.Case));
        QProcess process;
        c.Prepare(process);
        Start(process, {"--virtual-camera", "--count=2", "--interval=0.1", "-o", photos});
        const Finished run = Collect(process);
        EXPECT_EQ(run.Exit, 1) << run.Err.toStdString();
        EXPECT_TRUE(run.Err.contains(QString::fromUtf8(c.Says))) << run.Err.toStdString();
        EXPECT_TRUE(run.Err.contains("1 photograph(s) stored")) << run.Err.toStdString();
        const QStringList stored = EntriesOf(photos);
        ASSERT_EQ(stored.size(), 1) << stored.join(' ').toStdString();
        // Nothing meant for the terminal went into it.
        EXPECT_TRUE(StrictDecode(ReadBytes(photos + "/" + stored[0])).Ok());
    }
    QProcess help;
    help.setStandardOutputFile("/dev/full");
    Start(help, {"--help"});
    const Finished run = Collect(help);
    EXPECT_EQ(run.Exit, 1);
    EXPECT_TRUE(run.Err.contains("No space left on device")) << run.Err.toStdString();
}

// A run killed while writing (where the folder has no unnamed files) leaves a temporary
// file; the next run clears those older than a minute, in the photo folder and beside
// snapix.ini, and leaves younger ones, which another run may be writing.
TEST_F(ShotProcess, LeftoversOfKilledRunsAreClearedAtStart) {
    const QString photos = dir.filePath(QStringLiteral("photos"));
    ASSERT_TRUE(QDir().mkdir(photos));
    const QString oldPhoto = photos + "/.snapix-0123456789abcdef.tmp";
    const QString oldSettings = programFolder + "/.snapix-fedcba9876543210.tmp";
    const QString young = photos + "/.snapix-00000000000000aa.tmp";
    for (const QString& path : {oldPhoto, oldSettings, young}) {
        WriteBytes(path, "half a file");
    }
    for (const QString& path : {oldPhoto, oldSettings}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-120),
                                     QFileDevice::FileModificationTime));
    }
    const Finished run = Run({"--virtual-camera", "-o", photos});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_FALSE(QFile::exists(oldPhoto));
    EXPECT_FALSE(QFile::exists(oldSettings));
    EXPECT_TRUE(QFile::exists(young));
    EXPECT_EQ(EntriesOf(photos).size(), 2);
}

}  // namespace
