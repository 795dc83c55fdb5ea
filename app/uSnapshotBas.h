// TfrmSnapshotBas: adds the capture component and answers the requests that
// stop and restart the live preview (device, source resolution, reconnection).
#pragma once

#include "app/uCamBas.h"
#include "capture/CaptureOptions.h"

class TSnapixture;

class TfrmSnapshotBas : public TfrmCamBas {
    Q_OBJECT

  public:
    explicit TfrmSnapshotBas(QWidget* parent = nullptr);
    ~TfrmSnapshotBas() override;

    TSnapixture* Snapixture;  // owned; lives as long as the window

    // The options the next photograph is taken with.
    TCaptureOptions& CaptureOptions() { return FCaptureOptions; }
    QToolButton* bsSkinSpeedButton1;  // full screen

  protected:
    void FormShow() override;

    // What the next photograph is taken with; handed to Snapixture in its
    // before-capture step. MaxNo follows the component's after each photograph.
    TCaptureOptions FCaptureOptions;
    void FormKeyDown(int& key, Qt::KeyboardModifiers shift) override;
    void WndProc(TWindowMessage& message) override;
};
