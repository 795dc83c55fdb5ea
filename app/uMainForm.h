// TfrmMainForm: the class of the program's one window, frmMainForm. It embeds
// the settings panel and the cutting panel in the lower area, copies the
// settings into the capture component before every preview and photograph,
// and after each photograph hands it to the cutting panel and stores the
// serial-number counter. With 连续拍照 ticked the capture button starts and
// stops a series of photographs.
#pragma once

#include "app/SeriesSchedule.h"
#include "app/uSnapixBas.h"

class QFrame;
class QTimer;
class TfraCamSet;
class TfraPhotoShop;

class TfrmMainForm : public TfrmSnapixBas {
    Q_OBJECT

  public:
    // Becomes the application's main window.
    explicit TfrmMainForm(QWidget* parent = nullptr);
    ~TfrmMainForm() override;

    QPushButton* btnPhotoshop;
    QWidget* pnlSetup;            // lower area: holds fraCamSet
    TfraCamSet* fraCamSet;        // every option of the run
    QFrame* pnlPhotoShop;         // lower area: holds fraPhotoShop
    TfraPhotoShop* fraPhotoShop;  // identity-photo cutting
    // Single shot, armed for the next slot of a running series; idle while a
    // photograph of the series is being taken.
    QTimer* tmSequential;

    bool SeriesRunning() const { return FSeries.Running(); }
    const TSeriesSchedule& Series() const { return FSeries; }

    // Heights of the window in the normal layout and while the cutting panel
    // is open, and of the upper area when the settings panel opens.
    static constexpr int kPhotoShopHeight = 738;
    static constexpr int kClientHeight = 266;

    // The panel shown under the button bar; exactly one at any time.
    enum class TLowerPanel { Links, Setup, PhotoShop };
    TLowerPanel LowerPanel() const { return FLowerPanel; }

  public slots:
    // With 连续拍照 ticked (or a series running): starts or stops the series.
    // Otherwise the single photograph.
    void btnCaptureClick() override;
    void tmSequentialTimer();
    void btnSetupClick();
    void btnPhotoshopClick();
    // The user picked a device in the settings panel's list.
    void fraCamSetcbDeviceChange(int index);

  protected:
    void FormShow() override;
    void FormCloseQuery(bool& canClose) override;
    void WndProc(TWindowMessage& message) override;
    void SavePathChanged() override;

    void SnapixtureBeforePreview(QObject* sender);
    void SnapixtureBeforeCapture(QObject* sender) override;
    void SnapixtureCaptured(QObject* sender) override;
    void PreviewResumed() override;

    // Served for the cutting panel's save and copy buttons.
    void SaveCutPhoto();
    void CopyCutPhoto();

  private:
    // The source resolution while the cutting panel is shown.
    int CutResolution() const;
    // The one place that switches the lower area. Leaving the cutting panel,
    // by whatever way, gives the camera back the settings' source resolution
    // and the window its normal height.
    void ShowLowerPanel(TLowerPanel panel);
    // The settings panel's options into FCaptureOptions.
    void CopySettings();
    // The series' timer set for its next slot.
    void ArmSequential();
    void StopSeries();

    TLowerPanel FLowerPanel = TLowerPanel::Links;
    bool FFileNoLoaded = false;
    // The counter is in the settings file as this run left it.
    bool FFileNoStored = false;
    TSeriesSchedule FSeries;
    // The last photograph of the running series failed; the next one that
    // succeeds says the series runs again.
    bool FSeriesFailing = false;
};
