// Print sheet layout, composition and the density of its JPEG.
#include "photocut/PrintSheet.h"

#include <cmath>

#include <QPainter>
#include <QTransform>

namespace PrintSheet {

QImage ComposeOn(const QImage& source, QSize sheetSize, int* copies, bool mayTurn);

QSize RealSize(QSize pixels, int dpi) {
    if (dpi <= 0) {
        return pixels;
    }
    const auto atSheet = [dpi](int n) { return int(std::lround(double(n) * kDpi / dpi)); };
    return QSize(std::max(1, atSheet(pixels.width())), std::max(1, atSheet(pixels.height())));
}

QString PaperName(QSize sheetSize) {
    const auto mm = [](int n) { return int(std::lround(n * 25.4 / kDpi)); };
    const QString size =
        QStringLiteral("%1 x %2 mm").arg(mm(sheetSize.width())).arg(mm(sheetSize.height()));
    if (sheetSize == kSheetSize) {
        return QStringLiteral("6 英寸相纸 (%1)").arg(size);
    }
    if (sheetSize == kA4Size) {
        return QStringLiteral("A4 纸 (%1)").arg(size);
    }
    return size;
}

QVector<QRect> Layout(QSize photoSize, QSize sheetSize) {
    QVector<QRect> places;
    if (photoSize.isEmpty()) {
        return places;
    }
    const int roomW = sheetSize.width() - 2 * kMargin;
    const int roomH = sheetSize.height() - 2 * kMargin;
    const int columns = (roomW + kGap) / (photoSize.width() + kGap);
    const int rows = (roomH + kGap) / (photoSize.height() + kGap);
    if (columns <= 0 || rows <= 0) {
        return places;
    }
    const int gridW = columns * photoSize.width() + (columns - 1) * kGap;
    const int gridH = rows * photoSize.height() + (rows - 1) * kGap;
    const int left = (sheetSize.width() - gridW) / 2;
    const int top = (sheetSize.height() - gridH) / 2;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            places.append(QRect(QPoint(left + c * (photoSize.width() + kGap),
                                       top + r * (photoSize.height() + kGap)),
                                photoSize));
        }
    }
    return places;
}

QImage Compose(const QImage& photo) {
    return ComposeOn(photo, kSheetSize, nullptr, false);
}

QImage ComposeOn(const QImage& photo, QSize sheetSize, int* copies) {
    return ComposeOn(photo, sheetSize, copies, true);
}

QImage ComposeOn(const QImage& source, QSize sheetSize, int* copies, bool mayTurn) {
    QImage photo = source;
    if (mayTurn && Layout(source.size().transposed(), sheetSize).size() >
                       Layout(source.size(), sheetSize).size()) {
        photo = source.transformed(QTransform().rotate(90));
    }
    QImage sheet(sheetSize, QImage::Format_BGR888);
    if (sheet.isNull()) {
        return sheet;
    }
    sheet.fill(Qt::white);
    const QVector<QRect> places = Layout(photo.size(), sheetSize);
    if (copies) {
        *copies = int(places.size());
    }
    QPainter painter(&sheet);
    painter.setPen(QPen(QColor::fromRgb(kMarkColour), 1));
    for (const QRect& place : places) {
        // Marks continue each edge outward from every corner, one pixel clear of the
        // photo, so they lie in the gaps and margin and never on a photo.
        const int l = place.left() - 1;
        const int t = place.top() - 1;
        const int r = place.right() + 1;
        const int b = place.bottom() + 1;
        const int m = kMarkLength;
        painter.drawLine(l - m, t, l - 1, t);
        painter.drawLine(l, t - m, l, t - 1);
        painter.drawLine(r + 1, t, r + m, t);
        painter.drawLine(r, t - m, r, t - 1);
        painter.drawLine(l - m, b, l - 1, b);
        painter.drawLine(l, b + 1, l, b + m);
        painter.drawLine(r + 1, b, r + m, b);
        painter.drawLine(r, b + 1, r, b + m);
    }
    for (const QRect& place : places) {
        painter.drawImage(place.topLeft(), photo);
    }
    return sheet;
}

}  // namespace PrintSheet
