// TTrackBar: a slider with one replaceable change handler that runs only when
// the position really changes, whether the user or the program moved it.
// Changing the range pulls the position into it without running the handler.
// With a step above 1 it only ever stands on Min + k * step: a drag, a key or the
// program that puts it between two steps moves it to the nearer one, and the handler
// sees that position only.
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
    // Clamped to the range and put on a step; the handler runs when the position
    // changes.
    void SetPosition(int value) { setValue(value); }
    // The distance between the positions it may stand on (1: every position). The
    // position is put on a step without running the handler.
    int Step() const { return FStep; }
    void SetStep(int step);

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
    // The step position nearest to value, within the range.
    int OnStep(int value) const;

    bool FRangeChanging = false;
    int FStep = 1;
};
