// Entry point of the Snapix program.
#include <QApplication>
#include <QWidget>

#include "app/AppInfo.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(AppInfo::Title());
    window.resize(776, 632);
    window.show();
    return app.exec();
}
