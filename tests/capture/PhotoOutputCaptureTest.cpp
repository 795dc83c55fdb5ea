// Photographs end to end: TSnapixture::Capture from the virtual camera to the placed file.
#include <cerrno>
#include <cstring>

#include <sys/mount.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include "support/ExifRead.h"
#include "support/JpegCheck.h"
#include "support/TestFiles.h"

#include "support/VirtualCameraFixture.h"

namespace {

bool IsGrey(const QImage& image) {
    for (int y = 0; y < image.height(); y += 7) {
        const uint8_t* p = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x, p += 3) {
            if (p[0] != p[1] || p[1] != p[2]) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

class PhotoOutputTest : public VirtualCameraTest {
  protected:
    void SetUp() override {
        VirtualCameraTest::SetUp();
        // These photographs are checked pixel by pixel: no dark settling frames.
        VirtualCamera::Instance().SetSettling(false);
        ASSERT_EQ(camera->Preview(), 0);
        ASSERT_TRUE(WaitForFrame());
        camera->OnBeforeCapture = [this](QObject*) { events << "before"; };
        camera->OnCapturing = [this](QObject*) {
            events << "capturing";
            atCapturing = camera->ABitmap();
        };
        camera->OnCaptured = [this](QObject*) { events << "captured"; };
    }

    QString Folder() const { return camera->SavePath; }

    QStringList events;
    QImage atCapturing;
    const QStringList all{"before", "capturing", "captured"};
};

TEST_F(PhotoOutputTest, ScaledBlackAndWhiteJpegUnderTheNextSerialName) {
    camera->FileHeader = "snap";
    camera->FileNameType = 1;
    camera->MaxNo = 41;
    camera->UseOutputResolution = true;
    camera->SetOutputResolution(0);
    camera->PhotoStyle = 1;
    camera->CompressionQuality = 90;

    ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();

    EXPECT_EQ(events, all);
    EXPECT_EQ(camera->MaxNo, 42u);
    EXPECT_EQ(camera->FileName(), Folder() + "snap00000042.jpg");
    EXPECT_EQ(EntriesOf(Folder()), QStringList{"snap00000042.jpg"});
    EXPECT_EQ(ReadBytes(camera->FileName()), camera->AJpeg());
    // Scaled before OnCapturing, turned grey after it.
    EXPECT_EQ(atCapturing.size(), QSize(1600, 1200));
    EXPECT_FALSE(IsGrey(atCapturing));
    EXPECT_EQ(camera->ABitmap().size(), QSize(1600, 1200));
    EXPECT_TRUE(IsGrey(camera->ABitmap()));
    const QImage stored = QImage::fromData(camera->AJpeg(), "JPG");
    EXPECT_EQ(stored.size(), QSize(1600, 1200));
}

// The size a caller can make memory ready for is the size the photograph gets.
TEST_F(PhotoOutputTest, NextPhotographSizeIsTheSizeCaptureGives) {
    struct Case {
        bool scaled;
        int32_t outputResolution;
        uint8_t photoSize;
        uint16_t limitKb;
    };
    const Case cases[] = {
        {false, 5, 0, 0},    // not scaled: the live picture's size
        {true, 0, 0, 0},     // 1600 x 1200
        {true, 5, 0, 0},     // 3876 x 2584
        {true, 5, 1, 50},    // the size rule chooses, whatever was set
        {true, 0, 1, 3000},  // a large limit
        {false, 0, 1, 50},   // the size rule without scaling
    };
    camera->SaveAsFile = false;
    for (const Case& c : cases) {
        camera->UseOutputResolution = c.scaled;
        camera->SetOutputResolution(c.outputResolution);
        camera->PhotoSize = c.photoSize;
        camera->PhotoSize2 = c.limitKb;
        const QSize predicted = camera->NextPhotographSize();
        ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();
        // A size-limited photograph is made at that size and may be stored smaller.
        EXPECT_EQ(predicted, atCapturing.size())
            << "scaled " << c.scaled << " index " << c.outputResolution << " limit "
            << int(c.photoSize) << "/" << c.limitKb;
        if (c.photoSize == 0) {
            EXPECT_EQ(predicted, camera->ABitmap().size());
        }
    }
}

TEST_F(PhotoOutputTest, SizeLimitForcesJpegAndStartsFromTheRulesSizeAndQuality) {
    camera->FileNameType = 2;
    camera->FileHeader = "limited";
    camera->FileFormat = 1;
    camera->PhotoSize = 1;
    camera->PhotoSize2 = 51;
    camera->UseOutputResolution = true;

    ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();

    EXPECT_EQ(camera->FileFormat, 0);
    EXPECT_EQ(camera->OutputResolution(), 2);
    EXPECT_EQ(atCapturing.size(), QSize(2580, 1936)) << "made at the rule's size first";
    EXPECT_LE(camera->CompressionQuality, 80);
    EXPECT_EQ(camera->FileName(), Folder() + "limited.jpg");
    const QByteArray stored = ReadBytes(camera->FileName());
    EXPECT_LE(stored.size(), 51 * 1024);
    EXPECT_EQ(stored, camera->AJpeg());
    EXPECT_TRUE(camera->WithinSizeLimit());
    EXPECT_TRUE(camera->Notice().isEmpty());
    EXPECT_EQ(QImage::fromData(stored, "JPG").size(), camera->ABitmap().size());
}

// A limit that not even the smallest size can keep (1 KB: libjpeg's tables and the EXIF
// block alone come near it): the smallest is stored, and the photograph says so.
TEST_F(PhotoOutputTest, ALimitNoSizeCanKeepStoresTheSmallestAndSaysSo) {
    camera->FileNameType = 2;
    camera->FileHeader = "tiny";
    camera->PhotoSize = 1;
    camera->PhotoSize2 = 1;
    camera->Title.Line1 = QString(1500, QLatin1Char('c'));

    ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();

    EXPECT_FALSE(camera->WithinSizeLimit());
    EXPECT_TRUE(camera->Notice().contains(QStringLiteral("1 KB 以内无法做到")))
        << camera->Notice().toStdString();
    const QByteArray stored = ReadBytes(camera->FileName());
    EXPECT_EQ(stored, camera->AJpeg());
    EXPECT_GT(stored.size(), 1024);
    EXPECT_EQ(camera->CompressionQuality, 1);
    // 640x480 halved down to its last size with both sides of at least 8 pixels.
    EXPECT_EQ(camera->ABitmap().size(), QSize(20, 15));
    const StrictJpeg d = StrictDecode(stored);
    EXPECT_TRUE(d.Ok()) << d.Error.toStdString();
    EXPECT_EQ(QSize(d.Width, d.Height), QSize(20, 15));
}

// A caption far longer than the limit leaves the file's record of it short enough that
// the photograph still keeps the limit; the lines on the picture are unchanged.
TEST_F(PhotoOutputTest, ALongCaptionNeverPushesASizeLimitedFileOverItsLimit) {
    camera->FileNameType = 2;
    camera->FileHeader = "caption";
    camera->PhotoSize = 1;
    camera->PhotoSize2 = 50;
    camera->Title.Line1 = QString(40000, QChar(0x4E2D));  // 120,000 bytes of UTF-8

    ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();

    EXPECT_TRUE(camera->WithinSizeLimit()) << camera->Notice().toStdString();
    const QByteArray stored = ReadBytes(camera->FileName());
    EXPECT_LE(stored.size(), 50 * 1024);
    const StrictJpeg d = StrictDecode(stored);
    EXPECT_TRUE(d.Ok()) << d.Error.toStdString();
}

// The stored file is what libjpeg itself writes for the finished photo, and a strict
// reader takes it without a warning: every output size, colour and black and white, the
// best quality, and size-rule photographs. A grainy sensor makes files of several
// megabytes, streamed to the file in many pieces while encoding.
TEST_F(PhotoOutputTest, StoredJpegIsWhatLibjpegWritesForThePhotoInEverySize) {
    camera->Stop();
    VirtualCamera::Instance().SetSensorNoise(true);
    ASSERT_EQ(camera->Preview(), 0);
    ASSERT_TRUE(WaitForFrame());
    struct Case {
        int Output;      // output size index, -1 for the camera's own size
        uint8_t Style;   // 1: black and white
        uint16_t Limit;  // size rule in kilobytes, 0 for none
    };
    const Case cases[] = {{-1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {2, 1, 0},   {3, 0, 0},
                          {4, 1, 0},  {5, 0, 0}, {5, 1, 0}, {-1, 0, 51}, {-1, 1, 60000}};
    camera->FileNameType = 1;
    // Watched (an OnCapturing handler sees the enlarged picture before it is encoded) and
    // not (it is enlarged while it is encoded).
    const TNotifyEvent watcher = camera->OnCapturing;
    for (const bool watched : {true, false}) {
        camera->OnCapturing = watched ? watcher : nullptr;
        for (const Case& c : cases) {
            const std::string what = std::string(watched ? "watched" : "unwatched") + " output " +
                                     std::to_string(c.Output) + " style " +
                                     std::to_string(c.Style) + " limit " + std::to_string(c.Limit);
            camera->PhotoStyle = c.Style;
            camera->CompressionQuality = 100;
            camera->UseOutputResolution = c.Output >= 0 || c.Limit > 0;
            camera->SetOutputResolution(std::max(c.Output, 0));
            camera->PhotoSize = c.Limit > 0 ? 1 : 0;
            camera->PhotoSize2 = c.Limit;
            ASSERT_EQ(camera->Capture(), 0) << what << ": " << camera->LastError().toStdString();
            const QByteArray stored = ReadBytes(camera->FileName());
            EXPECT_EQ(stored, camera->AJpeg()) << what;
            // From the first marker after the EXIF block on, libjpeg's own bytes.
            const ExifSplit split = SplitAtExif(stored);
            EXPECT_TRUE(split.Found) << what;
            EXPECT_TRUE(split.WithoutExif() ==
                        PlainLibjpeg(camera->ABitmap(), camera->CompressionQuality))
                << what << ": " << stored.size() << " bytes";
            if (c.Limit > 0) {
                EXPECT_LE(stored.size(), qMin<int>(c.Limit, 500) * 1024) << what;
            }
            EXPECT_EQ(IsGrey(camera->ABitmap()), c.Style == 1) << what;
            if (c.Output == 5) {
                EXPECT_GT(stored.size(), 2 << 20)
                    << what << ": large enough to need several pieces";
            }
            const StrictJpeg d = StrictDecode(stored);
            EXPECT_TRUE(d.Ok()) << what << ": " << d.Error.toStdString();
            EXPECT_EQ(QSize(d.Width, d.Height), camera->ABitmap().size()) << what;
        }
    }
}

// Every JPEG photograph records when its frame was taken, by which camera and program,
// its size and the caption lines on it; a size-limited one the size it was stored at.
TEST_F(PhotoOutputTest, EveryJpegPhotographCarriesItsExifBlock) {
    camera->FileHeader = "e";
    camera->Title = TRecTitle{QStringLiteral("Snapix 照片"), QStringLiteral("only at 160 wide"),
                              QStringLiteral("second line"), QString(), QString()};
    camera->PrintDate = true;
    struct Case {
        const char* What;
        bool Scaled;
        uint8_t Style;
        uint16_t LimitKb;
    };
    const Case cases[] = {
        {"live size, colour", false, 0, 0},
        {"scaled, black and white", true, 1, 0},
        {"size-limited", true, 0, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        camera->UseOutputResolution = c.Scaled;
        camera->SetOutputResolution(0);
        camera->PhotoStyle = c.Style;
        camera->PhotoSize = c.LimitKb ? 1 : 0;
        camera->PhotoSize2 = c.LimitKb;
        const QDateTime before = QDateTime::currentDateTime();
        ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();

        const QMap<QString, QString> tags = ExifTags(camera->FileName());
        EXPECT_EQ(tags.value("Exif.Image.Model"), "Snapix Virtual Camera");
        EXPECT_EQ(tags.value("Exif.Image.Software"), "Snapix " SNAPIX_VERSION);
        EXPECT_EQ(tags.value("Exif.Image.Orientation"), "1");
        EXPECT_EQ(tags.value("Exif.Image.ImageDescription"), "Snapix 照片\nsecond line");
        EXPECT_EQ(tags.value("Exif.Photo.PixelXDimension").toInt(), camera->ABitmap().width());
        EXPECT_EQ(tags.value("Exif.Photo.PixelYDimension").toInt(), camera->ABitmap().height());
        // The moment of the photograph is the moment of its name.
        const QString stamp = QFileInfo(camera->FileName()).completeBaseName().mid(1, 14);
        const QDateTime taken = QDateTime::fromString(stamp, QStringLiteral("yyyyMMddHHmmss"));
        EXPECT_EQ(tags.value("Exif.Photo.DateTimeOriginal"),
                  taken.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")));
        EXPECT_LE(std::abs(before.secsTo(taken)), 2);
        const int offset = before.offsetFromUtc() / 60;
        EXPECT_EQ(tags.value("Exif.Photo.OffsetTimeOriginal"),
                  QStringLiteral("%1%2:%3")
                      .arg(offset < 0 ? '-' : '+')
                      .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
                      .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0')));
    }
}

TEST_F(PhotoOutputTest, BmpStoresThePhotoExactlyAndKeepsThePreviousJpeg) {
    camera->FileNameType = 2;
    camera->FileHeader = "first";
    ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();
    const QByteArray firstJpeg = camera->AJpeg();
    ASSERT_FALSE(firstJpeg.isEmpty());

    camera->FileHeader = "second";
    camera->FileFormat = 1;
    ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();
    EXPECT_EQ(camera->FileName(), Folder() + "second.bmp");
    EXPECT_EQ(camera->AJpeg(), firstJpeg);
    const QImage stored = QImage(camera->FileName(), "BMP").convertToFormat(QImage::Format_BGR888);
    EXPECT_EQ(stored, camera->ABitmap());
    EXPECT_EQ(stored.size(), QSize(640, 480));
}

TEST_F(PhotoOutputTest, CaptionIsInkedOnlyWhereTheStampGoes) {
    // The virtual camera's lower third is a grey ramp with no pure black right of x = 100;
    // the 640-wide stamp with date and time starts at (480, 450).
    camera->FileFormat = 1;
    camera->FileNameType = 2;
    camera->PrintDate = true;
    camera->PrintTime = true;
    ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();
    const QImage photo = QImage(camera->FileName(), "BMP").convertToFormat(QImage::Format_BGR888);
    ASSERT_EQ(photo.size(), QSize(640, 480));
    int insideStamp = 0, outside = 0;
    for (int y = 330; y < 480; ++y) {
        for (int x = 100; x < 640; ++x) {
            const uint8_t* p = photo.constScanLine(y) + 3 * x;
            if (p[0] == 0 && p[1] == 0 && p[2] == 0) {
                (x >= 480 && y >= 450 ? insideStamp : outside)++;
            }
        }
    }
    EXPECT_GT(insideStamp, 20);
    EXPECT_EQ(outside, 0);
}

TEST_F(PhotoOutputTest, WithoutSavingEverythingButTheFileHappens) {
    camera->SaveAsFile = false;
    camera->FileNameType = 1;
    camera->MaxNo = 7;
    ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();
    EXPECT_EQ(events, all);
    EXPECT_FALSE(camera->AJpeg().isEmpty());
    EXPECT_TRUE(camera->FileName().isEmpty());
    EXPECT_EQ(camera->MaxNo, 7u);
    EXPECT_TRUE(EntriesOf(Folder()).isEmpty());
}

// A photograph never replaces an existing file, whatever the naming rule.
TEST_F(PhotoOutputTest, ATakenNameIsNeverReplaced) {
    const QDateTime now = QDateTime::currentDateTime();
    struct Case {
        const char* What;
        uint8_t NameType;
        uint32_t MaxNo;
        QStringList Existing;
        QString Expected;
        uint32_t MaxNoAfter;
    };
    QStringList sameSecond;  // every second the capture may land in
    for (int s = -1; s <= 5; ++s) {
        sameSecond << "p" + now.addSecs(s).toString("yyyyMMddHHmmss") + ".jpg";
    }
    const Case cases[] = {
        {"prefix only", 2, 0, {"p.jpg", "p_1.jpg"}, "p_2.jpg", 0},
        {"serial number that was reset",
         1,
         0,
         {"p00000001.jpg", "p00000002.jpg"},
         "p00000003.jpg",
         3},
        {"serial number wrapping", 1, 4294967295u, {"p00000000.jpg"}, "p00000001.jpg", 1},
        {"date-time in the same second", 0, 0, sameSecond, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        QTemporaryDir dir;
        camera->SavePath = dir.path() + "/";
        camera->FileHeader = "p";
        camera->FileNameType = c.NameType;
        camera->MaxNo = c.MaxNo;
        for (const QString& name : c.Existing) {
            WriteBytes(camera->SavePath + name, "earlier " + name.toUtf8());
        }

        ASSERT_EQ(camera->Capture(), 0) << camera->LastError().toStdString();

        for (const QString& name : c.Existing) {
            EXPECT_EQ(ReadBytes(camera->SavePath + name), "earlier " + name.toUtf8());
        }
        if (c.NameType == 0) {
            EXPECT_TRUE(camera->FileName().endsWith("_1.jpg")) << camera->FileName().toStdString();
        } else {
            EXPECT_EQ(camera->FileName(), camera->SavePath + c.Expected);
            EXPECT_EQ(camera->MaxNo, c.MaxNoAfter);
        }
        EXPECT_EQ(ReadBytes(camera->FileName()), camera->AJpeg());
        EXPECT_EQ(EntriesOf(dir.path()).size(), c.Existing.size() + 1);
    }
}

// A photograph that cannot be stored fails the capture, says why and leaves nothing.
TEST_F(PhotoOutputTest, UnwritableFolderFailsWithTheReasonAndLeavesNothing) {
    const QString folder = Folder();
    WriteBytes(folder + "plain-file", "not a folder");
    struct Case {
        const char* What;
        QString SavePath;
        uint8_t Format;
    };
    const Case cases[] = {
        {"missing folder, JPEG", folder + "gone/", 0},
        {"folder under a regular file, BMP", folder + "plain-file/", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        events.clear();
        camera->SavePath = c.SavePath;
        camera->FileFormat = c.Format;
        camera->FileNameType = 1;
        camera->MaxNo = 9;
        EXPECT_EQ(camera->Capture(), 1);
        EXPECT_EQ(events, QStringList({"before", "capturing"}));
        EXPECT_TRUE(camera->LastError().contains(c.SavePath + "00000010"))
            << camera->LastError().toStdString();
        EXPECT_EQ(camera->MaxNo, 10u) << "the number was used up when the name was formed";
    }
    EXPECT_EQ(EntriesOf(folder), QStringList{"plain-file"});
}

TEST_F(PhotoOutputTest, AFullDiskFailsTheCaptureAndLeavesNothing) {
    QTemporaryDir small;
    const QByteArray target = QFile::encodeName(small.path());
    if (::mount("snapix-test", target.constData(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << qt_error_string(errno).toStdString()
                     << "); PhotoFile.AWriteThatFailsRemovesTheTemporaryFileAndKeepsTheOldPhoto "
                        "covers the failing write";
    }
    struct Unmount {
        QByteArray Path;
        ~Unmount() { ::umount2(Path.constData(), MNT_DETACH); }
    } unmount{target};
    camera->SavePath = small.path() + "/";
    camera->FileNameType = 1;
    camera->UseOutputResolution = true;
    camera->SetOutputResolution(5);
    camera->CompressionQuality = 100;

    EXPECT_EQ(camera->Capture(), 1);
    EXPECT_EQ(events, QStringList({"before", "capturing"}));
    EXPECT_TRUE(camera->LastError().contains(qt_error_string(ENOSPC)))
        << camera->LastError().toStdString();
    EXPECT_TRUE(camera->LastError().contains(small.path() + "/00000001.jpg"));
    EXPECT_GT(camera->AJpeg().size(), 256 * 1024) << "the encoding itself succeeded";
    EXPECT_TRUE(EntriesOf(small.path()).isEmpty());
}

TEST_F(PhotoOutputTest, EmptySavePathWritesInTheWorkingFolder) {
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    camera->SavePath.clear();
    camera->FileNameType = 2;
    camera->FileHeader = "here";
    const int result = camera->Capture();
    QDir::setCurrent(previous);
    ASSERT_EQ(result, 0) << camera->LastError().toStdString();
    EXPECT_EQ(camera->FileName(), "here.jpg");
    EXPECT_EQ(EntriesOf(dir.path()), QStringList{"here.jpg"});
}

TEST(PhotoOutputNoFrame, EmptyPictureFailsCleanlyInEitherFormat) {
    // A component that never grabbed a frame: the picture is 0 x 0 all the way through.
    for (const uint8_t format : {uint8_t(0), uint8_t(1)}) {
        QTemporaryDir dir;
        VirtualCamera::Instance().Reset();
        VirtualCamera::Instance().SetFaults({.noFrames = true});
        TVideoWindow window;
        window.show();
        TSnapixture camera;
        camera.SetVideoWindow(&window);
        camera.SetMoniker(TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()});
        camera.SavePath = dir.path() + "/";
        camera.FileFormat = format;
        camera.PrintDate = true;
        camera.UseOutputResolution = true;
        camera.PhotoStyle = 1;
        bool captured = false;
        camera.OnCaptured = [&](QObject*) { captured = true; };
        ASSERT_EQ(camera.Preview(), 0);
        EXPECT_EQ(camera.Capture(), 1) << "format " << int(format);
        EXPECT_FALSE(captured);
        EXPECT_FALSE(camera.LastError().isEmpty());
        EXPECT_TRUE(camera.AJpeg().isEmpty());
        EXPECT_TRUE(EntriesOf(dir.path()).isEmpty());
        camera.Stop();
    }
    VirtualCamera::Instance().Reset();
}
