// Entry point of the Snapix program: one running copy per user, then the main
// window until it closes.
#include <QApplication>
#include <QIcon>

#include "app/AppInfo.h"
#include "app/SingleInstance.h"
#include "app/uMainForm.h"
#include "settings/AppPaths.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Before any window exists: a Wayland compositor reads the id when the window is made, and
    // finds the desktop entry (and so the icon and the name) by it.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
    SingleInstance instance;
    if (!instance.TryStart()) {
        // The running copy has answered that it shows its window.
        return 0;
    }
    AppInfo::InstallQtTranslation();
    app.setWindowIcon(QIcon(QStringLiteral(":/resources/snapix.png")));

    // Destroyed only after the event loop has ended, so a photograph call still
    // waiting when the window closed returns into a live window.
    TfrmMainForm frmMainForm;
    frmMainForm.Create();
    QObject::connect(&instance, &SingleInstance::ShowRequested, &frmMainForm,
                     &TfrmMainForm::ShowWindowNormal);
    frmMainForm.show();
    return app.exec();
}
