// TSeriesSchedule: when the photographs of a series fall due.
#pragma once

#include <functional>

#include <QtGlobal>

// Slot k of a series falls at start + k * interval (k = 1, 2, ...) on a
// monotonic clock. Slots are fixed at the start, so the time a photograph
// takes never pushes the later ones back; a slot that passes while a
// photograph is still running is skipped, never made up in a burst. Each
// photograph is thus taken less than one interval after its slot.
class TSeriesSchedule {
  public:
    // Monotonic milliseconds; the steady clock unless a test brings its own.
    using Clock = std::function<qint64()>;

    explicit TSeriesSchedule(Clock now = {});

    void Start(qint64 intervalMs);
    void Stop();
    bool Running() const { return FRunning; }
    qint64 Interval() const { return FInterval; }

    // Milliseconds until the next slot; 0 when it is due or past.
    qint64 MsToNext() const;
    // Whether a slot is due now. If so, that slot (the latest one passed) is
    // handed out and the schedule moves on to the first slot after now,
    // counting the slots passed over as skipped.
    bool TakeDue();

    // The slot just handed out was not used (a photograph was still under
    // way): it counts as skipped.
    void Decline() { ++FSkipped; }

    // The slot TakeDue last handed out (1 for the first) and how late it was
    // taken; 0 before the first.
    qint64 Slot() const { return FTaken; }
    qint64 Lateness() const { return FLateness; }
    qint64 Skipped() const { return FSkipped; }

  private:
    qint64 Now() const;

    Clock FNow;
    bool FRunning = false;
    qint64 FInterval = 1000;
    qint64 FStart = 0;
    qint64 FNext = 1;  // index of the next slot
    qint64 FTaken = 0;
    qint64 FLateness = 0;
    qint64 FSkipped = 0;
};
