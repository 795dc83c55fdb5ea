// TfrmSnapshotBas: adds the capture component and answers the requests that
// stop and restart the live preview (device, source resolution, reconnection).
#pragma once

#include "app/uCamBas.h"

class TSnapixture;

class TfrmSnapshotBas : public TfrmCamBas {
    Q_OBJECT

  public:
    explicit TfrmSnapshotBas(QWidget* parent = nullptr);
    ~TfrmSnapshotBas() override;

    TSnapixture* Snapixture;          // owned; lives as long as the window
    QToolButton* bsSkinSpeedButton1;  // full screen

  protected:
    void FormShow() override;
    void FormKeyDown(int& key, Qt::KeyboardModifiers shift) override;
    void WndProc(TWindowMessage& message) override;
};
