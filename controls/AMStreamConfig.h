// TAMStreamConfig: sets the capture format of the open device for 24-bit B, G, R
// pictures of Width x Height: the camera's own format with the highest frame rate at
// that size, which the capture layer converts. The device takes a new format only
// while it is not streaming, so a caller activates it after the graph is built and
// before the preview runs. GUI thread only.
#pragma once

#include <cstdint>

#include <QObject>
#include <QPointer>
#include <QStringList>

class TFilter;

class TAMStreamConfig : public QObject {
    Q_OBJECT

  public:
    explicit TAMStreamConfig(QObject* owner = nullptr);

    // true applies the format (its result is not examined); false only stores.
    bool Active() const { return FActive; }
    void SetActive(bool active);

    // Assigning a filter also keeps its device as the one to configure
    // (none when the filter has no device at that moment); assigning none
    // keeps the device kept before.
    TFilter* Filter() const;
    void SetFilter(TFilter* filter);

    // Declared for a list of frame sizes; stored only, never read.
    QStringList* Rectangle = nullptr;
    uint16_t Height = 0;
    uint16_t Width = 0;

    // The format change itself, on the device's first (its only) capture
    // stream: 0 when the device took it, the device's -errno when it refused
    // (-EBUSY while it streams, -EINVAL for a size it refuses), 1 when there is
    // no device or it has no configurable capture stream.
    int ApplyFormat(int n = 1);

  private:
    bool FActive = false;
    QPointer<TFilter> FFilter;
    // The filter whose device is configured; borrowed.
    QPointer<TFilter> FBaseFilter;
};
