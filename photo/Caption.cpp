// Caption lines and the date/time stamp drawn on a photograph, inked through a mask.
#include "photo/Caption.h"

#include <algorithm>

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
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

// How a locale writes the time of day, read from its long time format. Only the order and
// kind of the fields are taken from it; its literal text (unit words, brackets, letters it
// does not define) and its time zone never reach the stamp.
struct TClockStyle {
    bool TwelveHour = false;    // hours 1..12 with a day-period marker
    bool MarkerFirst = false;   // the marker before the hours ("下午2:30:05")
    bool MarkerSpaced = false;  // a space between the marker and the digits
    bool PadHour = false;       // "09" rather than "9"
    QString Separator = QStringLiteral(":");
};

struct TFormatToken {
    QChar Letter;    // 'H', 'h', 'm', 's', 'a' for any day period, or another format letter
    int Count;       // how many times the letter repeats
    QString Before;  // the literal text between the previous token and this one
};

// The format's fields in order. Only ASCII letters are fields; quoted text and every other
// character are literal. A day period is Qt's "AP"/"ap"/"A"/"a" or the "B" of the locale
// data that Qt passes on unread.
QVector<TFormatToken> FormatTokens(const QString& format) {
    QVector<TFormatToken> tokens;
    QString literal;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            continue;
        }
        const bool field = !quoted && c.unicode() < 128 && c.isLetter();
        if (!field) {
            literal += c;
            continue;
        }
        QChar letter = c;
        int count = 1;
        if (c == QLatin1Char('A') || c == QLatin1Char('a') || c == QLatin1Char('B')) {
            letter = QLatin1Char('a');
            while (i + 1 < format.size() &&
                   (format[i + 1] == QLatin1Char('P') || format[i + 1] == QLatin1Char('p'))) {
                ++i;
            }
        } else {
            while (i + 1 < format.size() && format[i + 1] == c) {
                ++i;
                ++count;
            }
        }
        tokens.push_back({letter, count, literal});
        literal.clear();
    }
    return tokens;
}

TClockStyle ClockStyle(const QLocale& locale) {
    const QVector<TFormatToken> tokens = FormatTokens(locale.timeFormat(QLocale::LongFormat));
    qsizetype hour = -1, minute = -1, marker = -1;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QChar letter = tokens[i].Letter;
        if (hour < 0 && (letter == QLatin1Char('H') || letter == QLatin1Char('h'))) {
            hour = i;
        } else if (minute < 0 && letter == QLatin1Char('m')) {
            minute = i;
        } else if (marker < 0 && letter == QLatin1Char('a')) {
            marker = i;
        }
    }
    TClockStyle style;
    if (hour < 0) {
        return style;  // a format without hours: the plain 24-hour clock
    }
    style.PadHour = tokens[hour].Count >= 2;
    // "H" is the 24-hour clock whatever else the format holds.
    style.TwelveHour = marker >= 0 && tokens[hour].Letter == QLatin1Char('h');
    if (style.TwelveHour) {
        style.MarkerFirst = marker < hour;
        const QString& between =
            style.MarkerFirst ? tokens[marker + 1].Before : tokens[marker].Before;
        style.MarkerSpaced =
            std::any_of(between.begin(), between.end(), [](QChar c) { return c.isSpace(); });
    }
    // A one-character separator ("14.30.05") is kept; unit words ("14時30分") are not.
    if (minute == hour + 1) {
        const QString& between = tokens[minute].Before;
        if (between.size() == 1 && !between[0].isLetterOrNumber() && !between[0].isSpace()) {
            style.Separator = between;
        }
    }
    return style;
}

// A number of a clock field in the locale's digits, two digits when `pad`.
QString ClockDigits(int value, bool pad, const QLocale& locale) {
    const QString digits = locale.toString(value);
    return pad && value < 10 ? locale.zeroDigit() + digits : digits;
}

}  // namespace

QString ClockText(const QTime& time, const QLocale& locale) {
    const TClockStyle style = ClockStyle(locale);
    int hour = time.hour();
    if (style.TwelveHour) {
        hour = hour % 12 == 0 ? 12 : hour % 12;
    }
    const QString digits = ClockDigits(hour, style.PadHour, locale) + style.Separator +
                           ClockDigits(time.minute(), true, locale) + style.Separator +
                           ClockDigits(time.second(), true, locale);
    if (!style.TwelveHour) {
        return digits;
    }
    const QString marker = time.hour() < 12 ? locale.amText() : locale.pmText();
    const QString space = style.MarkerSpaced ? QStringLiteral(" ") : QString();
    return style.MarkerFirst ? marker + space + digits : digits + space + marker;
}

QString StampText(const QDateTime& now, bool printDate, bool printTime, const QLocale& locale) {
    const QString date = locale.toString(now.date(), QLocale::ShortFormat);
    const QString time = ClockText(now.time(), locale);
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

const int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip;

void DrawTextAt(QPainter& painter, QPoint topLeft, const QString& text) {
    // (x, y) is the top-left corner of the text cell, not the baseline.
    painter.drawText(QRect(topLeft, QSize(1 << 20, 1 << 20)), kTextFlags, text);
}

// The smallest the stamp is written (the 160-pixel layout's size) when it is too wide for
// the photo at its layout's size.
constexpr int kSmallestStampPixels = 8;

// The area a text drawn at (0, 0) takes: its cell and the pixels its glyphs reach, which
// can stick out of the cell.
QRect TextArea(const QFontMetrics& metrics, const QString& text) {
    const QRect cell = metrics.boundingRect(QRect(0, 0, 1 << 20, 1 << 20), kTextFlags, text);
    return cell.united(metrics.boundingRect(text).translated(0, metrics.ascent()));
}

// Where the stamp goes: the layout's place, moved left and up just enough for the whole
// text to be on the photo, and never past its left or top edge.
QPoint StampPlace(QSize photo, QPoint offset, const QFontMetrics& metrics, const QString& stamp) {
    const QRect all = TextArea(metrics, stamp);
    int x = std::min(photo.width() - offset.x(), photo.width() - all.right() - 1);
    int y = std::min(photo.height() - offset.y(), photo.height() - all.bottom() - 1);
    x = std::max(x, -std::min(all.left(), 0));
    y = std::max(y, -std::min(all.top(), 0));
    return {x, y};
}

}  // namespace

QImage CaptionMask(QSize size, const TCaptionLines& lines, bool printDate, bool printTime,
                   uint32_t fontColor, const QDateTime& now, const QLocale& locale) {
    if (size.isEmpty()) {
        return {};
    }
    const TCaptionLayout layout = CaptionLayout(size.width());
    const QString stamp = StampText(now, printDate, printTime, locale);
    bool anything = !stamp.isEmpty();
    for (const TCaptionLayout::TLine& line : layout.Lines) {
        anything = anything || !lines[line.Index].isEmpty();
    }
    if (!anything) {
        return {};  // a blank mask would ink nothing
    }

    QImage mask(size, QImage::Format_RGB32);
    if (mask.isNull()) {
        return {};  // no memory for the mask: the photo goes on without its caption
    }
    mask.fill(Qt::white);
    try {
        QPainter painter(&mask);
        // Every touched pixel is inked whole: an anti-aliased edge would ink as much as
        // the glyph itself and turn small letters into blots.
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        QFont font(ResolveCaptionFamily(layout.FontName));
        font.setPixelSize(layout.PixelSize);
        font.setWeight(QFont::Normal);
        font.setItalic(false);
        font.setStyleStrategy(QFont::NoAntialias);
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
            // A stamp wider than the whole photo is written smaller until it fits.
            while (font.pixelSize() > kSmallestStampPixels &&
                   TextArea(QFontMetrics(font), stamp).width() > size.width()) {
                font.setPixelSize(font.pixelSize() - 1);
            }
            painter.setFont(font);
            const QPoint offset =
                printDate && printTime ? layout.StampOffsetBoth : layout.StampOffsetOne;
            DrawTextAt(painter, StampPlace(size, offset, QFontMetrics(font), stamp), stamp);
        }
    } catch (...) {
        // Whatever reached the mask before the failure is still inked.
    }
    return mask;
}

void DrawCaption(QImage& photo, const TCaptionLines& lines, bool printDate, bool printTime,
                 uint32_t fontColor, const QDateTime& now, const QLocale& locale) {
    if (photo.isNull()) {
        return;
    }
    const QImage mask =
        CaptionMask(photo.size(), lines, printDate, printTime, fontColor, now, locale);
    if (!mask.isNull()) {
        InkThroughMask(photo, mask);
    }
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
