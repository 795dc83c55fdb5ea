// A new background colour behind a person photographed against a plain wall. Pure
// computation: any thread.
#pragma once

#include <QImage>
#include <QRectF>
#include <QRgb>
#include <QString>

namespace IdBackground {

// The choices the panel and snapix-shot offer besides keeping the background.
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlue = 0xFF438EDB;
constexpr QRgb kRed = 0xFFD74532;

// Why a background was left as it was.
inline const QString kNotPlain = QStringLiteral("背景不是纯色, 无法更换背景, 已保持原样");

// Replaces the wall behind the person in `photo` (Format_BGR888) by `colour`. The wall
// is learnt from the photo's top and side borders and grown inward from them; it never
// enters `face` (photo pixels) or the region below it. Pixels deep in the wall become
// the colour; at the person's outline (1 to 3 pixels) only the wall's share of each
// pixel is replaced, so hair keeps its fine edge. When the border is not one plain
// colour, or the grown wall would leave part of the border unreplaced, nothing is
// changed and false is returned with the reason in `why`.
bool Replace(QImage& photo, QRgb colour, const QRectF& face, QString& why);

}  // namespace IdBackground
