#include "widgets/ElidedLabel.h"

#include <QPainter>
#include <QResizeEvent>
#include <QStyle>

TElidedLabel::TElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void TElidedLabel::SetFullText(const QString& text) {
    setText(text);
    UpdateToolTip();
}

QString TElidedLabel::ShownText() const {
    // One line: a text with line breaks shows them as spaces.
    QString line = text();
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return fontMetrics().elidedText(line, Qt::ElideMiddle, contentsRect().width());
}

QSize TElidedLabel::minimumSizeHint() const {
    return QSize(0, QLabel::minimumSizeHint().height());
}

void TElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()), palette(), isEnabled(),
                          ShownText(), foregroundRole());
}

void TElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    UpdateToolTip();
}

void TElidedLabel::UpdateToolTip() {
    QString line = text();
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    setToolTip(ShownText() == line ? QString() : text());
}
