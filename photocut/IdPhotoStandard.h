// The identity-photo standards: pixel size, paper size, dpi, where the head goes, the
// background and the file size a form accepts. One table, read by the cutting panel and
// by snapix-shot alike.
#pragma once

#include <optional>
#include <vector>

#include <QRgb>
#include <QSize>
#include <QSizeF>
#include <QString>

// A closed range of shares of the photo's height (or width); empty when the standard
// gives no rule.
struct TShareRange {
    double Min = 0;
    double Max = 0;
    bool IsSet() const { return Max > 0; }
    double Middle() const { return (Min + Max) / 2; }
    bool Contains(double v) const { return v >= Min && v <= Max; }
};

struct TIdPhotoStandard {
    QString Name;   // as the panel lists it: "一寸"
    QString Alias;  // an ASCII name for the command line: "1inch"
    QSize Pixels;
    QSizeF Millimetres;  // empty when the standard is pixels only
    int Dpi = 300;
    TShareRange Head;       // chin to crown, share of the height
    TShareRange Crown;      // crown to the top edge, share of the height
    TShareRange EyesAbove;  // eye line above the bottom edge, share of the height
    TShareRange FaceWidth;  // cheek to cheek, share of the width
    std::optional<QRgb> Background;  // the colour the standard asks for
    int MinKb = 0;                   // 0: no minimum
    int MaxKb = 0;                   // 0: no maximum
    bool Custom = false;             // the user's own size (ParseCustom)

    // Whether the standard itself says where the head goes.
    bool HasHeadRule() const { return Head.IsSet() || Crown.IsSet() || EyesAbove.IsSet(); }
};

namespace IdPhotoStandards {

// Every standard, in the panel's order. 自定义 is not among them: it is made by Custom().
const std::vector<TIdPhotoStandard>& All();

// The standard called `name` (its name or alias, letter case ignored for the alias), or
// "custom:" and a size ParseCustom reads. Empty with a reason when there is none.
std::optional<TIdPhotoStandard> Find(const QString& name, QString* why = nullptr);

// A standard of the user's own: pixels, dpi, KB range, background.
TIdPhotoStandard Custom(QSize pixels, int dpi);

// The user's own size: "WxH[@DPI]" in pixels, or "WxHmm[@DPI]" in millimetres (tenths
// allowed), at 300 dpi unless DPI is given. 16 to 4000 pixels on each side, 50 to 1200
// dpi. Empty with a reason when the text is not such a size.
std::optional<TIdPhotoStandard> ParseCustom(const QString& size, QString* why = nullptr);

// Where the head goes when a standard says nothing: what photo studios do for a one-inch
// photo (head about two thirds of the height, a tenth above it).
constexpr TShareRange kStudioHead{0.62, 0.70};
constexpr TShareRange kStudioCrown{0.08, 0.12};

// One line about a standard: "一寸 (1inch) 295x413 px, 25x35 mm at 300 dpi; head 62-70%..."
QString Describe(const TIdPhotoStandard& standard);

// "14-20" or "30-100" or "-20" or "20-": a KB range. False when it is not one.
bool ParseKbRange(const QString& text, int& minKb, int& maxKb);

}  // namespace IdPhotoStandards
