// Caption lines and the date/time stamp drawn on a photograph, inked through a mask.
#include "photo/Caption.h"

#include <QFont>
#include <QFontDatabase>
#include <QHash>
#include <QLocale>
#include <QPainter>
#include <QStringList>

namespace PhotoPipeline {

TCaptionLayout CaptionLayout(int photoWidth) {
    const QString song = QStringLiteral("宋体");
    // Line1, Line3, Line4, Line5 one below the other, `step` pixels apart.
    auto fourLines = [](int step) {
        return QVector<TCaptionLayout::TLine>{{0, QPoint(10, 10)},
                                              {2, QPoint(10, 10 + step)},
                                              {3, QPoint(10, 10 + 2 * step)},
                                              {4, QPoint(10, 10 + 3 * step)}};
    };
    switch (photoWidth) {
        case 160:
            return {QStringLiteral("Small Fonts"), 8, {{1, QPoint(5, 5)}}, {80, 15}, {50, 15}};
        case 320:
            return {song, 12, fourLines(20), {120, 30}, {60, 30}};
        case 640:
            return {song, 16, fourLines(20), {160, 30}, {120, 30}};
        case 1280:
            return {song, 24, fourLines(40), {280, 70}, {240, 70}};
        default:
            return {song, 16, fourLines(20), {200, 30}, {160, 30}};
    }
}

namespace {

QString FirstInstalled(const QStringList& wanted, const QStringList& installed) {
    for (const QString& family : wanted) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            return family;
        }
    }
    return {};
}

QString FindSongFamily() {
    const QStringList installed = QFontDatabase::families();
    QString family =
        FirstInstalled({QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
                        QStringLiteral("AR PL UMing HK"), QStringLiteral("Noto Serif CJK SC"),
                        QStringLiteral("Source Han Serif SC")},
                       installed);
    if (!family.isEmpty()) {
        return family;
    }
    // Any other face that writes simplified Chinese, a serif one first.
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    for (const QString& candidate : chinese) {
        if (candidate.contains(QLatin1String("Serif"), Qt::CaseInsensitive) ||
            candidate.contains(QLatin1String("Song"), Qt::CaseInsensitive) ||
            candidate.contains(QLatin1String("Ming"), Qt::CaseInsensitive)) {
            return candidate;
        }
    }
    if (!chinese.isEmpty()) {
        return chinese.first();
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QString FindSmallSansFamily() {
    const QString family =
        FirstInstalled({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                        QStringLiteral("Noto Sans")},
                       QFontDatabase::families());
    return family.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::GeneralFont).family()
                            : family;
}

}  // namespace

QString ResolveCaptionFamily(const QString& fontName) {
    // Resolved once per run on the GUI thread; the installed fonts do not change under us.
    static QHash<QString, QString> resolved;
    const auto it = resolved.constFind(fontName);
    if (it != resolved.constEnd()) {
        return *it;
    }
    QString family;
    if (fontName == QLatin1String("Small Fonts")) {
        family = FindSmallSansFamily();
    } else {
        family = FindSongFamily();
    }
    QFont::insertSubstitution(fontName, family);
    resolved.insert(fontName, family);
    return family;
}

namespace {

// The locale's long time format with its time-zone part taken out: hours, minutes and
// seconds are what a photo stamp shows.
QString LongTimeFormat() {
    const QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        }
        if (!quoted && c == QLatin1Char('t')) {
            continue;
        }
        out += c;
    }
    return out.trimmed();
}

}  // namespace

QString StampText(const QDateTime& now, bool printDate, bool printTime) {
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(now.date(), QLocale::ShortFormat);
    const QString time = locale.toString(now.time(), LongTimeFormat());
    if (printDate && printTime) {
        if (now.time() == QTime(0, 0, 0)) {
            return date;
        }
        return date + QLatin1Char(' ') + time;
    }
    if (printDate) {
        return date;
    }
    if (printTime) {
        return time;
    }
    return {};
}

namespace {

void DrawTextAt(QPainter& painter, QPoint topLeft, const QString& text) {
    // (x, y) is the top-left corner of the text cell, not the baseline.
    painter.drawText(QRect(topLeft, QSize(1 << 20, 1 << 20)),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip, text);
}

}  // namespace

void DrawCaption(QImage& photo, const TCaptionLines& lines, bool printDate, bool printTime,
                 uint32_t fontColor, const QDateTime& now) {
    if (photo.isNull()) {
        return;
    }
    const TCaptionLayout layout = CaptionLayout(photo.width());
    const QString stamp = StampText(now, printDate, printTime);
    bool anything = !stamp.isEmpty();
    for (const TCaptionLayout::TLine& line : layout.Lines) {
        anything = anything || !lines[line.Index].isEmpty();
    }
    if (!anything) {
        return;  // a blank mask would ink nothing
    }

    QImage mask(photo.size(), QImage::Format_RGB32);
    if (mask.isNull()) {
        return;  // no memory for the mask: the photo goes on without its caption
    }
    mask.fill(Qt::white);
    try {
        QPainter painter(&mask);
        QFont font(ResolveCaptionFamily(layout.FontName));
        font.setPixelSize(layout.PixelSize);
        font.setWeight(QFont::Normal);
        font.setItalic(false);
        painter.setFont(font);
        painter.setPen(QColor(fontColor & 0xFF, (fontColor >> 8) & 0xFF, (fontColor >> 16) & 0xFF));
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.setBackground(Qt::white);
        for (const TCaptionLayout::TLine& line : layout.Lines) {
            if (!lines[line.Index].isEmpty()) {
                DrawTextAt(painter, line.TopLeft, lines[line.Index]);
            }
        }
        if (!stamp.isEmpty()) {
            const QPoint offset =
                printDate && printTime ? layout.StampOffsetBoth : layout.StampOffsetOne;
            DrawTextAt(painter, QPoint(photo.width() - offset.x(), photo.height() - offset.y()),
                       stamp);
        }
    } catch (...) {
        // Whatever reached the mask before the failure is still inked below.
    }
    InkThroughMask(photo, mask);
}

void InkThroughMask(QImage& photo, const QImage& mask) {
    if (photo.isNull() || mask.size() != photo.size() || photo.format() != QImage::Format_BGR888 ||
        mask.format() != QImage::Format_RGB32) {
        return;
    }
    const int width = photo.width();
    for (int y = 0; y < photo.height(); ++y) {
        const auto* m = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        uint8_t* p = photo.scanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            if ((m[x] & 0xFFFFFF) != 0xFFFFFF) {
                // Only the blue byte decides, whatever the brightness.
                const uint8_t ink = p[0] > 128 ? 0 : 255;
                p[0] = p[1] = p[2] = ink;
            }
        }
    }
}

}  // namespace PhotoPipeline
