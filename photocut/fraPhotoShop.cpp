// TfraPhotoShop: layout, zoom, cut, file choice, and storing the cut photo.
#include "photocut/fraPhotoShop.h"

#include <utility>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <QBuffer>
#include <QImageWriter>

#include "photo/Bmp.h"
#include "photo/Jpeg.h"
#include "photo/Names.h"
#include "photo/PhotoFile.h"
#include "photo/Scale.h"
#include "photo/TempFile.h"
#include "photocut/CropBox.h"
#include "photocut/ImageFileLoader.h"
#include "photocut/PhotoView.h"
#include "photocut/PrintSheet.h"

namespace {

// High enough that an identity photo loses nothing visible.
constexpr int kJpegQuality = 95;

QFrame* NewBevel(QWidget* parent, const QRect& rect) {
    auto* bevel = new QFrame(parent);
    bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    bevel->setGeometry(rect);
    bevel->setAttribute(Qt::WA_TransparentForMouseEvents);
    return bevel;
}

QPushButton* NewButton(QWidget* parent, const QString& caption, const QRect& rect) {
    auto* button = new QPushButton(caption, parent);
    button->setGeometry(rect);
    return button;
}

enum class TSaveFormat { Jpeg, Bmp, Png };

// The format a file name asks for; false when its ending names none of ours.
bool SaveFormatOf(const QString& name, TSaveFormat& format) {
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) {
        format = TSaveFormat::Jpeg;
    } else if (suffix == QLatin1String("bmp")) {
        format = TSaveFormat::Bmp;
    } else if (suffix == QLatin1String("png")) {
        format = TSaveFormat::Png;
    } else {
        return false;
    }
    return true;
}

}  // namespace

const QString TfraPhotoShop::kNoPhotoText = QStringLiteral("没有可裁切的照片，请先拍照!");
const QString TfraPhotoShop::kCopiedText = QStringLiteral("恭喜: 照片已复制到剪贴板.");

const TfraPhotoShop::TFormat& TfraPhotoShop::Format(int index) {
    static const TFormat formats[2] = {
        {QSize(110, 154), QPoint(472, 50), QPoint(469, 47), PrintSheet::kOneInch, "_1寸"},
        {QSize(140, 197), QPoint(460, 55), QPoint(457, 52), PrintSheet::kTwoInch, "_2寸"},
    };
    return formats[index == 1 ? 1 : 0];
}

TfraPhotoShop::TfraPhotoShop(QWidget* parent)
    : QFrame(parent), FDialogs(NewQtPhotoShopDialogs()), FLoader(new TImageFileLoader(this)) {
    resize(kDesignWidth, kDesignHeight);

    // Frame lines first, so that every control lies above them.
    Bevel4 = NewBevel(this, QRect(8, 4, 697, 32));
    Bevel3 = NewBevel(this, QRect(360, 257, 345, 47));
    Bevel5 = NewBevel(this, QRect(360, 308, 345, 37));
    Bevel2 = NewBevel(this, QRect(472, 85, 116, 160));

    edtsPath = new QLineEdit(this);
    edtsPath->setGeometry(16, 7, 225, 18);
    edtsPath->setEnabled(false);

    bsSkinButton1 = NewButton(this, QStringLiteral("选择照片"), QRect(250, 7, 90, 25));

    bsSkinStdLabel12 = new QLabel(QStringLiteral("照片格式"), this);
    bsSkinStdLabel12->setGeometry(436, 13, 54, 13);
    bsSkinStdLabel12->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    cbOutput = new QComboBox(this);
    cbOutput->setGeometry(493, 7, 109, 25);
    cbOutput->addItems({QStringLiteral("单寸照片"), QStringLiteral("二寸照片")});
    cbOutput->setCurrentIndex(0);
    cbOutput->setToolTip(
        QStringLiteral("根据您不同的需要,输出不同分辨率的照片,分辨率越大,照片文件越大"));

    Panel3 = new QFrame(this);
    Panel3->setGeometry(15, 38, 328, 246);
    Bevel1 = NewBevel(Panel3, QRect(0, 0, 328, 246));
    ImgSource = new TPhotoView(Panel3);
    ImgSource->setGeometry(3, 2, 320, 240);
    pnlCut = new TCropBox(Panel3);
    pnlCut->setGeometry(135, 38, 110, 154);
    lblLoading = new QLabel(Panel3);
    lblLoading->setGeometry(4, 104, 320, 38);
    lblLoading->setAlignment(Qt::AlignCenter);
    lblLoading->setWordWrap(true);
    lblLoading->setAutoFillBackground(true);
    lblLoading->setFrameStyle(QFrame::Box | QFrame::Plain);
    lblLoading->hide();

    TrackBar = new QSlider(Qt::Horizontal, this);
    TrackBar->setGeometry(11, 294, 337, 20);
    TrackBar->setRange(0, 100);
    TrackBar->setValue(100);

    ImgTarget = new TPhotoView(this);
    ImgTarget->setGeometry(475, 87, 110, 154);

    btnCut = NewButton(this, QStringLiteral("裁切"), QRect(378, 267, 90, 25));
    btnSave = NewButton(this, QStringLiteral("保存"), QRect(486, 267, 90, 25));
    btnCopy = NewButton(this, QStringLiteral("复制到剪贴板"), QRect(595, 267, 90, 25));
    btnPrint = NewButton(this, QStringLiteral("打印排版"), QRect(486, 314, 90, 25));
    btnPrint->setToolTip(QStringLiteral(
        "把裁切的照片按实际尺寸排在 6 英寸相纸上 (300 dpi), 预览后保存到照片文件夹"));

    connect(TrackBar, &QSlider::valueChanged, this, &TfraPhotoShop::TrackBarChange);
    connect(cbOutput, &QComboBox::currentIndexChanged, this, &TfraPhotoShop::cbOutputChange);
    connect(btnCut, &QPushButton::clicked, this, &TfraPhotoShop::btnCutClick);
    connect(bsSkinButton1, &QPushButton::clicked, this, &TfraPhotoShop::bsSkinButton1Click);
    connect(btnSave, &QPushButton::clicked, this, &TfraPhotoShop::btnSaveClick);
    connect(btnCopy, &QPushButton::clicked, this, &TfraPhotoShop::btnCopyClick);
    connect(btnPrint, &QPushButton::clicked, this, &TfraPhotoShop::btnPrintClick);
    connect(FLoader, &TImageFileLoader::Loaded, this, &TfraPhotoShop::PhotoFileLoaded);
    connect(FLoader, &TImageFileLoader::Failed, this, &TfraPhotoShop::PhotoFileFailed);
}

TfraPhotoShop::~TfraPhotoShop() = default;

const QImage& TfraPhotoShop::CutPhoto() const {
    return ImgTarget->Picture();
}

void TfraPhotoShop::SetPhotoNaming(std::function<TPhotoNaming()> naming) {
    FNaming = std::move(naming);
}

void TfraPhotoShop::SetDialogs(std::unique_ptr<TPhotoShopDialogs> dialogs) {
    FDialogs = std::move(dialogs);
}

TPhotoNaming TfraPhotoShop::Naming() const {
    TPhotoNaming naming = FNaming ? FNaming() : TPhotoNaming{};
    if (naming.Folder.isEmpty()) {
        naming.Folder = QDir::homePath();
    }
    return naming;
}

QString TfraPhotoShop::NameInFolder(const QString& folder, const QString& name) const {
    return QDir(folder).filePath(name);
}

// --- View ---------------------------------------------------------------------------

void TfraPhotoShop::TrackBarChange() {
    const int v = TrackBar->value();
    const int width = v * 16 / 5;
    const int height = v * 12 / 5;
    // Without a source photo the view has no picture at all, so that a cut then asks
    // for a photo instead of cutting an empty area.
    ImgSource->SetPicture(StretchNearest(FSource, width, height));
    ImgSource->setGeometry((Panel3->width() - width) / 2, (Panel3->height() - height) / 2, width,
                           height);
    pnlCut->update();
}

void TfraPhotoShop::NewPhoto(const QImage& photo) {
    // The newer photo wins over a file still being decoded.
    CancelLoading();
    TrackBar->setValue(TrackBar->maximum());
    FSource = photo.format() == QImage::Format_BGR888
                  ? photo
                  : photo.convertToFormat(QImage::Format_BGR888);
    ImgSource->SetPicture(FSource);
    pnlCut->update();
}

// --- Format and cut -----------------------------------------------------------------

void TfraPhotoShop::cbOutputChange() {
    ImgTarget->SetPicture(QImage());
    FCutSource = QImage();
    const TFormat& format = Format(cbOutput->currentIndex());
    pnlCut->resize(format.Box);
    ImgTarget->setGeometry(QRect(format.CutAt, format.Box));
    Bevel2->setGeometry(QRect(format.FrameAt, format.Box + QSize(6, 6)));
}

void TfraPhotoShop::btnCutClick() {
    const QImage view = ImgSource->Picture();
    // The picture shows from the view's top-left corner and may be smaller than the
    // view (a camera photo of another size): only pixels of the photo are cut.
    const QRect photoRect = ImgSource->geometry().intersected(QRect(ImgSource->pos(), view.size()));
    const QRect cut = pnlCut->geometry().intersected(photoRect);
    if (view.isNull() || cut.isEmpty()) {
        FDialogs->ShowMessage(this, kNoPhotoText);
        return;
    }
    const QRect inView = cut.translated(-ImgSource->pos());
    ImgTarget->resize(cut.size());
    ImgTarget->SetPicture(view.copy(inView));

    // The view shows the whole source stretched, so each view pixel stands for a block
    // of source pixels; the print sheet takes the cut again from those.
    const qint64 sw = FSource.width(), sh = FSource.height();
    const qint64 vw = view.width(), vh = view.height();
    const int x0 = int(inView.left() * sw / vw);
    const int y0 = int(inView.top() * sh / vh);
    const int x1 = int(((inView.left() + inView.width()) * sw + vw - 1) / vw);
    const int y1 = int(((inView.top() + inView.height()) * sh + vh - 1) / vh);
    FCutSource = FSource;
    FCutSourceRect = QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
    FCutFormat = cbOutput->currentIndex();
}

// --- Files --------------------------------------------------------------------------

void TfraPhotoShop::bsSkinButton1Click() {
    const QString folder = FOpenFolder.isEmpty() ? Naming().Folder : FOpenFolder;
    const QString path = FDialogs->OpenFileName(this, folder);
    if (path.isEmpty()) {
        return;
    }
    LoadPhotoFile(path);
}

void TfraPhotoShop::LoadPhotoFile(const QString& path) {
    FLoader->Load(path);
    ShowLoading(path);
}

void TfraPhotoShop::CancelLoading() {
    FLoader->Cancel();
    ShowLoading(QString());
}

bool TfraPhotoShop::Loading() const {
    return FLoader->Loading();
}

void TfraPhotoShop::ShowLoading(const QString& path) {
    if (path.isEmpty()) {
        lblLoading->hide();
        unsetCursor();
        return;
    }
    lblLoading->setText(
        QStringLiteral("正在读取照片 %1 ...").arg(QFileInfo(path).fileName()));
    lblLoading->show();
    lblLoading->raise();
    setCursor(Qt::BusyCursor);
}

void TfraPhotoShop::PhotoFileLoaded(const QString& path, const QImage& picture) {
    ShowLoading(QString());
    const QFileInfo info(path);
    edtsPath->setText(QDir::toNativeSeparators(path));
    FExtension = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    FOpenFolder = info.absolutePath();
    FLoader->Release(std::exchange(FSource, picture));
    TrackBarChange();
    emit LoadFinished(true);
}

void TfraPhotoShop::PhotoFileFailed(const QString&, const QString& reason) {
    ShowLoading(QString());
    FDialogs->ShowError(this, reason);
    emit LoadFinished(false);
}

// --- Save, copy, print sheet --------------------------------------------------------

void TfraPhotoShop::btnSaveClick() {
    emit SaveRequested();
}

void TfraPhotoShop::btnCopyClick() {
    emit CopyRequested();
}

void TfraPhotoShop::btnPrintClick() {
    SavePrintSheet();
}

bool TfraPhotoShop::CopyCutPhoto() {
    const QImage& cut = CutPhoto();
    if (cut.isNull()) {
        FDialogs->ShowMessage(this, kNoPhotoText);
        return false;
    }
    QApplication::clipboard()->setImage(cut);
    emit InfoText(kCopiedText);
    return true;
}

QString TfraPhotoShop::SaveCutPhoto() {
    const QImage cut = CutPhoto();
    if (cut.isNull()) {
        FDialogs->ShowMessage(this, kNoPhotoText);
        return QString();
    }
    const TPhotoNaming naming = Naming();
    const QString proposed = NameInFolder(
        naming.Folder, naming.Prefix + PhotoPipeline::DateTimeName(QDateTime::currentDateTime()) +
                           QString::fromUtf8(Format(cbOutput->currentIndex()).NameSuffix) +
                           QStringLiteral(".jpg"));
    const TPhotoShopDialogs::TSaveChoice choice = FDialogs->SaveFileName(this, proposed);
    if (choice.FileName.isEmpty()) {
        return QString();
    }
    QString target = QFileInfo(choice.FileName).absoluteFilePath();
    bool replace = choice.ReplaceConfirmed;
    TSaveFormat format = TSaveFormat::Jpeg;
    if (!SaveFormatOf(target, format)) {
        // A name without one of our endings gets ".jpg". The replace the dialog
        // confirmed was for the name without it, so this one is never replaced.
        target += QStringLiteral(".jpg");
        replace = false;
    }
    const auto failed = [&](const QString& why) {
        FDialogs->ShowError(
            this, QStringLiteral("无法保存照片 \"%1\": %2").arg(QDir::toNativeSeparators(target), why));
        return QString();
    };

    // The whole file, made before anything is written (a cut photo is small).
    QByteArray bytes;
    QString error;
    switch (format) {
        case TSaveFormat::Jpeg:
            if (!PhotoPipeline::EncodeJpeg(cut, kJpegQuality, bytes, error)) {
                return failed(error);
            }
            break;
        case TSaveFormat::Bmp:
            PhotoPipeline::WriteBmp(cut, [&](const char* data, size_t size) {
                bytes.append(data, qsizetype(size));
                return true;
            });
            break;
        case TSaveFormat::Png: {
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "png");
            if (!writer.write(cut)) {
                return failed(writer.errorString());
            }
            break;
        }
    }

    PhotoPipeline::TPlaceResult placed;
    if (!replace) {
        // Never over a file: should the name have been taken since the dialog, the photo
        // goes under the next free "<name>_N" instead.
        const QFileInfo info(target);
        const QString base = info.absolutePath() + QLatin1Char('/') + info.completeBaseName();
        const QString suffix = QLatin1Char('.') + info.suffix();
        placed = PhotoPipeline::PlacePhotoFile(
            [&](unsigned attempt) {
                return attempt == 0 ? target : base + QStringLiteral("_%1").arg(attempt) + suffix;
            },
            [&](int fd, QString& why) {
                return PhotoPipeline::WriteAll(fd, bytes.constData(), size_t(bytes.size()), why);
            });
    } else {
        // The user agreed to replace the file: the complete, flushed file takes its name
        // in one rename, so the old file is never lost to a half-written new one. Until
        // then it is a temporary file of the one kind a later start clears away.
        PhotoPipeline::TTempFile temp;
        int r = temp.Open(QFile::encodeName(QFileInfo(target).absolutePath()));
        if (r == 0) {
            r = PhotoPipeline::WriteAll(temp.Descriptor(), bytes.constData(), size_t(bytes.size()));
        }
        if (r == 0) {
            r = temp.Finish();
        }
        if (r == 0) {
            r = temp.Replace(QFile::encodeName(target));
        }
        if (r != 0) {
            return failed(qt_error_string(r));
        }
        placed.Ok = true;
        placed.FileName = target;
    }
    if (!placed.Ok) {
        FDialogs->ShowError(this, placed.Error);
        return QString();
    }
    emit InfoText(QStringLiteral("照片已保存: %1").arg(QDir::toNativeSeparators(placed.FileName)));
    return placed.FileName;
}

QString TfraPhotoShop::SavePrintSheet() {
    if (CutPhoto().isNull() || FCutSource.isNull() || FCutSourceRect.isEmpty()) {
        FDialogs->ShowMessage(this, kNoPhotoText);
        return QString();
    }
    // A cut that overhung the photo is smaller than the box; it keeps the scale of a
    // whole one, so the face prints at its true size.
    const TFormat& format = Format(FCutFormat);
    const QSize cut = CutPhoto().size();
    const QSize printSize(
        qMax(1, (format.PrintSize.width() * cut.width() + format.Box.width() / 2) /
                    format.Box.width()),
        qMax(1, (format.PrintSize.height() * cut.height() + format.Box.height() / 2) /
                    format.Box.height()));
    QImage copy = FCutSource.copy(FCutSourceRect);
    if (copy.isNull() || !PhotoPipeline::ScalePhoto(copy, printSize.width(), printSize.height())) {
        FDialogs->ShowError(this, QStringLiteral("内存不足, 无法排版."));
        return QString();
    }
    const QImage sheet = PrintSheet::Compose(copy);
    const int copies = int(PrintSheet::Layout(copy.size()).size());
    if (sheet.isNull()) {
        FDialogs->ShowError(this, QStringLiteral("内存不足, 无法排版."));
        return QString();
    }
    if (!FDialogs->ConfirmPrintSheet(this, sheet, copies)) {
        return QString();
    }

    QByteArray jpeg;
    QString error;
    const TPhotoNaming naming = Naming();
    const QString base = NameInFolder(
        naming.Folder, naming.Prefix + PhotoPipeline::DateTimeName(QDateTime::currentDateTime()) +
                           QString::fromUtf8(format.NameSuffix) + QStringLiteral("排版"));
    if (!PhotoPipeline::EncodeJpeg(sheet, kJpegQuality, jpeg, error) ||
        !PrintSheet::SetJfifDensity(jpeg, PrintSheet::kDpi)) {
        FDialogs->ShowError(this, QStringLiteral("无法保存打印排版 \"%1.jpg\": %2")
                                      .arg(QDir::toNativeSeparators(base), error));
        return QString();
    }
    const PhotoPipeline::TPlaceResult placed = PhotoPipeline::PlacePhotoFile(
        [&](unsigned attempt) {
            return base + (attempt == 0 ? QString() : QStringLiteral("_%1").arg(attempt)) +
                   QStringLiteral(".jpg");
        },
        [&](int fd, QString& why) {
            return PhotoPipeline::WriteAll(fd, jpeg.constData(), size_t(jpeg.size()), why);
        });
    if (!placed.Ok) {
        FDialogs->ShowError(this, placed.Error);
        return QString();
    }
    emit InfoText(
        QStringLiteral("打印排版已保存: %1").arg(QDir::toNativeSeparators(placed.FileName)));
    return placed.FileName;
}
