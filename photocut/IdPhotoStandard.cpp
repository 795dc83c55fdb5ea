// The table of identity-photo standards, with where each rule comes from.
#include "photocut/IdPhotoStandard.h"

#include <cmath>

#include <QRegularExpression>
#include <QStringList>

namespace IdPhotoStandards {

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;

// Millimetres of a standard as a share of its height (or width).
TShareRange MmOf(double min, double max, double of) {
    return {min / of, max / of};
}

std::vector<TIdPhotoStandard> MakeTable() {
    std::vector<TIdPhotoStandard> t;
    TIdPhotoStandard s;

    // The studio sizes: the paper sizes Chinese photo studios and forms call 一寸, 二寸
    // and their small and large kinds, at 300 dpi. They set no rule for the head; the
    // studio composition (kStudioHead, kStudioCrown) frames them.
    const struct {
        const char* name;
        const char* alias;
        QSize pixels;
        QSizeF mm;
    } studio[] = {
        {"一寸", "1inch", {295, 413}, {25, 35}},
        {"小一寸", "small-1inch", {260, 378}, {22, 32}},
        {"大一寸", "large-1inch", {390, 567}, {33, 48}},
        {"二寸", "2inch", {413, 579}, {35, 49}},
        {"小二寸", "small-2inch", {413, 531}, {35, 45}},
        {"大二寸", "large-2inch", {413, 626}, {35, 53}},
    };
    for (const auto& row : studio) {
        s = {};
        s.Name = QString::fromUtf8(row.name);
        s.Alias = QString::fromLatin1(row.alias);
        s.Pixels = row.pixels;
        s.Millimetres = row.mm;
        s.Dpi = 300;
        t.push_back(s);
    }

    // Resident identity card (GA 461-2004, digital photos for the identity card):
    // 358 x 441 px at 350 dpi (26 x 32 mm), white background, the top of the hair 7 to
    // 21 px below the top edge, the face 207 +- 14 px wide.
    s = {};
    s.Name = QStringLiteral("身份证");
    s.Alias = QStringLiteral("id-card");
    s.Pixels = {358, 441};
    s.Millimetres = {26, 32};
    s.Dpi = 350;
    s.Crown = {7.0 / 441, 21.0 / 441};
    s.FaceWidth = {193.0 / 358, 221.0 / 358};
    s.Background = kWhite;
    t.push_back(s);

    // Chinese passport and travel documents (the immigration administration's guide to
    // photos for exit and entry documents): 33 x 48 mm, 390 x 567 px, head 28-33 mm from
    // chin to crown, crown 3-5 mm below the top edge, white background.
    s = {};
    s.Name = QStringLiteral("护照");
    s.Alias = QStringLiteral("passport");
    s.Pixels = {390, 567};
    s.Millimetres = {33, 48};
    s.Dpi = 300;
    s.Head = MmOf(28, 33, 48);
    s.Crown = MmOf(3, 5, 48);
    s.Background = kWhite;
    t.push_back(s);

    // ICAO Doc 9303 photo guidelines, as the Schengen visa application asks for them:
    // 35 x 45 mm, chin to crown 32-36 mm (70-80% of the height), a plain light
    // background.
    s = {};
    s.Name = QStringLiteral("ICAO/申根");
    s.Alias = QStringLiteral("icao");
    s.Pixels = {413, 531};
    s.Millimetres = {35, 45};
    s.Dpi = 300;
    s.Head = MmOf(32, 36, 45);
    s.Background = kWhite;
    t.push_back(s);

    // United States visa (the State Department's photo requirements): 2 x 2 inches,
    // 600 x 600 px, head 1 to 1 3/8 inches (25-35 mm), eyes 1 1/8 to 1 3/8 inches
    // (28-35 mm) above the bottom edge, white background, a digital file of at most
    // 240 kB.
    s = {};
    s.Name = QStringLiteral("美国签证");
    s.Alias = QStringLiteral("us-visa");
    s.Pixels = {600, 600};
    s.Millimetres = {51, 51};
    s.Dpi = 300;
    s.Head = MmOf(25, 35, 51);
    s.EyesAbove = MmOf(28, 35, 51);
    s.Background = kWhite;
    s.MaxKb = 240;
    t.push_back(s);

    // College English Test registration (the test centre's photo collection standard):
    // 144 x 192 px, a tenth above the head, the head seven tenths of the height, a JPEG of
    // 20-200 KB, white or light blue background (left to the user). Its 33 x 48 mm picture
    // area does not have the pixels' shape: printed, the photo is 33 mm wide.
    s = {};
    s.Name = QStringLiteral("英语四六级");
    s.Alias = QStringLiteral("cet");
    s.Pixels = {144, 192};
    s.Millimetres = {33, 44};
    s.Dpi = 111;  // 144 px over 33 mm
    s.Head = {0.70, 0.70};
    s.Crown = {0.10, 0.10};
    s.MinKb = 20;
    s.MaxKb = 200;
    t.push_back(s);
    return t;
}

QString Percent(const TShareRange& r) {
    const auto p = [](double v) { return QString::number(std::round(v * 1000) / 10); };
    return r.Min == r.Max ? p(r.Min) + QLatin1Char('%')
                          : p(r.Min) + QLatin1Char('-') + p(r.Max) + QLatin1Char('%');
}

}  // namespace

const std::vector<TIdPhotoStandard>& All() {
    static const std::vector<TIdPhotoStandard> table = MakeTable();
    return table;
}

TIdPhotoStandard Custom(QSize pixels, int dpi) {
    TIdPhotoStandard s;
    s.Name = QStringLiteral("自定义");
    s.Alias = QStringLiteral("custom");
    s.Pixels = pixels;
    s.Dpi = dpi;
    s.Millimetres = QSizeF(pixels.width() * 25.4 / dpi, pixels.height() * 25.4 / dpi);
    s.Custom = true;
    return s;
}

std::optional<TIdPhotoStandard> ParseCustom(const QString& size, QString* why) {
    // Pixels are whole; millimetres may have a tenth or two (33.5x48mm).
    static const QRegularExpression form(
        QStringLiteral(
            "^(\\d{1,5}(?:\\.\\d{1,2})?)\\s*[x*\u00D7]\\s*(\\d{1,5}(?:\\.\\d{1,2})?)\\s*(mm)?"
            "\\s*(?:@\\s*(\\d{1,4})\\s*(?:dpi)?)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(size.trimmed());
    const bool mm = m.hasMatch() && !m.captured(3).isEmpty();
    if (!m.hasMatch() || (!mm && (m.captured(1).contains(QLatin1Char('.')) ||
                                  m.captured(2).contains(QLatin1Char('.'))))) {
        if (why) {
            *why = QStringLiteral(
                       "\"%1\" is not a size: WxH[@DPI] in pixels or WxHmm[@DPI] in millimetres")
                       .arg(size);
        }
        return std::nullopt;
    }
    const int dpi = m.captured(4).isEmpty() ? 300 : m.captured(4).toInt();
    const double w = m.captured(1).toDouble();
    const double h = m.captured(2).toDouble();
    const QSize pixels =
        mm ? QSize(int(std::lround(w * dpi / 25.4)), int(std::lround(h * dpi / 25.4)))
           : QSize(int(w), int(h));
    // Large enough for any form, small enough that a cut and its JPEG stay modest.
    if (pixels.width() < 16 || pixels.height() < 16 || pixels.width() > 4000 ||
        pixels.height() > 4000 || dpi < 50 || dpi > 1200) {
        if (why) {
            *why = QStringLiteral(
                "a custom identity photo is 16 to 4000 pixels on each side at 50 to 1200 dpi");
        }
        return std::nullopt;
    }
    TIdPhotoStandard s = Custom(pixels, dpi);
    if (mm) {
        s.Millimetres = QSizeF(w, h);  // as the user measured it, not rounded to pixels
    }
    return s;
}

std::optional<TIdPhotoStandard> Find(const QString& name, QString* why) {
    const QString wanted = name.trimmed();
    for (const TIdPhotoStandard& s : All()) {
        if (wanted == s.Name || wanted.compare(s.Alias, Qt::CaseInsensitive) == 0 ||
            (s.Alias == QLatin1String("icao") &&
             (wanted == QStringLiteral("申根") ||
              wanted.compare(QLatin1String("ICAO"), Qt::CaseInsensitive) == 0))) {
            return s;
        }
    }
    static const QRegularExpression custom(QStringLiteral("^(?:custom|自定义):(.*)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = custom.match(wanted);
    if (m.hasMatch()) {
        return ParseCustom(m.captured(1), why);
    }
    if (why) {
        *why = QStringLiteral(
                   "there is no identity-photo standard \"%1\" (see --list-id-photos, or "
                   "custom:WxH[@DPI] or custom:WxHmm[@DPI])")
                   .arg(name);
    }
    return std::nullopt;
}

QString Describe(const TIdPhotoStandard& s) {
    QStringList parts;
    parts << QStringLiteral("%1x%2 px").arg(s.Pixels.width()).arg(s.Pixels.height());
    if (!s.Millimetres.isEmpty()) {
        parts << QStringLiteral("%1x%2 mm at %3 dpi")
                     .arg(s.Millimetres.width(), 0, 'g', 3)
                     .arg(s.Millimetres.height(), 0, 'g', 3)
                     .arg(s.Dpi);
    }
    if (s.Head.IsSet()) {
        parts << QStringLiteral("head %1").arg(Percent(s.Head));
    }
    if (s.Crown.IsSet()) {
        parts << QStringLiteral("crown %1 from the top").arg(Percent(s.Crown));
    }
    if (s.EyesAbove.IsSet()) {
        parts << QStringLiteral("eyes %1 above the bottom").arg(Percent(s.EyesAbove));
    }
    if (s.FaceWidth.IsSet()) {
        parts << QStringLiteral("face %1 of the width").arg(Percent(s.FaceWidth));
    }
    if (s.Background) {
        parts << QStringLiteral("background #") +
                     QStringLiteral("%1").arg(*s.Background & 0xFFFFFF, 6, 16, QLatin1Char('0')).toUpper();
    }
    if (s.MinKb > 0 || s.MaxKb > 0) {
        parts << QStringLiteral("%1-%2 KB")
                     .arg(s.MinKb > 0 ? QString::number(s.MinKb) : QString())
                     .arg(s.MaxKb > 0 ? QString::number(s.MaxKb) : QString());
    }
    return parts.join(QStringLiteral(", "));
}

bool ParseKbRange(const QString& text, int& minKb, int& maxKb) {
    static const QRegularExpression range(QStringLiteral("^\\s*(\\d{0,5})\\s*-\\s*(\\d{0,5})\\s*$"));
    const QRegularExpressionMatch m = range.match(text);
    if (!m.hasMatch() || (m.captured(1).isEmpty() && m.captured(2).isEmpty())) {
        return false;
    }
    const int lo = m.captured(1).isEmpty() ? 0 : m.captured(1).toInt();
    const int hi = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
    if ((hi > 0 && lo > hi) || hi > 65535 || lo > 65535 || (hi == 0 && !m.captured(2).isEmpty())) {
        return false;
    }
    minKb = lo;
    maxKb = hi;
    return true;
}

}  // namespace IdPhotoStandards
