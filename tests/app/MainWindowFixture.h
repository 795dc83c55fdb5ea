// The program's main window on the virtual camera, with its program folder in
// a temporary directory, message boxes recorded instead of shown and folder
// openings recorded instead of starting a file manager.
#pragma once

#include <memory>
#include <vector>

#include <QDesktopServices>
#include <QLabel>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include "app/MessageBoxes.h"
#include "app/uMainForm.h"
#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "capture/VirtualCamera.h"
#include "settings/AppPaths.h"
#include "widgets/ElidedLabel.h"

// Receives the URLs the program asks the desktop to open.
class UrlRecorder : public QObject {
    Q_OBJECT

  public:
    std::vector<QUrl> urls;

  public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        qputenv("SNAPIX_VIRTUAL_CAMERA", "1");
        VirtualCamera::Instance().Reset();
        SetMessageBoxRecorder([this](const TShownMessageBox& box) { boxes.push_back(box); });
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "Open");
    }

    void TearDown() override {
        form.reset();
        SetMessageBoxRecorder(nullptr);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        TfrmCamBas::SetTrayAvailabilityOverride(std::nullopt);
        VirtualCamera::Instance().Reset();
    }

    // Creates and shows the window, as the program's start does.
    void Start() {
        form = std::make_unique<TfrmMainForm>();
        form->Create(folder.path());
        form->show();
    }

    // Starts and waits until the live picture runs.
    void StartWithPicture() {
        Start();
        ASSERT_TRUE(WaitForFrame()) << "no live picture";
    }

    bool WaitForFrame(int timeoutMs = 5000) {
        return QTest::qWaitFor(
            [this] {
                QImage frame;
                return form->Snapixture->FilterGraph()->Active() &&
                       form->Snapixture->SampleGrabber()->GrabBitmap(frame) == 0;
            },
            timeoutMs);
    }

    QString Status() const { return form->stbStatus->text(); }
    QString Info() const { return form->stbInfo->text(); }

    // Photographs in the photo folder.
    QStringList Photos() const {
        return QDir(SavePath).entryList({QStringLiteral("*.jpg"), QStringLiteral("*.bmp")},
                                        QDir::Files, QDir::Name);
    }

    QTemporaryDir folder;
    std::unique_ptr<TfrmMainForm> form;
    std::vector<TShownMessageBox> boxes;
    UrlRecorder opened;
};
