// The slots of a photograph series on a clock the test moves by hand.
#include <gtest/gtest.h>

#include "app/SeriesSchedule.h"

namespace {

struct ManualClock {
    qint64 now = 50000;
    TSeriesSchedule::Clock Clock() {
        return [this] { return now; };
    }
};

}  // namespace

TEST(SeriesSchedule, FirstSlotIsOneIntervalAfterTheStartAndSlowPhotographsDoNotDrift) {
    ManualClock clock;
    TSeriesSchedule series(clock.Clock());
    series.Start(1000);
    EXPECT_TRUE(series.Running());
    EXPECT_EQ(series.MsToNext(), 1000);
    clock.now += 999;
    EXPECT_FALSE(series.TakeDue());
    EXPECT_EQ(series.MsToNext(), 1);

    // Each timer wakes a little late and each photograph takes 300 ms: the
    // slots stay where they were fixed.
    const qint64 start = 50000;
    for (qint64 k = 1; k <= 600; ++k) {
        clock.now = start + k * 1000 + 7;
        ASSERT_TRUE(series.TakeDue()) << k;
        EXPECT_EQ(series.Slot(), k);
        EXPECT_EQ(series.Lateness(), 7);
        clock.now += 300;
        EXPECT_EQ(series.MsToNext(), 1000 - 307);
        EXPECT_FALSE(series.TakeDue()) << "one photograph per slot";
    }
    EXPECT_EQ(series.Skipped(), 0);
}

TEST(SeriesSchedule, SlotsMissedByAnOverrunAreSkippedNotFiredInABurst) {
    ManualClock clock;
    const qint64 start = clock.now;
    TSeriesSchedule series(clock.Clock());
    series.Start(1000);
    clock.now = start + 1000;
    ASSERT_TRUE(series.TakeDue());
    // That photograph took 2.5 s: slots 2 and 3 passed meanwhile.
    clock.now = start + 3500;
    ASSERT_TRUE(series.TakeDue());
    EXPECT_EQ(series.Slot(), 3) << "the latest slot, taken late but within its interval";
    EXPECT_EQ(series.Lateness(), 500);
    EXPECT_EQ(series.Skipped(), 1);
    EXPECT_FALSE(series.TakeDue()) << "no second photograph for the passed slots";
    EXPECT_EQ(series.MsToNext(), 500);
    clock.now = start + 4000;
    ASSERT_TRUE(series.TakeDue());
    EXPECT_EQ(series.Slot(), 4);
}

TEST(SeriesSchedule, StoppedOrRestartedSeriesStartsItsSlotsAfresh) {
    ManualClock clock;
    TSeriesSchedule series(clock.Clock());
    series.Start(2000);
    clock.now += 5000;
    series.Stop();
    EXPECT_FALSE(series.Running());
    EXPECT_FALSE(series.TakeDue());
    series.Start(1000);
    EXPECT_EQ(series.MsToNext(), 1000);
    EXPECT_EQ(series.Skipped(), 0);
    EXPECT_EQ(series.Slot(), 0);
}
