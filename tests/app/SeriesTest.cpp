// Continuous capture: starting and stopping a series and what it shows, one
// photograph a second with the options of each moment, failed ticks, ticks
// that fall during a photograph, and a camera lost and found mid-series.
#include <functional>

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include "app/uFullScreen.h"
#include "settings/fraCamSet.h"
#include "tests/app/MainWindowFixture.h"
#include "widgets/VideoWindow.h"

namespace {

constexpr int kTickTimeoutMs = 8000;  // one-second ticks on a busy machine

}  // namespace

class SeriesTest : public MainWindowTest {
  protected:
    // The window previewing, 连续拍照 ticked at `seconds`, and the moment
    // each photograph begins recorded from now.
    void StartWithSeries(int seconds) {
        StartWithPicture();
        form->fraCamSet->cbSequential->setChecked(true);
        form->fraCamSet->seSequential->setValue(seconds);
        const TNotifyEvent before = form->Snapixture->OnBeforeCapture;
        form->Snapixture->OnBeforeCapture = [this, before](QObject* sender) {
            begun.push_back(clock.elapsed());
            before(sender);
        };
        clock.start();
    }

    bool WaitForPhotos(qsizetype count) {
        return QTest::qWaitFor([&] { return Photos().size() >= count; }, kTickTimeoutMs);
    }

    QString Caption() const { return form->btnCapture->text(); }

    QElapsedTimer clock;
    std::vector<qint64> begun;
};

TEST_F(SeriesTest, ButtonF8EnterAndTheTrayItemStartAndStopTheSeriesWithItsCaptionsAndStatus) {
    StartWithSeries(60);  // nothing falls due during the test
    struct Way {
        const char* name;
        std::function<void()> press;
    };
    const Way button{"button", [&] { form->btnCapture->click(); }};
    const Way f8{"F8", [&] { QTest::keyClick(form.get(), Qt::Key_F8); }};
    const Way enter{"Enter", [&] { QTest::keyClick(form.get(), Qt::Key_Return); }};
    const Way tray{"tray item", [&] { form->F81->trigger(); }};
    const std::pair<Way, Way> rounds[] = {{button, f8}, {f8, button}, {enter, tray}};
    for (const auto& [start, stop] : rounds) {
        SCOPED_TRACE(std::string(start.name) + " / " + stop.name);
        start.press();
        EXPECT_TRUE(form->SeriesRunning());
        EXPECT_TRUE(form->tmSequential->isActive());
        EXPECT_EQ(Caption(), QStringLiteral("停止连拍(F8)"));
        EXPECT_EQ(Status(), QStringLiteral("连续拍照中."));
        EXPECT_FALSE(form->fraCamSet->cbSequential->isEnabled()) << "cannot be unticked meanwhile";
        EXPECT_TRUE(form->btnCapture->isEnabled());

        stop.press();
        EXPECT_FALSE(form->SeriesRunning());
        EXPECT_FALSE(form->tmSequential->isActive());
        EXPECT_EQ(Caption(), QStringLiteral("拍照(F8)"));
        EXPECT_EQ(Status(), QStringLiteral("拍照完成."));
        EXPECT_TRUE(form->fraCamSet->cbSequential->isEnabled());
        EXPECT_TRUE(form->btnCapture->isEnabled());
    }
    EXPECT_TRUE(begun.empty()) << "a series photographs one interval after its start, not at once";
}

TEST_F(SeriesTest, OneSecondSeriesTakesOnePhotographASecondWithoutDelayAndWithEachTicksOptions) {
    StartWithSeries(1);
    // A ticked delay box does not delay the photographs of a series.
    form->cbDelay->setChecked(true);
    form->fraCamSet->seDelay->setValue(5);
    form->fraCamSet->edtHeader->setText(QStringLiteral("a"));
    std::vector<qint64> stored;
    const TNotifyEvent captured = form->Snapixture->OnCaptured;
    form->Snapixture->OnCaptured = [&](QObject* sender) {
        stored.push_back(clock.elapsed());
        captured(sender);
    };

    form->btnCapture->click();
    ASSERT_TRUE(WaitForPhotos(2));
    // Options changed during the series apply from the next photograph.
    form->fraCamSet->edtHeader->setText(QStringLiteral("b"));
    ASSERT_TRUE(WaitForPhotos(4));
    form->btnCapture->click();
    const qint64 elapsed = clock.elapsed();
    const qsizetype count = Photos().size();

    // Never more than one photograph per second since the start, each one
    // no earlier than its slot.
    EXPECT_LE(count * 1000, elapsed);
    ASSERT_EQ(begun.size(), stored.size());
    for (size_t k = 0; k < begun.size(); ++k) {
        EXPECT_GE(begun[k], static_cast<qint64>(k + 1) * 1000 - 2) << "photograph " << k;
        EXPECT_LT(stored[k] - begun[k], 4000) << "taken without the 5-second delay";
    }
    EXPECT_EQ(Status(), QStringLiteral("拍照完成."));
    QStringList names = Photos();
    EXPECT_TRUE(names.first().startsWith('a') && names.last().startsWith('b'))
        << names.join(' ').toStdString();

    QTest::qWait(1500);
    EXPECT_EQ(Photos().size(), count) << "nothing after the series stopped";
}

TEST_F(SeriesTest, FailedTickIsShownAndTheSeriesGoesOnAndRecovers) {
    StartWithSeries(1);
    // A regular file where the photo folder should be.
    const QString blocked = AppPath + "notafolder";
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    SavePath = blocked + "/";

    form->btnCapture->click();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Status() == QStringLiteral("拍照失败."); }, kTickTimeoutMs));
    EXPECT_TRUE(Info().contains(blocked)) << Info().toStdString();
    EXPECT_TRUE(form->SeriesRunning());
    EXPECT_EQ(Caption(), QStringLiteral("停止连拍(F8)"));

    SavePath = AppPath;
    ASSERT_TRUE(WaitForPhotos(1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Status() == QStringLiteral("连续拍照中."); }, 2000));
    EXPECT_TRUE(Info().startsWith(AppPath)) << "the stored file is named";
    form->btnCapture->click();
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SeriesTest, TicksFallingDuringARunningPhotographAreSkippedNotMadeUpInABurst) {
    StartWithSeries(1);
    form->btnCapture->click();
    ASSERT_TRUE(WaitForPhotos(1));
    // A photograph that waits 3 seconds while events run: the series' ticks
    // fall inside it.
    form->fraCamSet->seDelay->setValue(3);
    QStringList statuses;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { statuses << Status(); });
    sampler.start(50);
    form->Snapixture->Delay = true;
    const size_t before = begun.size();
    EXPECT_EQ(form->Snapixture->Capture(), 0);
    const qint64 returned = clock.elapsed();
    EXPECT_EQ(begun.size(), before + 1) << "no tick photographed inside the running one";
    EXPECT_GE(form->Series().Skipped(), 2);

    // The series goes on at its slots: one photograph in the next second, not a burst.
    ASSERT_TRUE(QTest::qWaitFor([&] { return begun.size() >= before + 2; }, kTickTimeoutMs));
    QTest::qWait(300);
    int soonAfter = 0;
    for (size_t k = before + 1; k < begun.size(); ++k) {
        soonAfter += begun[k] - returned < 500;
    }
    EXPECT_LE(soonAfter, 1);
    EXPECT_FALSE(statuses.contains(QStringLiteral("拍照失败."))) << "a skipped tick is no failure";
    form->btnCapture->click();
}

TEST_F(SeriesTest, CameraUnpluggedDuringASeriesFailsItsTicksAndTheSeriesResumesWhenItReturns) {
    StartWithSeries(1);
    form->btnCapture->click();
    ASSERT_TRUE(WaitForPhotos(1));
    VirtualCamera::Instance().Unplug();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Status() == QStringLiteral("拍照失败."); }, kTickTimeoutMs));
    EXPECT_TRUE(Info().contains(QStringLiteral("断开"))) << Info().toStdString();
    EXPECT_TRUE(form->SeriesRunning());
    const qsizetype during = Photos().size();

    VirtualCamera::Instance().PlugIn();
    ASSERT_TRUE(WaitForPhotos(during + 1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Status() == QStringLiteral("连续拍照中."); }, 2000));
    EXPECT_TRUE(form->SeriesRunning());
    form->btnCapture->click();
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SeriesTest, SeriesCarriesOnInFullScreenWhereF8DoesNotStopItAndKeepsItsCaptionOnReturn) {
    StartWithSeries(1);
    form->btnCapture->click();
    form->bsSkinSpeedButton1->click();
    ASSERT_TRUE(form->FullScreenActive());
    QTest::keyClick(frmFullScreen->VideoWindow, Qt::Key_F8);
    EXPECT_TRUE(form->SeriesRunning());
    ASSERT_TRUE(WaitForPhotos(1)) << "photographs go on while the window is hidden";

    QTest::keyClick(frmFullScreen->VideoWindow, Qt::Key_Escape);
    EXPECT_TRUE(form->SeriesRunning());
    EXPECT_EQ(Caption(), QStringLiteral("停止连拍(F8)"));
    EXPECT_EQ(Status(), QStringLiteral("连续拍照中."));
    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_FALSE(form->SeriesRunning());
}
