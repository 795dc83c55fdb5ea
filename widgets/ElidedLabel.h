// A one-line label for texts that may not fit, such as the window's information panel:
// what does not fit is replaced by "…" in the middle (a path keeps its file name), the
// whole text is a hover away, and a long text never makes the window wider. text()
// stays the whole text.
#pragma once

#include <QLabel>

class TElidedLabel : public QLabel {
    Q_OBJECT

  public:
    explicit TElidedLabel(QWidget* parent = nullptr);

    // Sets the text and its tool tip (the tool tip only while the text does not fit).
    void SetFullText(const QString& text);
    // The text as painted at the label's present width.
    QString ShownText() const;

    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void UpdateToolTip();
};
