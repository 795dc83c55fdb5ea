// A picture shown 1:1 from the widget's top-left corner, neither stretched nor centred:
// what the cutting frame's view and cut photo show. The picture may be larger than the
// widget (it is clipped) or smaller (the rest stays empty).
#pragma once

#include <QImage>
#include <QWidget>

class TPhotoView : public QWidget {
    Q_OBJECT

  public:
    explicit TPhotoView(QWidget* parent = nullptr);

    const QImage& Picture() const { return FPicture; }
    void SetPicture(const QImage& picture);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage FPicture;
};

// The whole of `source` stretched over width x height, each target pixel taking the
// source pixel under its centre (no smoothing). A null source, or a zero size, gives a
// picture with no pixels. Works on 24-bit pictures (Format_BGR888 or Format_RGB888) and
// keeps their format; other formats are converted to Format_BGR888 first.
QImage StretchNearest(const QImage& source, int width, int height);
