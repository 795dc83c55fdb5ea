// A picture stretched to fill the whole widget (aspect not kept), as the
// photo panel shows the last photograph.
#pragma once

#include <QImage>
#include <QWidget>

class TImage : public QWidget {
    Q_OBJECT

  public:
    explicit TImage(QWidget* parent = nullptr);

    const QImage& Picture() const { return FPicture; }
    void SetPicture(const QImage& picture);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage FPicture;
};
