// Storing the cut photo: save dialog and names, never replacing unasked, the clipboard,
// and the 300-dpi print sheet.
#include <unistd.h>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QSignalSpy>

#include "PhotoShopFixture.h"
#include "lang/MessageTable.h"
#include "photo/TempFile.h"
#include "photocut/PrintSheet.h"
#include "support/TestFiles.h"

namespace {

// A JPEG file read by libjpeg itself, any warning counted as a failure.
struct ReadJpeg {
    bool ok = false;
    QImage picture;
    int densityUnit = -1;
    int xDensity = 0;
    int yDensity = 0;
};

struct StrictErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

ReadJpeg ReadJpegFile(const QString& path) {
    static QByteArray data;
    data = ReadBytes(path);
    static ReadJpeg result;
    result = ReadJpeg{};
    static jpeg_decompress_struct info;
    static StrictErrors errors;
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<StrictErrors*>(c->err)->jump, 1);
    };
    errors.pub.emit_message = [](j_common_ptr c, int level) {
        if (level < 0) {
            std::longjmp(reinterpret_cast<StrictErrors*>(c->err)->jump, 1);
        }
    };
    jpeg_create_decompress(&info);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        result.ok = false;
        return result;
    }
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    result.densityUnit = info.density_unit;
    result.xDensity = info.X_density;
    result.yDensity = info.Y_density;
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    result.picture = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = result.picture.scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    result.ok = true;
    return result;
}

// The simplified-Chinese text of a message key (these keys live in the language files,
// not in the built-in table).
QString MessageText(const char* key) {
    for (const MessageEntry& entry : MessageEntries()) {
        if (qstrcmp(entry.key, key) == 0) {
            return QString::fromUtf8(entry.simplified);
        }
    }
    return QString();
}

bool Near(QColor a, QColor b, int tolerance = 10) {
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

class StoreTest : public PhotoShopTest {
  protected:
    // A cut of the initial box from a 320 x 240 coordinate photo.
    void Cut() {
        frame.NewPhoto(Coordinates(320, 240));
        frame.btnCutClick();
        ASSERT_EQ(frame.CutPhoto().size(), QSize(110, 154));
    }

    QStringList Files() const { return EntriesOf(folder.path()); }
};

TEST_F(StoreTest, SaveProposesPrefixDateTimeAndFormatInThePhotoFolder) {
    Cut();
    frame.SaveCutPhoto();  // cancelled
    frame.cbOutput->setCurrentIndex(1);
    frame.btnCutClick();
    frame.SaveCutPhoto();
    ASSERT_EQ(dialogs->proposals.size(), 2u);
    const QString inFolder = QRegularExpression::escape(folder.path() + "/id");
    EXPECT_TRUE(QRegularExpression("^" + inFolder + "\\d{14}_1寸\\.jpg$")
                    .match(dialogs->proposals[0])
                    .hasMatch())
        << dialogs->proposals[0].toStdString();
    EXPECT_TRUE(QRegularExpression("^" + inFolder + "\\d{14}_2寸\\.jpg$")
                    .match(dialogs->proposals[1])
                    .hasMatch());
    EXPECT_TRUE(Files().isEmpty());
}

TEST_F(StoreTest, SavesTheFormatTheNameAsksFor) {
    Cut();
    QSignalSpy info(&frame, &TfraPhotoShop::InfoText);
    struct Case {
        const char* chosen;
        const char* stored;
        const char* format;  // Qt's name for what the file holds
    };
    const Case cases[] = {
        {"a.jpg", "a.jpg", "jpeg"},
        {"b.BMP", "b.BMP", "bmp"},
        {"c.png", "c.png", "png"},
        {"d.JPEG", "d.JPEG", "jpeg"},
        {"e", "e.jpg", "jpeg"},                  // no extension
        {"zhang.san", "zhang.san.jpg", "jpeg"},  // not one of ours
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        dialogs->saveAnswers = {{folder.filePath(c.chosen), false}};
        const QString stored = folder.filePath(c.stored);
        EXPECT_EQ(frame.SaveCutPhoto(), stored);
        QImageReader reader(stored);
        reader.setDecideFormatFromContent(true);
        EXPECT_EQ(reader.format(), c.format);
        const QImage read = reader.read().convertToFormat(QImage::Format_BGR888);
        ASSERT_EQ(read.size(), QSize(110, 154));
        if (qstrcmp(c.format, "jpeg") == 0) {
            EXPECT_TRUE(ReadJpegFile(stored).ok);
            EXPECT_TRUE(Near(read.pixelColor(55, 77), frame.CutPhoto().pixelColor(55, 77)));
        } else {
            EXPECT_EQ(read, frame.CutPhoto());  // lossless formats keep every pixel
        }
    }
    EXPECT_EQ(Files(), QStringList({"a.jpg", "b.BMP", "c.png", "d.JPEG", "e.jpg", "zhang.san.jpg"}));
    ASSERT_EQ(info.size(), 6);
    EXPECT_TRUE(info[1][0].toString().contains(folder.filePath("b.BMP")));
    EXPECT_TRUE(dialogs->errors.empty());
}

// A name the dialog confirmed for replacing, given ".jpg" by the program, is another
// name: the file of that name is not replaced.
TEST_F(StoreTest, AnAddedExtensionNeverReplacesWhatTheDialogDidNotAskAbout) {
    Cut();
    WriteBytes(folder.filePath("id.jpg"), "an earlier photo");
    dialogs->saveAnswers = {{folder.filePath("id"), true}};
    EXPECT_EQ(frame.SaveCutPhoto(), folder.filePath("id_1.jpg"));
    EXPECT_EQ(ReadBytes(folder.filePath("id.jpg")), "an earlier photo");
}

// Killed at the rename of a confirmed replace, the program leaves the new file under a
// temporary name: it must be one the clean-up at the next start knows.
TEST_F(StoreTest, AReplaceKilledAtItsRenameLeavesOnlyWhatTheNextStartClears) {
    Cut();
    const QString taken = folder.filePath("taken.jpg");
    WriteBytes(taken, "an earlier photo");
    QStringList atRename;
    QString leftover;
    PhotoPipeline::SetBeforeRenameHook([&](const QByteArray& temporary) {
        atRename = Files();
        // What a kill at this moment leaves: the same file under a name of that kind.
        leftover = folder.filePath(".snapix-00000000deadbeef.tmp");
        ASSERT_EQ(::link(temporary.constData(), QFile::encodeName(leftover).constData()), 0);
    });
    dialogs->saveAnswers = {{taken, true}};
    EXPECT_EQ(frame.SaveCutPhoto(), taken);
    PhotoPipeline::SetBeforeRenameHook(nullptr);

    ASSERT_EQ(atRename.size(), 2) << atRename.join(' ').toStdString();
    for (const QString& name : atRename) {
        EXPECT_TRUE(name == "taken.jpg" || PhotoPipeline::IsTempFileName(name.toUtf8().constData()))
            << name.toStdString();
    }
    EXPECT_TRUE(ReadJpegFile(taken).ok);
    // The next start, a minute later.
    const QDateTime old = QDateTime::currentDateTime().addSecs(-120);
    QFile file(leftover);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(old, QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(PhotoPipeline::RemoveStaleTempFiles(folder.path()), 1);
    EXPECT_EQ(Files(), QStringList({"taken.jpg"}));
}

TEST_F(StoreTest, NeverReplacesAFileUnlessTheDialogConfirmed) {
    Cut();
    const QString taken = folder.filePath("taken.jpg");
    WriteBytes(taken, "an earlier photo");
    // The name was free when chosen but is taken now: the photo goes beside it.
    dialogs->saveAnswers = {{taken, false}};
    EXPECT_EQ(frame.SaveCutPhoto(), folder.filePath("taken_1.jpg"));
    EXPECT_EQ(ReadBytes(taken), "an earlier photo");

    // Replacing what the user agreed to replace, and nothing left beside it.
    dialogs->saveAnswers = {{taken, true}};
    EXPECT_EQ(frame.SaveCutPhoto(), taken);
    EXPECT_TRUE(ReadJpegFile(taken).ok);
    EXPECT_EQ(Files(), QStringList({"taken.jpg", "taken_1.jpg"}));
    EXPECT_TRUE(dialogs->errors.empty());
}

TEST_F(StoreTest, SaveIntoAMissingFolderIsReported) {
    Cut();
    const QString nowhere = folder.filePath("gone/x.jpg");
    dialogs->saveAnswers = {{nowhere, false}};
    EXPECT_TRUE(frame.SaveCutPhoto().isEmpty());
    ASSERT_EQ(dialogs->errors.size(), 1u);
    EXPECT_TRUE(dialogs->errors[0].contains(nowhere)) << dialogs->errors[0].toStdString();
}

TEST_F(StoreTest, CopyPutsTheCutOnTheClipboardAndSaysSo) {
    Cut();
    QSignalSpy info(&frame, &TfraPhotoShop::InfoText);
    QApplication::clipboard()->clear();
    EXPECT_TRUE(frame.CopyCutPhoto());
    EXPECT_EQ(QApplication::clipboard()->image().convertToFormat(QImage::Format_BGR888),
              frame.CutPhoto());
    ASSERT_EQ(info.size(), 1);
    EXPECT_EQ(info[0][0].toString(), MessageText("00000124"));
}

TEST_F(StoreTest, ButtonsAskTheWindowToSaveAndCopy) {
    QSignalSpy save(&frame, &TfraPhotoShop::SaveRequested);
    QSignalSpy copy(&frame, &TfraPhotoShop::CopyRequested);
    QTest::mouseClick(frame.btnSave, Qt::LeftButton);
    QTest::mouseClick(frame.btnCopy, Qt::LeftButton);
    QTest::mouseClick(frame.btnCopy, Qt::LeftButton);
    EXPECT_EQ(save.size(), 1);
    EXPECT_EQ(copy.size(), 2);
}

TEST_F(StoreTest, WithoutACutNothingIsStoredAndTheNoPhotoMessageShows) {
    QApplication::clipboard()->setText("kept");
    EXPECT_TRUE(frame.SaveCutPhoto().isEmpty());
    EXPECT_FALSE(frame.CopyCutPhoto());
    EXPECT_TRUE(frame.SavePrintSheet().isEmpty());
    EXPECT_EQ(dialogs->messages, std::vector<QString>(3, MessageText("00000121")));
    EXPECT_TRUE(dialogs->proposals.empty());
    EXPECT_TRUE(dialogs->sheets.empty());
    EXPECT_EQ(QApplication::clipboard()->text(), "kept");
    EXPECT_TRUE(Files().isEmpty());
}

TEST_F(StoreTest, PrintSheetHoldsRealSizeCopiesAt300Dpi) {
    const QColor skin(230, 180, 150);
    struct Case {
        int format;
        QSize copy;
        int copies;
    };
    const Case cases[] = {{0, {295, 413}, 10}, {1, {413, 579}, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        frame.cbOutput->setCurrentIndex(c.format);
        frame.NewPhoto(Filled(640, 480, skin));
        frame.btnCutClick();
        const QString stored = frame.SavePrintSheet();
        ASSERT_FALSE(stored.isEmpty());
        EXPECT_TRUE(QFileInfo(stored).fileName().startsWith("id"));
        EXPECT_TRUE(stored.endsWith(c.format == 0 ? "_1寸排版.jpg" : "_2寸排版.jpg"));
        EXPECT_EQ(dialogs->copies.back(), c.copies);

        const ReadJpeg read = ReadJpegFile(stored);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(read.picture.size(), QSize(1800, 1200));
        EXPECT_EQ(read.densityUnit, 1);
        EXPECT_EQ(read.xDensity, 300);
        EXPECT_EQ(read.yDensity, 300);
        const QVector<QRect> places = PrintSheet::Layout(c.copy);
        ASSERT_EQ(places.size(), c.copies);
        for (const QRect& place : places) {
            EXPECT_TRUE(Near(read.picture.pixelColor(place.center()), skin));
            EXPECT_TRUE(Near(read.picture.pixelColor(place.topLeft() + QPoint(2, 2)), skin));
            EXPECT_TRUE(Near(read.picture.pixelColor(place.bottomRight() - QPoint(2, 2)), skin));
        }
        // White margin, and a grey mark beside the first photo's top-left corner.
        EXPECT_EQ(read.picture.pixelColor(3, 3), QColor(Qt::white));
        EXPECT_TRUE(Near(read.picture.pixelColor(places[0].topLeft() - QPoint(6, 1)),
                         QColor(160, 160, 160), 24));
    }
}

TEST_F(StoreTest, PrintSheetTakesTheCutFromTheFullSourcePhoto) {
    // A dark line six source pixels wide that the view's nearest pixels step over (the
    // view samples every tenth column, at 5, 15, ...): the cut cannot show it, the sheet
    // must.
    QImage source = Filled(3200, 2400, Qt::white);
    for (int y = 0; y < 2400; ++y) {
        for (int x = 1546; x < 1552; ++x) {
            source.setPixelColor(x, y, Qt::black);
        }
    }
    frame.NewPhoto(source);
    Zoom(100);
    frame.btnCutClick();
    const QImage& cut = frame.CutPhoto();
    ASSERT_EQ(cut.size(), QSize(110, 154));
    for (int x = 0; x < cut.width(); ++x) {
        ASSERT_EQ(cut.pixelColor(x, 77), QColor(Qt::white)) << x;
    }
    ASSERT_FALSE(frame.SavePrintSheet().isEmpty());
    const QImage& sheet = dialogs->sheets.back();
    const QRect place = PrintSheet::Layout({295, 413}).front();
    int darkest = 255;
    for (int x = place.left(); x <= place.right(); ++x) {
        darkest = qMin(darkest, qGray(sheet.pixel(x, place.center().y())));
    }
    EXPECT_LT(darkest, 128);
}

TEST_F(StoreTest, DeclinedPreviewStoresNothing) {
    Cut();
    dialogs->confirmPrint = false;
    EXPECT_TRUE(frame.SavePrintSheet().isEmpty());
    ASSERT_EQ(dialogs->sheets.size(), 1u);
    EXPECT_EQ(dialogs->sheets[0].size(), QSize(1800, 1200));
    EXPECT_TRUE(Files().isEmpty());
}

}  // namespace
