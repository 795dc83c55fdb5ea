// A test fixture around the virtual camera: a fresh camera for every test, a
// capture component with a shown video window, and small waiting helpers.
#pragma once

#include <functional>
#include <memory>

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "widgets/VideoWindow.h"
#include "capture/VirtualCamera.h"

class VirtualCameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qputenv("SNAPIX_VIRTUAL_CAMERA", "1");
        VirtualCamera::Instance().Reset();
        window = std::make_unique<TVideoWindow>();
        window->resize(320, 240);
        window->show();
        camera = std::make_unique<TSnapixture>();
        camera->SetVideoWindow(window.get());
        camera->SetMoniker(VirtualMoniker());
        // A capture that succeeds stores a photograph: never in the working folder.
        camera->SavePath = photoDir.path() + QLatin1Char('/');
    }

    void TearDown() override {
        camera.reset();
        window.reset();
        VirtualCamera::Instance().Reset();
    }

    static TMoniker VirtualMoniker() {
        return TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()};
    }

    // Waits (dispatching events) until the grabber holds a frame.
    bool WaitForFrame(int timeoutMs = 3000) {
        return QTest::qWaitFor(
            [this] {
                QImage frame;
                return camera->FilterGraph()->Active() &&
                       camera->SampleGrabber()->GrabBitmap(frame) == 0;
            },
            timeoutMs);
    }

    QTemporaryDir photoDir;
    std::unique_ptr<TVideoWindow> window;
    std::unique_ptr<TSnapixture> camera;
};
