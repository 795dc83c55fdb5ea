// TfraPhotoShop: layout, zoom, cut, file choice, and storing the cut photo.
#include "photocut/fraPhotoShop.h"

#include <utility>

#include <cmath>

#include <QApplication>
#include <QPointer>
#include <QSignalBlocker>
#include <QThreadPool>
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
#include "photocut/IdBackground.h"
#include "photocut/ImageFileLoader.h"
#include "photocut/PhotoView.h"
#include "photocut/PrintSheet.h"

namespace {

// High enough that an identity photo loses nothing visible.
constexpr int kJpegQuality = 95;
// A standard's crop box is this high in the view at most.
constexpr int kIdBoxHeight = 154;
// The items of the background list after 原样.
const QRgb kBackgrounds[] = {IdBackground::kWhite, IdBackground::kBlue, IdBackground::kRed};

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
const QString TfraPhotoShop::kAlignCaption = QStringLiteral("自动对准");
const QString TfraPhotoShop::kCustomSizeText = QStringLiteral(
    "自定义尺寸应写成 宽x高@dpi (像素, 如 390x567@300) 或 宽x高mm@dpi (毫米, 如 33x48mm@300); "
    "每边 16 到 4000 像素, 50 到 1200 dpi.");

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
    btnPrint->setToolTip(
        QStringLiteral("把裁切的照片按实际尺寸排在相纸上 (300 dpi), 预览后保存到照片文件夹"));

    cbPaper = new QComboBox(this);
    cbPaper->setGeometry(595, 314, 90, 25);
    cbPaper->addItems({QStringLiteral("6 英寸相纸"), QStringLiteral("A4 纸")});
    cbPaper->setToolTip(QStringLiteral("证件照标准的打印排版用纸"));

    // Identity-photo standards, in a column right of the cut photo.
    lblStandard = new QLabel(QStringLiteral("证件照标准"), this);
    lblStandard->setGeometry(608, 40, 97, 16);
    cbStandard = new QComboBox(this);
    cbStandard->setGeometry(608, 57, 97, 25);
    cbStandard->addItem(QStringLiteral("不使用"));
    for (const TIdPhotoStandard& standard : IdPhotoStandards::All()) {
        cbStandard->addItem(standard.Name);
        cbStandard->setItemData(cbStandard->count() - 1, IdPhotoStandards::Describe(standard),
                                Qt::ToolTipRole);
    }
    cbStandard->addItem(QStringLiteral("自定义..."));
    cbStandard->setToolTip(QStringLiteral(
        "按证件照标准从照片原图裁切: 标准的像素尺寸, 头部大小和位置, 背景颜色, 文件大小"));
    lblBackground = new QLabel(QStringLiteral("背景"), this);
    lblBackground->setGeometry(608, 88, 30, 25);
    cbBackground = new QComboBox(this);
    cbBackground->setGeometry(640, 88, 65, 25);
    cbBackground->addItems({QStringLiteral("原样"), QStringLiteral("白"), QStringLiteral("蓝"),
                            QStringLiteral("红"), QStringLiteral("自选...")});
    cbBackground->setToolTip(QStringLiteral("纯色墙前拍的照片可以换背景颜色"));
    edtKb = new QLineEdit(this);
    edtKb->setGeometry(608, 119, 97, 25);
    edtKb->setPlaceholderText(QStringLiteral("KB 范围 如 14-20"));
    edtKb->setToolTip(QStringLiteral("保存的 JPEG 文件大小 (KB), 最小-最大; 空: 不限"));
    btnAlign = NewButton(this, kAlignCaption, QRect(608, 150, 97, 25));
    btnAlign->setToolTip(QStringLiteral("找到人脸, 按标准调整缩放和裁切框, 扶正头部"));
    lblIdInfo = new QLabel(this);
    lblIdInfo->setGeometry(11, 314, 345, 39);
    QFont small = lblIdInfo->font();
    small.setPixelSize(11);
    lblIdInfo->setFont(small);
    lblIdInfo->setWordWrap(true);
    lblIdInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (QWidget* w : {static_cast<QWidget*>(cbBackground), static_cast<QWidget*>(edtKb),
                       static_cast<QWidget*>(btnAlign), static_cast<QWidget*>(lblBackground)}) {
        w->setEnabled(false);
    }

    connect(TrackBar, &QSlider::valueChanged, this, &TfraPhotoShop::TrackBarChange);
    connect(cbStandard, &QComboBox::activated, this, &TfraPhotoShop::cbStandardChange);
    connect(btnAlign, &QPushButton::clicked, this, &TfraPhotoShop::btnAlignClick);
    connect(cbBackground, &QComboBox::activated, this, &TfraPhotoShop::cbBackgroundChange);
    connect(edtKb, &QLineEdit::editingFinished, this, [this] {
        if (!FIdCut.isNull()) {
            CutStandard();
        }
    });
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
    return FStandard && !FIdCut.isNull() ? FIdCut : ImgTarget->Picture();
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
    int width = v * 16 / 5;
    int height = v * 12 / 5;
    if (FStandard && !Shown().isNull()) {
        // A standard measures the photograph: the view keeps its shape.
        const double scale = ViewScale();
        width = int(Shown().width() * scale);
        height = int(Shown().height() * scale);
        ImgSource->SetPicture(StretchNearest(Shown(), width, height));
        ImgSource->setGeometry((Panel3->width() - width) / 2, (Panel3->height() - height) / 2,
                               width, height);
        pnlCut->update();
        return;
    }
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
    NewSource(photo.format() == QImage::Format_BGR888
                  ? photo
                  : photo.convertToFormat(QImage::Format_BGR888));
    if (FStandard) {
        TrackBarChange();
        btnAlignClick();
        return;
    }
    ImgSource->SetPicture(FSource);
    pnlCut->update();
}

void TfraPhotoShop::NewSource(const QImage& photo) {
    FSource = photo;
    FStraight = photo;
    FFace.reset();
    ++FGeneration;  // a result for the previous photo no longer applies
    FBusy = false;
}

// --- Format and cut -----------------------------------------------------------------

void TfraPhotoShop::cbOutputChange() {
    ImgTarget->SetPicture(QImage());
    FCutSource = QImage();
    FIdCut = QImage();
    if (FStandard) {
        pnlCut->resize(IdBox());
        ImgTarget->setGeometry(QRect(QPoint(460, 55), QSize(140, 197)));
        Bevel2->setGeometry(QRect(QPoint(457, 52), QSize(146, 203)));
        return;
    }
    const TFormat& format = Format(cbOutput->currentIndex());
    pnlCut->resize(format.Box);
    ImgTarget->setGeometry(QRect(format.CutAt, format.Box));
    Bevel2->setGeometry(QRect(format.FrameAt, format.Box + QSize(6, 6)));
}

void TfraPhotoShop::btnCutClick() {
    if (FStandard) {
        CutStandard();
        return;
    }
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
    // The straightened copy goes too, so that the old photo is really let go of.
    FStraight = QImage();
    FLoader->Release(std::exchange(FSource, picture));
    NewSource(FSource);
    TrackBarChange();
    if (FStandard) {
        btnAlignClick();
    }
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
                           (FStandard ? QLatin1Char('_') +
                                            QString(FStandard->Name).replace(QLatin1Char('/'),
                                                                             QLatin1Char('-'))
                                      : QString::fromUtf8(
                                            Format(cbOutput->currentIndex()).NameSuffix)) +
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
            if (FStandard) {
                bytes = FCutJpeg.Data;  // the standard's file as cut: its dpi and KB range
            } else if (!PhotoPipeline::EncodeJpeg(cut, kJpegQuality, bytes, error)) {
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
    if (FStandard) {
        PrintStandard();
        return QString();
    }
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
    PhotoPipeline::TJpegHooks atPrintSize;
    atPrintSize.Dpi = PrintSheet::kDpi;
    if (!PhotoPipeline::EncodeJpeg(sheet, kJpegQuality, jpeg, error, atPrintSize)) {
        FDialogs->ShowError(this, QStringLiteral("无法保存打印排版 \"%1.jpg\": %2")
                                      .arg(QDir::toNativeSeparators(base), error));
        return QString();
    }
    const PhotoPipeline::TPlaceResult placed =
        PhotoPipeline::PlaceBytes(base, QStringLiteral(".jpg"), jpeg);
    if (!placed.Ok) {
        FDialogs->ShowError(this, placed.Error);
        return QString();
    }
    emit InfoText(
        QStringLiteral("打印排版已保存: %1").arg(QDir::toNativeSeparators(placed.FileName)));
    return placed.FileName;
}

// --- Identity-photo standards -------------------------------------------------------

void TfraPhotoShop::OffGui(std::function<std::function<void()>()> work) {
    const unsigned generation = ++FGeneration;
    FBusy = true;
    QPointer<TfraPhotoShop> self(this);
    QThreadPool::globalInstance()->start([self, generation, work = std::move(work)] {
        std::function<void()> apply = work();  // worker thread: no member of the frame
        QMetaObject::invokeMethod(
            qApp,
            [self, generation, apply = std::move(apply)] {
                if (!self || self->FGeneration != generation) {
                    return;  // the frame is gone, or newer work replaced this
                }
                self->FBusy = false;
                apply();
                emit self->IdWorkDone();
            },
            Qt::QueuedConnection);
    });
}

QString TfraPhotoShop::IdInfo() const {
    return lblIdInfo->text();
}

void TfraPhotoShop::SayId(const QString& text) {
    lblIdInfo->setText(text);
    lblIdInfo->setToolTip(text);
}

QSize TfraPhotoShop::IdBox() const {
    const double aspect = double(FStandard->Pixels.width()) / FStandard->Pixels.height();
    const int height = aspect > 2 ? int(300 / aspect) : kIdBoxHeight;
    return QSize(std::max(1, int(std::lround(height * aspect))), height);
}

double TfraPhotoShop::ViewScale() const {
    const QImage& shown = Shown();
    if (shown.isNull()) {
        return 0;
    }
    const double fit = std::min(320.0 / shown.width(), 240.0 / shown.height());
    return fit * TrackBar->value() / 100.0;
}

QRectF TfraPhotoShop::BoxInPicture() const {
    const double scale = ViewScale();
    if (scale <= 0) {
        return QRectF();
    }
    const QRectF box = QRectF(pnlCut->geometry()).translated(-QPointF(ImgSource->pos()));
    return QRectF(box.left() / scale, box.top() / scale, box.width() / scale,
                  box.height() / scale);
}

void TfraPhotoShop::cbBackgroundChange() {
    if (cbBackground->currentIndex() == 4) {
        const std::optional<QRgb> colour =
            FDialogs->BackgroundColour(this, FCustomColour.value_or(IdBackground::kWhite));
        if (colour) {
            FCustomColour = colour;
        } else if (!FCustomColour) {
            // Cancelled with no colour of the user's yet: the choice before stays.
            cbBackground->setCurrentIndex(FBackgroundIndex);
            return;
        }
    }
    FBackgroundIndex = cbBackground->currentIndex();
    if (!FIdCut.isNull()) {
        CutStandard();
    }
}

std::optional<QRgb> TfraPhotoShop::BackgroundChoice() const {
    const int index = cbBackground->currentIndex();
    if (index >= 1 && index <= 3) {
        return kBackgrounds[index - 1];
    }
    return index == 4 ? FCustomColour : std::nullopt;
}

bool TfraPhotoShop::KbChoice(int& minKb, int& maxKb) const {
    minKb = maxKb = 0;
    return edtKb->text().trimmed().isEmpty() ||
           IdPhotoStandards::ParseKbRange(edtKb->text(), minKb, maxKb);
}

void TfraPhotoShop::cbStandardChange() {
    const int index = cbStandard->currentIndex();
    const bool had = FStandard.has_value();
    if (index <= 0) {
        FStandard.reset();
    } else if (index <= int(IdPhotoStandards::All().size())) {
        FStandard = IdPhotoStandards::All()[size_t(index - 1)];
    } else {
        const std::optional<QString> text = FDialogs->CustomSize(this, FCustomSize);
        const auto custom = text ? IdPhotoStandards::ParseCustom(*text) : std::nullopt;
        if (!custom) {
            if (text) {
                FDialogs->ShowMessage(this, kCustomSizeText);
            }
            // The list shows the standard still in force.
            int shown = 0;
            if (FStandard) {
                shown = FStandard->Custom ? cbStandard->count() - 1
                                          : cbStandard->findText(FStandard->Name);
            }
            cbStandard->setCurrentIndex(shown);
            return;
        }
        FCustomSize = text->trimmed();
        FStandard = custom;
    }
    for (QWidget* w : {static_cast<QWidget*>(cbBackground), static_cast<QWidget*>(edtKb),
                       static_cast<QWidget*>(btnAlign), static_cast<QWidget*>(lblBackground)}) {
        w->setEnabled(FStandard.has_value());
    }
    cbOutput->setEnabled(!FStandard);
    FStraight = FSource;
    FFace.reset();
    ++FGeneration;
    FBusy = false;
    if (FStandard) {
        // The standard's own background and KB range, which the user may change.
        int bg = 0;
        for (int i = 0; i < 3; ++i) {
            bg = FStandard->Background == kBackgrounds[i] ? i + 1 : bg;
        }
        cbBackground->setCurrentIndex(bg);
        FBackgroundIndex = bg;
        edtKb->setText(FStandard->MinKb > 0 || FStandard->MaxKb > 0
                           ? QStringLiteral("%1-%2")
                                 .arg(FStandard->MinKb > 0 ? QString::number(FStandard->MinKb) : QString())
                                 .arg(FStandard->MaxKb > 0 ? QString::number(FStandard->MaxKb) : QString())
                           : QString());
        SayId(FStandard->Name + QStringLiteral(": ") + IdPhotoStandards::Describe(*FStandard));
    } else {
        SayId(QString());
    }
    cbOutputChange();
    TrackBarChange();
    if (had != FStandard.has_value()) {
        emit StandardChosen(FStandard.has_value());
    }
    if (FStandard && !FSource.isNull()) {
        btnAlignClick();
    }
}

void TfraPhotoShop::btnAlignClick() {
    if (!FStandard) {
        return;
    }
    if (FSource.isNull()) {
        FDialogs->ShowMessage(this, kNoPhotoText);
        return;
    }
    SayId(QStringLiteral("正在查找人脸..."));
    const QImage source = FSource;
    const TIdPhotoStandard standard = *FStandard;
    OffGui([this, source, standard]() -> std::function<void()> {
        const TIdPhotoFraming framing = IdPhoto::Locate(source, standard);
        QImage straight = source;
        if (framing.Ok() && framing.Frame.Rotation != 0) {
            straight = IdPhotoFraming::TurnedArea(source, framing.Frame.Pivot,
                                                  framing.Frame.Rotation, source.rect());
        }
        return [this, framing, straight] {
            if (!framing.Ok()) {
                SayId(framing.Error);  // the box stays where it was
                return;
            }
            if (straight.isNull()) {
                FDialogs->ShowError(this, QStringLiteral("内存不足, 无法扶正照片."));
                return;
            }
            FStraight = straight;
            const QRectF face = framing.Face.Face;
            const QPointF centre = IdPhotoFraming::Straightened(framing.Frame, face.center());
            FFace = QRectF(centre - QPointF(face.width(), face.height()) / 2, face.size());
            // The zoom that shows the frame as a box of the usual height, or the
            // largest zoom and a smaller box when the frame is small in the photo.
            const QRectF crop = framing.Frame.Crop;
            const double fit = std::min(320.0 / FStraight.width(), 240.0 / FStraight.height());
            const int zoom =
                std::clamp(int(std::lround(IdBox().height() / (crop.height() * fit) * 100)), 1, 100);
            const QSignalBlocker quiet(TrackBar);
            TrackBar->setValue(zoom);
            TrackBarChange();
            const double scale = ViewScale();
            pnlCut->setGeometry(QRect(
                ImgSource->pos() + QPoint(int(std::lround(crop.left() * scale)),
                                          int(std::lround(crop.top() * scale))),
                QSize(std::max(1, int(std::lround(crop.width() * scale))),
                      std::max(1, int(std::lround(crop.height() * scale))))));
            const QString remarks = IdPhoto::Remarks(framing, TIdPhotoCut{});
            SayId(QStringLiteral("已对准") +
                  (remarks.isEmpty() ? QString() : QStringLiteral(": ") + remarks));
            CutStandard();
        };
    });
}

void TfraPhotoShop::CutStandard() {
    const QRectF rect = BoxInPicture();
    if (!FStandard || Shown().isNull() || rect.isEmpty()) {
        FDialogs->ShowMessage(this, kNoPhotoText);
        return;
    }
    int minKb = 0, maxKb = 0;
    if (!KbChoice(minKb, maxKb)) {
        SayId(QStringLiteral("KB 范围应写成 最小-最大, 如 14-20"));
        return;
    }
    const QImage straight = FStraight;
    const TIdPhotoStandard standard = *FStandard;
    const std::optional<QRgb> background = BackgroundChoice();
    const std::optional<QRectF> known = FFace;
    const QString aligned = lblIdInfo->text().startsWith(QStringLiteral("已对准"))
                                ? lblIdInfo->text() + QStringLiteral("\n")
                                : QString();
    OffGui([=, this]() -> std::function<void()> {
        std::optional<QRectF> face = known;
        if (!face && background) {
            const TFaceFind found = FaceFinder::Find(straight);
            if (found.Found()) {
                face = found.Face;
            }
        }
        TIdFrame frame;
        frame.Crop = rect;
        const TIdPhotoCut cut = IdPhoto::Cut(straight, frame, standard.Pixels,
                                             face.value_or(QRectF()),
                                             face ? background : std::nullopt);
        const TIdJpeg jpeg = cut.Picture.isNull()
                                 ? TIdJpeg{}
                                 : IdPhotoJpeg::Encode(cut.Picture, standard.Dpi, minKb, maxKb);
        return [=, this] {
            if (cut.Picture.isNull()) {
                FDialogs->ShowError(this, QStringLiteral("内存不足, 无法裁切."));
                return;
            }
            FIdCut = cut.Picture;
            FCutJpeg = jpeg;
            FCutRect = rect;
            FCutFrom = straight.cacheKey();
            FCutFace = face;
            FCutBackground = cut.BackgroundChanged ? background : std::nullopt;
            const QImage preview =
                cut.Picture.scaled(QSize(140, 197), Qt::KeepAspectRatio, Qt::SmoothTransformation);
            ImgTarget->resize(preview.size());
            ImgTarget->SetPicture(preview);
            QStringList said;
            if (jpeg.Ok()) {
                said << QStringLiteral("%1x%2 像素, %3 KB, 质量 %4%5")
                            .arg(cut.Picture.width())
                            .arg(cut.Picture.height())
                            .arg(jpeg.Data.size() / 1024.0, 0, 'f', 1)
                            .arg(jpeg.Quality)
                            .arg(jpeg.Padding > 0 ? QStringLiteral(" (已补足最小大小)") : QString());
            } else {
                said << jpeg.Error;
            }
            if (cut.Enlargement > 1.0001) {
                said << QStringLiteral("照片像素不足, 已放大 %1 倍").arg(cut.Enlargement, 0, 'f', 2);
            }
            if (cut.Extended) {
                said << QStringLiteral("取景超出照片边缘, 以边缘像素补足");
            }
            if (background && !face) {
                said << QStringLiteral("未检测到人脸, 无法更换背景");
            } else if (background && !cut.BackgroundChanged) {
                said << cut.BackgroundRefused;
            }
            SayId(aligned + said.join(QStringLiteral("; ")));
        };
    });
}

void TfraPhotoShop::PrintStandard() {
    if (!FStandard || FIdCut.isNull()) {
        FDialogs->ShowMessage(this, kNoPhotoText);
        return;
    }
    // The cut at its real size at the sheet's 300 dpi. A standard of 300 dpi prints the
    // very pixels that are stored, a finer one the cut averaged down; a coarser one (a
    // small form photo) would print enlarged pixels, so its frame is cut again from the
    // photograph at the sheet's pixels while that photograph is still the one shown.
    const QSize pixels = PrintSheet::RealSize(FStandard->Pixels, FStandard->Dpi);
    const QSize paper = cbPaper->currentIndex() == 1 ? PrintSheet::kA4Size : PrintSheet::kSheetSize;
    const QImage stored = FIdCut;
    const QImage straight = FStraight.cacheKey() == FCutFrom && pixels.height() > stored.height()
                                ? FStraight
                                : QImage();
    const QRectF rect = FCutRect;
    const std::optional<QRectF> face = FCutFace;
    const std::optional<QRgb> background = FCutBackground;
    const QString name = QString(FStandard->Name).replace(QLatin1Char('/'), QLatin1Char('-'));
    OffGui([=, this]() -> std::function<void()> {
        QImage copy = stored;
        if (!straight.isNull()) {
            TIdFrame frame;
            frame.Crop = rect;
            const TIdPhotoCut again =
                IdPhoto::Cut(straight, frame, pixels, face.value_or(QRectF()), background);
            // Only a cut that looks as the stored one does: its wall changed or kept alike.
            if (!again.Picture.isNull() && again.BackgroundChanged == background.has_value()) {
                copy = again.Picture;
            }
        }
        if (copy.size() != pixels &&
            !PhotoPipeline::ScalePhoto(copy, pixels.width(), pixels.height())) {
            copy = QImage();
        }
        int copies = 0;
        const QImage sheet = copy.isNull() ? QImage() : PrintSheet::ComposeOn(copy, paper, &copies);
        QByteArray jpeg;
        QString error;
        PhotoPipeline::TJpegHooks atPrintSize;
        atPrintSize.Dpi = PrintSheet::kDpi;
        const bool encoded = !sheet.isNull() && PhotoPipeline::EncodeJpeg(sheet, kJpegQuality, jpeg,
                                                                          error, atPrintSize);
        return [=, this] {
            if (!encoded || copies == 0) {
                FDialogs->ShowError(this, QStringLiteral("无法排版: %1")
                                              .arg(error.isEmpty() ? QStringLiteral("内存不足") : error));
                return;
            }
            if (!FDialogs->ConfirmPrintSheet(this, sheet, copies)) {
                return;
            }
            const TPhotoNaming naming = Naming();
            const QString base = NameInFolder(
                naming.Folder, naming.Prefix +
                                   PhotoPipeline::DateTimeName(QDateTime::currentDateTime()) +
                                   QLatin1Char('_') + name + QStringLiteral("排版"));
            const PhotoPipeline::TPlaceResult placed =
                PhotoPipeline::PlaceBytes(base, QStringLiteral(".jpg"), jpeg);
            if (!placed.Ok) {
                FDialogs->ShowError(this, placed.Error);
                return;
            }
            emit InfoText(QStringLiteral("打印排版已保存: %1")
                              .arg(QDir::toNativeSeparators(placed.FileName)));
        };
    });
}
