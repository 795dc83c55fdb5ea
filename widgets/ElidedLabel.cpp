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

namespace {

// One line: a text with line breaks shows them as spaces.
QString OneLine(QString text) {
    return text.replace(QLatin1Char('\n'), QLatin1Char(' '));
}

}  // namespace

QString TElidedLabel::ShownText() const {
    return fontMetrics().elidedText(OneLine(text()), Qt::ElideMiddle, contentsRect().width());
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
    setToolTip(ShownText() == OneLine(text()) ? QString() : text());
}
