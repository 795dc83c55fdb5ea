// The photo output pipeline of TSnapixture: the steps from the grabbed frame to the
// stored file, run on the GUI thread inside Capture.
#include "capture/Snapixture.h"

#include <optional>

#include <QDateTime>

#include "photo/Bmp.h"
#include "photo/Caption.h"
#include "photo/Grey.h"
#include "photo/Jpeg.h"
#include "photo/Names.h"
#include "photo/PhotoFile.h"
#include "photo/Scale.h"
#include "photo/SizeRule.h"

int TSnapixture::RunOutputPipeline() {
    using namespace PhotoPipeline;

    // Every step below works on 24-bit B, G, R rows; a frame in any other layout is
    // brought to it once here.
    if (!FBitmap.isNull() && FBitmap.format() != QImage::Format_BGR888) {
        FBitmap.convertTo(QImage::Format_BGR888);
    }

    // A size limit stands for an output size and a quality, and always means JPEG.
    // These changes outlive the capture.
    if (PhotoSize == 1) {
        FileFormat = 0;
        const TSizeLimitChoice choice = SizeLimitChoice(PhotoSize2);
        CompressionQuality = choice.CompressionQuality;
        SetOutputResolution(choice.OutputResolution);
    }

    // The caption goes on before scaling, so its layout follows the live picture's width.
    DrawCaption(FBitmap, {Title.Line1, Title.Line2, Title.Line3, Title.Line4, Title.Line5},
                PrintDate, PrintTime, FontColor, QDateTime::currentDateTime());

    // With nobody to see the enlarged picture before it is encoded (no OnCapturing
    // handler), a JPEG photograph is enlarged on a second thread a few bands ahead of its
    // encoding instead of whole before it: the same picture and the same bytes, in about
    // the time of the encoding alone.
    TEnlargement enlargement;
    const bool enlargeWhileEncoding =
        UseOutputResolution && FileFormat == 0 && !OnCapturing &&
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
    // compressed. Each byte of the big picture passes through the cache once.
    const bool grey = PhotoStyle == 1;
    std::optional<TPhotoFile> file;
    if (FileFormat == 0) {
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
        base += DateTimeName(QDateTime::currentDateTime());
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
