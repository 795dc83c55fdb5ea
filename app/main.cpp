// Entry point of the Snapix program.
#include <QApplication>
#include <QMessageBox>

#include "app/AppInfo.h"
#include "app/SingleInstance.h"
#include "capture/DirectShowException.h"
#include "capture/Snapixture.h"
#include "capture/SysDevEnum.h"
#include "capture/VideoWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SingleInstance instance;
    if (!instance.TryStart()) {
        return 0;
    }
    TVideoWindow window;
    window.setWindowTitle(AppInfo::Title());
    window.resize(640, 480);
    TSnapixture camera;
    camera.SetVideoWindow(&window);
    TSysDevEnum devices;
    window.show();
    QObject::connect(&instance, &SingleInstance::ShowRequested, &window, [&window] {
        window.showNormal();
        window.raise();
        window.activateWindow();
    });
    camera.Stop();
    camera.SetMoniker(devices.DeviceMoniker(0));
    try {
        camera.Preview();
    } catch (const EDirectShowException& e) {
        QMessageBox::critical(&window, AppInfo::Title(), e.Message());
    }
    const int code = app.exec();
    camera.Stop();
    return code;
}
