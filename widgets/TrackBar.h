// TTrackBar: a slider with one replaceable change handler that runs only when
// the position really changes, whether the user or the program moved it.
// Changing the range pulls the position into it without running the handler.
#pragma once

#include <functional>

#include <QSlider>

class TTrackBar : public QSlider {
    Q_OBJECT

  public:
    explicit TTrackBar(QWidget* parent = nullptr);

    int Min() const { return minimum(); }
    int Max() const { return maximum(); }
    // The position is clamped into the new range silently.
    void SetMin(int value);
    void SetMax(int value);
    int Position() const { return value(); }
    // Clamped to the range; the handler runs when the position changes.
    void SetPosition(int value) { setValue(value); }

    // The change handler; assigning one replaces the previous one.
    std::function<void(QObject* sender)> OnChange;
    // A number the owner attaches to the slider.
    int Tag = 0;

  signals:
    void MouseEntered(QObject* sender);
    void MouseLeft(QObject* sender);

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    void PositionChanged();

    bool FRangeChanging = false;
};
