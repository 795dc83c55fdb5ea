// TfrmFullScreen: the full-screen preview window.
#include "app/uFullScreen.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "messages/WindowMessages.h"
#include "widgets/VideoWindow.h"

TfrmFullScreen* frmFullScreen = nullptr;

TfrmFullScreen::TfrmFullScreen(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmFullScreen"));
    resize(631, 446);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    VideoWindow = new TVideoWindow(this);
    VideoWindow->Mode = vmNormal;
    VideoWindow->setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(VideoWindow);

    connect(VideoWindow, &TVideoWindow::DoubleClicked, this, &TfrmFullScreen::VideoWindowDblClick);
    connect(VideoWindow, &TVideoWindow::KeyPressed, this, &TfrmFullScreen::VideoWindowKeyDown);
}

TfrmFullScreen::~TfrmFullScreen() {
    if (frmFullScreen == this) {
        frmFullScreen = nullptr;
    }
}

void TfrmFullScreen::VideoWindowDblClick() {
    SendMessage(ApplicationMainWindow(), WM_FULLSCREEN_LEAVE);
}

void TfrmFullScreen::VideoWindowKeyDown(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if ((enter && (event->modifiers() & Qt::AltModifier)) || event->key() == Qt::Key_Escape) {
        SendMessage(ApplicationMainWindow(), WM_FULLSCREEN_LEAVE);
    }
}

void TfrmFullScreen::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Keys reach the picture, where Esc and Alt+Enter are handled.
    activateWindow();
    VideoWindow->setFocus();
}

void TfrmFullScreen::closeEvent(QCloseEvent* event) {
    event->ignore();
    SendMessage(ApplicationMainWindow(), WM_FULLSCREEN_LEAVE);
}
