// snapix-shot --id-photo as a user runs it: a real process, picture files with a real
// face, the camera, the standards list, and the command lines it refuses.
#include <cmath>

#include <QDir>
#include <QFile>
#include <QLineF>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "photocut/Portraits.h"
#include "support/JpegCheck.h"
#include "support/TestFiles.h"

namespace {

struct TRun {
    int Exit = -1;
    QStringList Out;
    QString Err;
};

// snapix-shot (or a copy of it, `program`) run with `args`, and with `picture` as the
// virtual camera's scene.
TRun RunShot(const QStringList& args, const QString& picture = QString(),
             const QString& program = QStringLiteral(SNAPIX_SHOT_BINARY)) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        env.remove(QString::fromLatin1(name));
    }
    if (!picture.isEmpty()) {
        env.insert(QStringLiteral("SNAPIX_VIRTUAL_CAMERA_PICTURE"), picture);
    }
    process.setProcessEnvironment(env);
    process.start(program, args);
    TRun run;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit) {
        run.Exit = process.exitCode();
    }
    run.Out = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

}  // namespace

TEST(IdPhotoShot, FromFilesOneIdentityPhotoPerFaceAndNoneWithoutOne) {
    ASSERT_PORTRAIT();
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in"));
    const QString out = dir.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(in));
    const TComposite wall = OnWall({1920, 1080}, 3.0, {960, 780}, false);
    ASSERT_TRUE(wall.Picture.save(in + QStringLiteral("/wall.png")));
    ASSERT_TRUE(Place({640, 480}, 0.9, {320, 240}, 6).Picture.save(in + QStringLiteral("/tilted.jpg"), "JPEG", 92));
    QImage empty(800, 600, QImage::Format_RGB32);
    empty.fill(QColor(200, 200, 190));
    ASSERT_TRUE(empty.save(in + QStringLiteral("/empty.jpg")));

    const TRun run = RunShot({QStringLiteral("--id-photo"), QStringLiteral("二寸"),
                              QStringLiteral("--background"), QStringLiteral("white"),
                              QStringLiteral("--kb"), QStringLiteral("30-100"), QStringLiteral("-o"),
                              out, QStringLiteral("--from"), in + QStringLiteral("/wall.png"),
                              in + QStringLiteral("/empty.jpg"), in + QStringLiteral("/tilted.jpg")});
    EXPECT_EQ(run.Exit, 1) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("empty.jpg: 未检测到人脸"))) << run.Err.toStdString();
    ASSERT_EQ(run.Out.size(), 2) << run.Err.toStdString();
    EXPECT_EQ(run.Out[0], out + QStringLiteral("/wall_二寸.jpg"));
    EXPECT_EQ(run.Out[1], out + QStringLiteral("/tilted_二寸.jpg"));
    EXPECT_EQ(EntriesOf(out).size(), 2);
    for (const QString& path : run.Out) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray bytes = ReadBytes(path);
        EXPECT_GE(bytes.size(), 30 * 1024);
        EXPECT_LE(bytes.size(), 100 * 1000);
        const StrictJpeg jpeg = StrictDecode(bytes);
        ASSERT_TRUE(jpeg.Ok()) << jpeg.Error.toStdString();
        EXPECT_EQ(QSize(jpeg.Width, jpeg.Height), QSize(413, 579));
        EXPECT_EQ((uchar(bytes[14]) << 8) | uchar(bytes[15]), 300);
    }
    // The plain wall became white: the top corners of the photo are.
    const QImage made(run.Out[0]);
    EXPECT_GT(qGray(made.pixel(5, 5)), 245);
    EXPECT_GT(qGray(made.pixel(407, 5)), 245);
}

TEST(IdPhotoShot, TheCameraWithNoFaceInFrontOfItStoresNothing) {
    QTemporaryDir dir;
    const TRun run = RunShot({QStringLiteral("--virtual-camera"), QStringLiteral("--id-photo"),
                              QStringLiteral("1inch"), QStringLiteral("-o"), dir.path()});
    EXPECT_EQ(run.Exit, 1);
    EXPECT_TRUE(run.Err.contains(QStringLiteral("未检测到人脸"))) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.isEmpty());
    EXPECT_TRUE(EntriesOf(dir.path()).isEmpty());
}

// The face search is a module loaded on the first search: a copy of the tool without it
// says where it looked and stores nothing, and the photographs that need no face still work.
TEST(IdPhotoShot, ACopyWithoutTheFaceModuleSaysSoAndStoresNothing) {
    ASSERT_PORTRAIT();
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("snapix-shot"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(SNAPIX_SHOT_BINARY), program));
    const QString out = dir.filePath(QStringLiteral("out"));
    const TRun run =
        RunShot({QStringLiteral("--id-photo"), QStringLiteral("1inch"), QStringLiteral("-o"), out,
                 QStringLiteral("--from"), QStringLiteral(SNAPIX_TEST_PORTRAIT)},
                QString(), program);
    EXPECT_EQ(run.Exit, 1);
    EXPECT_TRUE(run.Err.contains(QStringLiteral("找不到人脸识别模块 (") + dir.path() +
                                 QStringLiteral("/libsnapix-faces.so")))
        << run.Err.toStdString();
    EXPECT_TRUE(run.Out.isEmpty());
    EXPECT_TRUE(EntriesOf(out).isEmpty());

    const TRun plain = RunShot({QStringLiteral("--virtual-camera"), QStringLiteral("-o"), out},
                               QString(), program);
    EXPECT_EQ(plain.Exit, 0) << plain.Err.toStdString();
    EXPECT_EQ(plain.Out.size(), 1);
}

// The whole road: the portrait in front of the virtual camera, which starts dark and
// settles, sends its 1920x1080 Motion-JPEG frames, and the tool frames, cuts, recolours
// and encodes the identity photo. The head lands where the passport standard wants it,
// and the face is as bright as in the scene: the photograph waited for the exposure.
TEST(IdPhotoShot, ThePortraitInFrontOfTheCameraBecomesAFramedIdentityPhoto) {
    ASSERT_PORTRAIT();
    QTemporaryDir dir;
    // A blue studio wall, turned white for the passport.
    const TComposite scene = OnWall({1920, 1080}, 2.0, {960, 600}, false, QColor(67, 142, 219));
    const QString picture = dir.filePath(QStringLiteral("scene.png"));
    ASSERT_TRUE(scene.Picture.save(picture));
    const QString out = dir.filePath(QStringLiteral("out"));
    const TRun run = RunShot(
        {QStringLiteral("--virtual-camera"), QStringLiteral("--id-photo"),
         QStringLiteral("passport"), QStringLiteral("--background"), QStringLiteral("white"),
         QStringLiteral("--kb"), QStringLiteral("14-20"), QStringLiteral("-o"), out},
        picture);
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("1920x1080 MJPEG"))) << run.Err.toStdString();
    ASSERT_EQ(run.Out.size(), 1);
    EXPECT_EQ(EntriesOf(out).size(), 1);
    const QByteArray bytes = ReadBytes(run.Out[0]);
    EXPECT_GE(bytes.size(), 14 * 1024);
    EXPECT_LE(bytes.size(), 20 * 1000);
    const StrictJpeg jpeg = StrictDecode(bytes);
    ASSERT_TRUE(jpeg.Ok()) << jpeg.Error.toStdString();
    ASSERT_EQ(QSize(jpeg.Width, jpeg.Height), QSize(390, 567));

    const QImage made(run.Out[0]);
    ExpectFramed(made.convertToFormat(QImage::Format_BGR888),
                 *IdPhotoStandards::Find(QStringLiteral("passport")));
    EXPECT_GT(qGray(made.pixel(5, 5)), 245) << "the plain wall became white";

    const TTruth t;
    const TSeenPortrait seen = SeenPortrait(made);
    const double eyes = QLineF(seen.LeftEye, seen.RightEye).length();
    const double inScene =
        MeanLuma(scene.Picture, scene.Truth.Face.center(),
                 int(0.3 * QLineF(scene.Truth.LeftEye, scene.Truth.RightEye).length()));
    const double inPhoto = MeanLuma(made, seen.Map(t.Face.center()), int(0.3 * eyes));
    EXPECT_NEAR(inPhoto / inScene, 1.0, 0.05) << inPhoto << " against " << inScene;
}

// A picture the camera cannot show ends the run before the camera starts: the reason on
// standard error, exit 1, nothing stored; never the pattern in its place.
TEST(IdPhotoShot, APictureTheCameraCannotShowIsSaidAndNothingIsStored) {
    QTemporaryDir dir;
    const QString garbage = dir.filePath(QStringLiteral("garbage.png"));
    WriteBytes(garbage, QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(300, 'x'));
    const struct {
        QString Picture;
        QStringList Args;
        const char* Reason;
    } cases[] = {
        {dir.filePath(QStringLiteral("missing.png")),
         {QStringLiteral("--id-photo"), QStringLiteral("1inch")},
         "missing.png"},
        {garbage, {}, "PNG"},
        {dir.path(), {}, "普通文件"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Picture.toStdString());
        const QString out = dir.filePath(QStringLiteral("out"));
        const TRun run = RunShot(
            QStringList{QStringLiteral("--virtual-camera"), QStringLiteral("-o"), out} + c.Args,
            c.Picture);
        EXPECT_EQ(run.Exit, 1);
        EXPECT_TRUE(run.Err.contains(QStringLiteral("SNAPIX_VIRTUAL_CAMERA_PICTURE")))
            << run.Err.toStdString();
        EXPECT_TRUE(run.Err.contains(QString::fromUtf8(c.Reason))) << run.Err.toStdString();
        EXPECT_TRUE(run.Out.isEmpty());
        EXPECT_TRUE(EntriesOf(out).isEmpty());
    }
}

TEST(IdPhotoShot, TheStandardsAreListed) {
    const TRun run = RunShot({QStringLiteral("--list-id-photos")});
    EXPECT_EQ(run.Exit, 0);
    ASSERT_EQ(run.Out.size(), 12);
    EXPECT_TRUE(run.Out[0].startsWith(QStringLiteral("一寸\t1inch\t295x413 px, 25x35 mm at 300 dpi")));
    EXPECT_TRUE(run.Out[7].contains(QStringLiteral("head 58.3-68.8%")));
    EXPECT_TRUE(run.Out[11].startsWith(QStringLiteral("custom:WxH")));
}

TEST(IdPhotoShot, CommandLinesThatCannotMeanAnIdentityPhotoAreRefused) {
    const QStringList cases[] = {
        {QStringLiteral("--id-photo"), QStringLiteral("三寸")},
        {QStringLiteral("--kb"), QStringLiteral("14-20")},
        {QStringLiteral("--id-photo"), QStringLiteral("一寸"), QStringLiteral("--background"),
         QStringLiteral("purple")},
        {QStringLiteral("--id-photo"), QStringLiteral("一寸"), QStringLiteral("--kb"),
         QStringLiteral("20-14")},
        {QStringLiteral("--id-photo"), QStringLiteral("一寸"), QStringLiteral("--bmp")},
        {QStringLiteral("--from"), QStringLiteral("a.jpg")},
    };
    for (const QStringList& args : cases) {
        const TRun run = RunShot(args);
        EXPECT_EQ(run.Exit, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.Out.isEmpty());
    }
}
