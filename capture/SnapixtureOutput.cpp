// The photo output pipeline of TSnapixture: the steps from the grabbed frame to the
// stored file, run on the GUI thread inside Capture.
#include "capture/Snapixture.h"

#include <cstring>
#include <optional>

#include <linux/videodev2.h>

#include <QDateTime>
#include <QStringList>

#include "capture/FilterGraph.h"
#include "photo/Bmp.h"
#include "photo/Caption.h"
#include "photo/Exif.h"
#include "photo/Grey.h"
#include "photo/Jpeg.h"
#include "photo/Names.h"
#include "photo/PhotoFile.h"
#include "photo/Scale.h"
#include "photo/SizeLimit.h"
#include "photo/SizeRule.h"

namespace {

// The camera's name as its driver gives it; empty when it does not answer.
QString CameraName(const TFilter& filter) {
    v4l2_capability capability{};
    if (filter.Ioctl(VIDIOC_QUERYCAP, &capability) != 0) {
        return {};
    }
    const auto* card = reinterpret_cast<const char*>(capability.card);
    return QString::fromUtf8(card, qsizetype(::strnlen(card, sizeof capability.card)));
}

// What the EXIF block of a photograph taken at `taken` from the camera behind `filter`
// records; its description is the caption lines drawn on a picture `width` pixels wide.
PhotoPipeline::TExifFields ExifFieldsOf(const QDateTime& taken, const TFilter& filter,
                                        const PhotoPipeline::TCaptionLines& lines, int width) {
    QStringList drawn;
    for (const PhotoPipeline::TCaptionLayout::TLine& line :
         PhotoPipeline::CaptionLayout(width).Lines) {
        if (!lines[line.Index].isEmpty()) {
            drawn << lines[line.Index];
        }
    }
    return {taken, CameraName(filter), QStringLiteral("Snapix ") + QStringLiteral(SNAPIX_VERSION),
            drawn.join(QLatin1Char('\n'))};
}

}  // namespace

int TSnapixture::RunOutputPipeline() {
    using namespace PhotoPipeline;

    // Every step below works on 24-bit B, G, R rows; a frame in any other layout is
    // brought to it once here.
    if (!FBitmap.isNull() && FBitmap.format() != QImage::Format_BGR888) {
        FBitmap.convertTo(QImage::Format_BGR888);
    }

    // A size limit starts from an output size and a quality, the largest it allows, and
    // always means JPEG. These changes outlive the capture.
    int64_t maxBytes = 0;  // none to keep
    if (PhotoSize == 1) {
        FileFormat = 0;
        const TSizeLimitChoice choice = SizeLimitChoice(PhotoSize2);
        CompressionQuality = choice.CompressionQuality;
        SetOutputResolution(choice.OutputResolution);
        maxBytes = SizeLimitBytes(PhotoSize2);
    }

    // The caption goes on before scaling, so its layout follows the live picture's width.
    const TCaptionLines lines{Title.Line1, Title.Line2, Title.Line3, Title.Line4, Title.Line5};
    DrawCaption(FBitmap, lines, PrintDate, PrintTime, FontColor, FTaken);
    const QSize live = FBitmap.size();
    // A photograph that has to be made smaller to keep its limit is made from this.
    const QImage captioned = maxBytes > 0 ? FBitmap : QImage();

    // With nobody to see the enlarged picture before it is encoded (no OnCapturing
    // handler), a JPEG photograph is enlarged on a second thread a few bands ahead of its
    // encoding instead of whole before it: the same picture and the same bytes, in about
    // the time of the encoding alone. One that may be encoded again is made whole.
    TEnlargement enlargement;
    const bool enlargeWhileEncoding =
        UseOutputResolution && FileFormat == 0 && !OnCapturing && maxBytes == 0 &&
        (FBitmap.width() != FOutputWidth || FBitmap.height() != FOutputHeight) &&
        enlargement.Begin(FBitmap, FOutputWidth, FOutputHeight);
    if (enlargeWhileEncoding) {
        FBitmap = enlargement.TakePicture();  // its rows are made during the encoding
    } else if (UseOutputResolution) {
        // A photo that cannot be scaled is kept at its own size.
        ScalePhoto(FBitmap, FOutputWidth, FOutputHeight);
    }

    Fire(OnCapturing);

    // With JPEG, black and white happens inside the encoding, band by band just before
    // libjpeg reads each band, which then takes the grey values as they are (no colour
    // conversion); and the stream goes to its file while the rest is still being
    // compressed. Each byte of the big picture passes through the cache once. A
    // size-limited photograph is measured before it is stored: it is kept in memory.
    const bool grey = PhotoStyle == 1;
    const TExifFields exif =
        FileFormat == 0 ? ExifFieldsOf(FTaken, *FFilter, lines, live.width()) : TExifFields{};
    std::optional<TPhotoFile> file;
    if (FileFormat == 0 && maxBytes > 0) {
        TSizeLimit limit;
        limit.MaxBytes = maxBytes;
        limit.HighestQuality = CompressionQuality;
        limit.BlackAndWhite = grey;
        // The caption lines are on the picture itself; in the file's record they may take
        // an eighth of the limit, so that a long caption never pushes the file over it.
        const int descriptionBudget = int(qMin<int64_t>(maxBytes / 8, MaxApp1Bytes));
        limit.ExifFor = [&exif, descriptionBudget](QSize size) {
            return ExifBlock(exif, size, descriptionBudget);
        };
        TSizeLimited result;
        QString why;
        if (!EncodeWithinSizeLimit(FBitmap, captioned, SizeLimitSteps(FBitmap.size(), live), limit,
                                   result, why)) {
            Fail(FBitmap.isNull()
                     ? QStringLiteral("没有取到画面, 无法生成 JPEG 照片 (%1).").arg(why)
                     : QStringLiteral("JPEG 编码失败: %1.").arg(why));
            return 1;
        }
        FJpeg = std::move(result.Jpeg);
        CompressionQuality = uint8_t(result.Quality);
        if (!result.Fits) {
            FWithinSizeLimit = false;
            FNotice = QStringLiteral("%1 KB 以内无法做到, 已存为最小的 %2 KB (%3x%4).")
                          .arg(maxBytes / 1024)
                          .arg((FJpeg.size() + 1023) / 1024)
                          .arg(FBitmap.width())
                          .arg(FBitmap.height());
        }
    } else if (FileFormat == 0) {
        if (SaveAsFile) {
            // The folder is that of every name this photograph can get. A folder that
            // cannot take the file fails the capture below, where the name is known.
            file.emplace();
            QString ignored;
            if (!file->Open(SavePath + FileHeader, ignored)) {
                file.reset();
            }
        }
        TJpegHooks hooks;
        hooks.Exif = ExifBlock(exif, FBitmap.size());
        if (file) {
            hooks.Output = [&file](const char* data, size_t size) { file->Append(data, size); };
        }
        // AJpeg keeps the previous photograph's encoding unless this one succeeds.
        QByteArray jpeg;
        QString why;
        const bool encoded =
            enlargeWhileEncoding
                ? EncodeJpegWhileMaking(
                      FBitmap, grey, CompressionQuality,
                      [&enlargement](int first, int count) { enlargement.MakeRows(first, count); },
                      jpeg, why, hooks)
            : grey ? EncodeBlackAndWhiteJpeg(FBitmap, CompressionQuality, jpeg, why, hooks)
                   : EncodeJpeg(FBitmap, CompressionQuality, jpeg, why, hooks);
        if (!encoded) {
            Fail(FBitmap.isNull()
                     ? QStringLiteral("没有取到画面, 无法生成 JPEG 照片 (%1).").arg(why)
                     : QStringLiteral("JPEG 编码失败: %1.").arg(why));
            return 1;
        }
        FJpeg = std::move(jpeg);
    } else if (grey) {
        ToGrey(FBitmap);
    }

    if (!SaveAsFile) {
        return 0;
    }

    const QString extension = Extension(FileFormat);
    QString base = FileHeader;
    if (FileNameType == 0) {
        base += DateTimeName(FTaken);
    } else if (FileNameType == 1) {
        ++MaxNo;  // wraps from 4294967295 to 0
        base += SerialName(MaxNo);
    }
    FFileName = SavePath + base + extension;
    if (FileFormat != 0 && FileFormat != 1) {
        return 0;  // no file format chosen: nothing is stored
    }
    if (FBitmap.isNull()) {
        // A file without a picture is no photograph; JPEG refuses it in encoding.
        Fail(QStringLiteral("没有取到画面, 未保存照片 \"%1\".").arg(FFileName));
        return 1;
    }

    // A name that is taken is never replaced: a serial name moves on to the next number
    // (MaxNo ends as the number used), any other name gets "_1", "_2", ...
    const TNameFor nameFor = [this, &base, &extension](unsigned attempt) {
        if (attempt == 0) {
            return SavePath + base + extension;
        }
        if (FileNameType == 1) {
            ++MaxNo;
            return SavePath + FileHeader + SerialName(MaxNo) + extension;
        }
        return SavePath + base + QStringLiteral("_%1").arg(attempt) + extension;
    };
    TPlaceResult placed;
    if (file) {
        placed = file->Place(nameFor);
    } else {
        const TWriteContent write = [this](int fd, QString& why) {
            if (FileFormat == 0) {
                return WriteAll(fd, FJpeg.constData(), size_t(FJpeg.size()), why);
            }
            return WriteBmp(FBitmap, [fd, &why](const char* data, size_t size) {
                return WriteAll(fd, data, size, why);
            });
        };
        placed = PlacePhotoFile(nameFor, write);
    }
    if (!placed.Ok) {
        Fail(placed.Error + QLatin1Char('.'));
        return 1;
    }
    FFileName = placed.FileName;
    return 0;
}
