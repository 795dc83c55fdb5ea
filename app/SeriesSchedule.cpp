// TSeriesSchedule: fixed slots from the start of a series.
#include "app/SeriesSchedule.h"

#include <algorithm>
#include <chrono>

TSeriesSchedule::TSeriesSchedule(Clock now) : FNow(std::move(now)) {}

qint64 TSeriesSchedule::Now() const {
    if (FNow) {
        return FNow();
    }
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void TSeriesSchedule::Start(qint64 intervalMs) {
    FInterval = std::max<qint64>(1, intervalMs);
    FStart = Now();
    FNext = 1;
    FTaken = 0;
    FLateness = 0;
    FSkipped = 0;
    FRunning = true;
}

void TSeriesSchedule::Stop() {
    FRunning = false;
}

qint64 TSeriesSchedule::MsToNext() const {
    return std::max<qint64>(0, FStart + FNext * FInterval - Now());
}

bool TSeriesSchedule::TakeDue() {
    if (!FRunning) {
        return false;
    }
    const qint64 elapsed = Now() - FStart;
    if (elapsed < FNext * FInterval) {
        return false;
    }
    const qint64 latest = elapsed / FInterval;
    FSkipped += latest - FNext;
    FTaken = latest;
    FLateness = elapsed - latest * FInterval;
    FNext = latest + 1;
    return true;
}
