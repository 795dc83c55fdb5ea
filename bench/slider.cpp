// Slider benchmark: the brightness slider of the settings panel moved 500
// times by the program while the virtual camera's preview runs at 1280x720
// (Motion-JPEG, the settings' 1280*1024),
// offscreen. Each move writes the device and sets the status text. Prints the
// wall time per move and how many of the frames delivered meanwhile were
// painted.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "app/uCamBas.h"
#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "widgets/VideoWindow.h"
#include "capture/VirtualCamera.h"
#include "controls/VideoProcAmp.h"
#include "messages/WindowMessages.h"
#include "settings/fraCamSet.h"
#include "widgets/TrackBar.h"

namespace {

constexpr int kMoves = 500;
constexpr int kMoveIntervalMs = 2;  // faster than any mouse drag reports

// The main window's part in this: the status line.
class StatusWindow : public QWidget {
  public:
    StatusWindow() {
        auto* layout = new QVBoxLayout(this);
        status = new QLabel;
        layout->addWidget(status);
        SetApplicationMainWindow(this);
    }
    QLabel* status;

  protected:
    bool event(QEvent* event) override {
        if (event->type() != TWindowMessage::Type()) {
            return QWidget::event(event);
        }
        const auto& m = static_cast<TWindowMessage&>(*event);
        if (m.Msg == WM_STATUS_TEXT) {
            status->setText(StatusKindText(static_cast<quint16>(m.WParam & 0xFFFF),
                                           static_cast<quint16>(m.LParam & 0xFFFF)));
        }
        return true;
    }
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    StatusWindow mainWindow;
    mainWindow.resize(300, 40);
    mainWindow.show();
    TVideoWindow window;
    window.resize(364, 255);
    window.show();
    TfraCamSet frame;
    frame.resize(744, 234);
    frame.show();

    TSnapixture camera;
    camera.SetVideoWindow(&window);
    camera.SetMoniker(TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()});
    camera.SetInputResolution(3);
    camera.Stop();
    if (camera.Preview() != 0 || camera.SampleWidth != 1280 || camera.SampleHeight != 720) {
        std::fprintf(stderr, "preview did not start at 1280x720\n");
        return 1;
    }
    for (TVideoProcAmp* amp :
         {frame.vpaBrightness, frame.vpaContras, frame.vpaHue, frame.vpaColorEnable}) {
        amp->SetFilter(camera.Filter());
    }
    frame.RestoreDefaults();
    TTrackBar* slider = frame.tbBrightness;
    if (slider->Min() != 0 || slider->Max() != 255) {
        std::fprintf(stderr, "brightness slider not bound to the device\n");
        return 1;
    }
    // Let the preview settle into its pace first.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1000) {
        app.processEvents(QEventLoop::AllEvents, 50);
    }

    const uint64_t deliveredBefore = camera.FilterGraph()->FramesDelivered();
    const uint64_t paintedBefore = window.FramesPainted();
    std::vector<double> moveMs;
    moveMs.reserve(kMoves);
    int position = 0, step = 1;
    QTimer mover;
    mover.setTimerType(Qt::PreciseTimer);
    QObject::connect(&mover, &QTimer::timeout, [&] {
        // Back and forth across the whole range: every move is a change.
        if (position + step > slider->Max() || position + step < slider->Min()) {
            step = -step;
        }
        position += step;
        QElapsedTimer clock;
        clock.start();
        slider->SetPosition(position);
        moveMs.push_back(clock.nsecsElapsed() / 1e6);
        if (static_cast<int>(moveMs.size()) == kMoves) {
            mover.stop();
            app.quit();
        }
    });
    mover.start(kMoveIntervalMs);
    app.exec();
    // A repaint already asked for belongs to the moves' time.
    app.processEvents();
    const uint64_t delivered = camera.FilterGraph()->FramesDelivered() - deliveredBefore;
    const uint64_t painted = window.FramesPainted() - paintedBefore;

    const QString expected = StatusKindText(5, static_cast<quint16>(position));
    if (mainWindow.status->text() != expected || frame.vpaBrightness->Value != position) {
        std::fprintf(stderr, "the last move did not reach the device and the status line\n");
        return 1;
    }
    camera.Stop();

    double total = 0;
    for (double ms : moveMs) {
        total += ms;
    }
    std::sort(moveMs.begin(), moveMs.end());
    std::printf("slider_ms_per_move %.4f ms\n", total / moveMs.size());
    std::printf("slider_ms_per_move_p99 %.4f ms\n", moveMs[moveMs.size() * 99 / 100]);
    std::printf("frames_delivered_during_moves %llu frames\n",
                static_cast<unsigned long long>(delivered));
    std::printf("frames_painted_during_moves %llu frames\n",
                static_cast<unsigned long long>(painted));
    std::printf("painted_ratio %.3f\n", delivered ? static_cast<double>(painted) / delivered : 0.0);
    return 0;
}
