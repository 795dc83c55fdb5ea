// TfrmSnapixBas: the single photograph: capture button and its keys, the delay
// box with its countdown, the shutter sound, the last photograph on show and
// the button that opens the photo folder.
#pragma once

#include "app/uSnapshotBas.h"

class QCheckBox;
class QSoundEffect;
class QTimer;

class TfrmSnapixBas : public TfrmSnapshotBas {
    Q_OBJECT

  public:
    explicit TfrmSnapixBas(QWidget* parent = nullptr);
    ~TfrmSnapixBas() override;

    QPushButton* btnCapture;
    QCheckBox* cbDelay;
    QPushButton* btnBrowse;
    QTimer* tmDelay;  // countdown display, one tick per second
    QSoundEffect* Shutter;

  public slots:
    // The single photograph.
    virtual void btnCaptureClick();
    void btnBrowseClick();
    void tmDelayTimer();

  protected:
    void FormCreate() override;
    void FormShow() override;
    void FormKeyDown(int& key, Qt::KeyboardModifiers shift) override;
    void FormCloseQuery(bool& canClose) override;
    void WndProc(TWindowMessage& message) override;

    // Events of Snapixture.
    virtual void SnapixtureBeforeCapture(QObject* sender);
    virtual void SnapixtureCapturing(QObject* sender);
    virtual void SnapixtureCaptured(QObject* sender);

    // The parts of the before-capture step that a derived form arranges
    // around its own settings copy.
    void ApplyFixedCaptureValues();
    // One photograph, with or without the delay: true when it was stored; else
    // false with the reason a user can act on (never empty).
    bool TakePhotograph(bool delay, QString& reason);
    void ShowPhotographFailed(const QString& reason);
    // What the left panel shows of a stored photograph: its file name, after what it
    // could not be made to do (a size limit no size could keep).
    QString StoredText() const;
    void StartCountdown();

    int FDelayCount = 0;

  private:
    QString CountdownText(qint64 seconds) const;
};
