// snapix-shot's identity photos.
#include "cli/IdPhotoShot.h"

#include <QStringList>

#include "cli/Shot.h"
#include "photo/PhotoFile.h"

TIdPhotoRequest IdPhotoRequestFor(const TShotOptions& options) {
    TIdPhotoRequest request;
    request.Standard = IdPhotoStandards::Find(options.IdPhoto).value_or(TIdPhotoStandard{});
    request.Background = options.Background ? options.Background : request.Standard.Background;
    request.MinKb = options.Kb ? options.MinKb : request.Standard.MinKb;
    request.MaxKb = options.Kb ? options.MaxKbOfRange : request.Standard.MaxKb;
    return request;
}

void PrintIdPhotoStandards(FILE* out) {
    for (const TIdPhotoStandard& s : IdPhotoStandards::All()) {
        PrintLine(out, QStringLiteral("%1\t%2\t%3").arg(s.Name, s.Alias, IdPhotoStandards::Describe(s)));
    }
    PrintLine(
        out, QStringLiteral(
                 "custom:WxH[mm][@DPI]\t\tpixels, or millimetres with mm, at a dpi (default 300)"));
}

QString StoreIdPhoto(const QImage& photo, const TIdPhotoRequest& request, const QString& folder,
                     const QString& baseName, const QString& source, FILE* err) {
    const auto say = [&](const QString& text) {
        PrintLine(err, QStringLiteral("snapix-shot: %1: %2").arg(source, text));
    };
    const IdPhoto::TMade made = IdPhoto::Make(photo, request);
    if (!made.Ok()) {
        say(made.Error + QStringLiteral(", nothing stored"));
        return QString();
    }
    const QString remarks = IdPhoto::Remarks(made.Framing, made.Cut);
    if (!remarks.isEmpty()) {
        say(remarks);
    }
    if (request.Background && !made.Cut.BackgroundChanged) {
        say(made.Cut.BackgroundRefused);
    }
    const QString base = folder + baseName + QLatin1Char('_') +
                         QString(request.Standard.Name).replace(QLatin1Char('/'), QLatin1Char('-'));
    const QByteArray& jpeg = made.Jpeg.Data;
    const PhotoPipeline::TPlaceResult placed =
        PhotoPipeline::PlaceBytes(base, QStringLiteral(".jpg"), jpeg);
    if (!placed.Ok) {
        say(placed.Error);
        return QString();
    }
    say(QStringLiteral("%1x%2, %3 KB at quality %4%5")
            .arg(made.Cut.Picture.width())
            .arg(made.Cut.Picture.height())
            .arg(jpeg.size() / 1024.0, 0, 'f', 1)
            .arg(made.Jpeg.Quality)
            .arg(made.Jpeg.Padding > 0 ? QStringLiteral(" (padded to the minimum)") : QString()));
    return placed.FileName;
}
