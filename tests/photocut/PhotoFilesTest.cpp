// Choosing a photo file: recognised by content, hostile files refused with a reason.
#include <sys/stat.h>

#include <cstdio>
#include <functional>

#include <QBuffer>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QtEndian>

#include "PhotoShopFixture.h"
#include "photo/Bmp.h"
#include "photo/Jpeg.h"
#include "photocut/ImageFileLoader.h"
#include "support/HostileImages.h"
#include "support/TestFiles.h"

namespace {

QByteArray Jpeg(const QImage& picture) {
    QByteArray data;
    QString why;
    EXPECT_TRUE(PhotoPipeline::EncodeJpeg(picture, 90, data, why)) << why.toStdString();
    return data;
}

QByteArray Bmp(const QImage& picture) {
    QByteArray data;
    PhotoPipeline::WriteBmp(picture, [&](const char* p, size_t n) {
        data.append(p, qsizetype(n));
        return true;
    });
    return data;
}

QByteArray Png(const QImage& picture) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return data;
}

// The JPEG with its frame header claiming another size.
QByteArray WithSize(QByteArray jpeg, int width, int height) {
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height & 0xFF);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width & 0xFF);
    return jpeg;
}

// The BMP with its information header claiming another size.
QByteArray BmpClaiming(QByteArray bmp, qint32 width, qint32 height) {
    qToLittleEndian(width, bmp.data() + 18);
    qToLittleEndian(height, bmp.data() + 22);
    return bmp;
}

bool Near(QColor a, QColor b) {
    return qAbs(a.red() - b.red()) <= 8 && qAbs(a.green() - b.green()) <= 8 &&
           qAbs(a.blue() - b.blue()) <= 8;
}

TEST_F(PhotoShopTest, FilesLoadByContentWhateverTheirName) {
    const QImage green = Filled(64, 48, QColor(30, 160, 60));
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"photo.JPG", Jpeg(green)},       {"photo.jpeg", Jpeg(green)},
        {"bitmap-named.jpg", Bmp(green)}, {"picture.png", Png(green)},
        {"no-extension", Jpeg(green)},    {"top-down.bmp", BmpClaiming(Bmp(green), 64, -48)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder.filePath(c.name);
        WriteBytes(path, c.bytes);
        dialogs->openAnswers.push_back(path);
        Zoom(50);
        frame.bsSkinButton1Click();
        EXPECT_TRUE(WaitForLoad());
        EXPECT_TRUE(dialogs->errors.empty());
        EXPECT_EQ(frame.edtsPath->text(), path);
        EXPECT_EQ(frame.ImgSave().size(), QSize(64, 48));
        EXPECT_EQ(frame.ImgSave().format(), QImage::Format_BGR888);
        EXPECT_TRUE(Near(frame.ImgSave().pixelColor(32, 24), QColor(30, 160, 60)));
        // Rendered at the zoom in effect.
        EXPECT_EQ(frame.ImgSource->Picture().size(), QSize(160, 120));
    }
    EXPECT_EQ(frame.FileExtension(), ".bmp");
    EXPECT_EQ(dialogs->opened.back(), folder.path());  // the last file's folder
}

TEST_F(PhotoShopTest, CmykJpegLoadsInItsColours) {
    const uchar cmyk[4] = {255, 0, 255, 255};  // inverted: no cyan, full magenta, no black
    WriteBytes(folder.filePath("print.jpg"), hostile::CmykJpeg(32, 32, cmyk));
    ASSERT_TRUE(Load(folder.filePath("print.jpg")));
    EXPECT_TRUE(Near(frame.ImgSave().pixelColor(16, 16), QColor(255, 0, 255)))
        << frame.ImgSave().pixelColor(16, 16).name().toStdString();
}

TEST_F(PhotoShopTest, UnreadableFilesAreReportedAndChangeNothing) {
    const QString good = folder.filePath("good.jpg");
    WriteBytes(good, Jpeg(Coordinates(320, 240)));
    ASSERT_TRUE(Load(good));
    const QImage source = frame.ImgSave();
    frame.btnCutClick();
    const QImage cut = frame.CutPhoto();
    Zoom(70);
    const QImage view = frame.ImgSource->Picture();

    const QByteArray big = Jpeg(Coordinates(256, 256));
    QByteArray largeBmp = Bmp(Filled(8, 8, Qt::red));
    largeBmp = BmpClaiming(largeBmp, 30000, 30000);
    struct Case {
        const char* name;
        QByteArray bytes;
        QString why;
    };
    const Case cases[] = {
        {"notes.jpg", "just some text, not a picture\n", "不是 JPEG、BMP 或 PNG"},
        {"truncated.jpg", big.left(big.size() / 2), "截断"},
        {"huge.jpg", WithSize(big, 60000, 60000), "60000 x 60000 过大"},
        {"zero.jpg", WithSize(big, 0, 256), "为零"},
        {"lying.bmp", BmpClaiming(Bmp(Filled(8, 8, Qt::red)), 4000, 3000), "文件头与文件内容不符"},
        {"huge.bmp", largeBmp, "30000 x 30000 过大"},
        {"zero.bmp", BmpClaiming(Bmp(Filled(8, 8, Qt::red)), 0, 8), "为零"},
        {"truncated.png", Png(Coordinates(256, 256)).chopped(300), "截断"},
        {"empty.jpg", "", "空的"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder.filePath(c.name);
        WriteBytes(path, c.bytes);
        dialogs->openAnswers.push_back(path);
        frame.bsSkinButton1Click();
        EXPECT_FALSE(WaitForLoad());
        ASSERT_EQ(dialogs->errors.size(), 1u);
        EXPECT_TRUE(dialogs->errors[0].contains(path)) << dialogs->errors[0].toStdString();
        EXPECT_TRUE(dialogs->errors[0].contains(c.why)) << dialogs->errors[0].toStdString();
        dialogs->errors.clear();
        EXPECT_EQ(frame.edtsPath->text(), good);
        EXPECT_EQ(frame.ImgSave(), source);
        EXPECT_EQ(frame.ImgSource->Picture(), view);
        EXPECT_EQ(frame.CutPhoto(), cut);
    }
}

TEST_F(PhotoShopTest, SpecialFilesNeverBlock) {
    const QString fifo = folder.filePath("pipe.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {fifo, folder.filePath("missing.jpg"), folder.path()}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_FALSE(Load(path));
        ASSERT_EQ(dialogs->errors.size(), 1u);
        EXPECT_TRUE(dialogs->errors[0].contains(path));
        dialogs->errors.clear();
    }
    EXPECT_TRUE(frame.ImgSave().isNull());
}

// A file that takes a while to decode: 64 full passes over a 4000 x 3000 picture.
QByteArray SlowJpeg() {
    return hostile::ProgressiveScanBomb(4000, 3000, 63, 1);
}

TEST_F(PhotoShopTest, AChosenFileIsDecodedWhileThePanelSaysSo) {
    const QString path = folder.filePath("slow.jpg");
    WriteBytes(path, SlowJpeg());
    dialogs->openAnswers.push_back(path);
    frame.bsSkinButton1Click();
    // Back on the GUI thread at once: the result can only come through the event loop.
    EXPECT_TRUE(frame.Loading());
    EXPECT_TRUE(frame.lblLoading->isVisible());
    EXPECT_TRUE(frame.lblLoading->text().contains("slow.jpg"));
    EXPECT_TRUE(frame.ImgSave().isNull());
    EXPECT_TRUE(frame.edtsPath->text().isEmpty());

    ASSERT_TRUE(WaitForLoad());
    EXPECT_FALSE(frame.lblLoading->isVisible());
    EXPECT_EQ(frame.ImgSave().size(), QSize(4000, 3000));
    EXPECT_EQ(frame.edtsPath->text(), path);
}

TEST_F(PhotoShopTest, ANewerChoiceACameraPhotoOrClosingThePanelCancelsTheLoad) {
    const QString slow = folder.filePath("slow.jpg");
    const QString quick = folder.filePath("quick.jpg");
    WriteBytes(slow, SlowJpeg());
    WriteBytes(quick, Jpeg(Filled(64, 48, Qt::red)));
    auto* loader = frame.findChild<TImageFileLoader*>();
    ASSERT_NE(loader, nullptr);
    QSignalSpy finished(&frame, &TfraPhotoShop::LoadFinished);
    // Drains every worker and every result on its way to the GUI thread.
    const auto settle = [&] {
        loader->WaitForWorkers();
        QCoreApplication::processEvents();
    };

    frame.LoadPhotoFile(slow);
    frame.LoadPhotoFile(quick);  // a second choice
    settle();
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(frame.ImgSave().size(), QSize(64, 48));
    EXPECT_EQ(frame.edtsPath->text(), quick);

    frame.LoadPhotoFile(slow);
    frame.NewPhoto(Filled(320, 240, Qt::blue));  // a photograph from the camera
    settle();
    EXPECT_EQ(finished.size(), 1);
    EXPECT_EQ(frame.ImgSave().size(), QSize(320, 240));
    EXPECT_FALSE(frame.lblLoading->isVisible());

    frame.LoadPhotoFile(slow);
    frame.CancelLoading();  // the panel is closed
    settle();
    EXPECT_EQ(finished.size(), 1);
    EXPECT_EQ(frame.ImgSave().size(), QSize(320, 240));
    EXPECT_EQ(frame.edtsPath->text(), quick);
    EXPECT_TRUE(dialogs->errors.empty());
}

TEST_F(PhotoShopTest, AScanBombIsRefusedWithItsReason) {
    const QString path = folder.filePath("bomb.jpg");
    WriteBytes(path, hostile::ProgressiveScanBomb(9459, 9459));
    EXPECT_FALSE(Load(path));
    ASSERT_EQ(dialogs->errors.size(), 1u);
    EXPECT_TRUE(dialogs->errors[0].contains("883 次扫描")) << dialogs->errors[0].toStdString();
    EXPECT_TRUE(frame.ImgSave().isNull());
}

TEST_F(PhotoShopTest, CancelledChoiceChangesNothing) {
    frame.bsSkinButton1Click();
    EXPECT_EQ(dialogs->opened.size(), 1u);
    EXPECT_TRUE(frame.edtsPath->text().isEmpty());
    EXPECT_TRUE(dialogs->errors.empty());
}

// Runs `inspect` on the program's file dialog once it is up, then cancels it.
void WhenFileDialogShows(std::function<void(QFileDialog*)> inspect) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, inspect] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            if (dialog && dialog->isVisible()) {
                timer->stop();
                timer->deleteLater();
                inspect(dialog);
                dialog->reject();
                return;
            }
        }
    });
    timer->start(10);
}

// The program's own file dialogs, as a user meets them.
TEST(PhotoShopQtDialogs, OpenOffersImagesFirstThenAllFiles) {
    auto dialogs = NewQtPhotoShopDialogs();
    QStringList filters;
    QString title;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    WhenFileDialogShows([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        title = dialog->windowTitle();
        mode = dialog->fileMode();
    });
    EXPECT_TRUE(dialogs->OpenFileName(nullptr, QDir::tempPath()).isEmpty());
    ASSERT_EQ(filters.size(), 2);
    EXPECT_TRUE(filters[0].startsWith("Images ("));
    for (const char* pattern : {"*.jpg", "*.JPG", "*.jpeg", "*.bmp", "*.png"}) {
        EXPECT_TRUE(filters[0].contains(pattern)) << pattern;
    }
    EXPECT_EQ(filters[1], "All files (*)");
    EXPECT_EQ(title, "Open file");
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
}

TEST(PhotoShopQtDialogs, SaveProposesTheNameAndAsksBeforeReplacing) {
    QTemporaryDir folder;
    auto dialogs = NewQtPhotoShopDialogs();
    QStringList selected;
    bool confirms = false;
    WhenFileDialogShows([&](QFileDialog* dialog) {
        selected = dialog->selectedFiles();
        confirms = dialog->acceptMode() == QFileDialog::AcceptSave &&
                   !dialog->testOption(QFileDialog::DontConfirmOverwrite);
    });
    const QString proposed = folder.filePath("id20240101120000_1寸.jpg");
    EXPECT_TRUE(dialogs->SaveFileName(nullptr, proposed).FileName.isEmpty());
    EXPECT_EQ(selected, QStringList{proposed});
    EXPECT_TRUE(confirms);
}

}  // namespace
