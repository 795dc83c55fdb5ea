// TfrmMainForm: the program's window.
#include "app/uMainForm.h"

#include <QPushButton>

#include "capture/Snapixture.h"
#include "settings/AppPaths.h"
#include "settings/SettingsStore.h"
#include "widgets/ButtonBar.h"
#include "widgets/VideoWindow.h"

TfrmMainForm::TfrmMainForm(QWidget* parent) : TfrmSnapixBas(parent) {
    setObjectName(QStringLiteral("frmMainForm"));
    btnPhotoshop = new QPushButton(QStringLiteral("照片剪切"));
    btnPhotoshop->setFocusPolicy(Qt::NoFocus);
    bsSkinPanel11->AddControl(btnPhotoshop, QRect(197, 5, 66, 25));
    connect(VideoWindow, &TVideoWindow::DoubleClicked, this, &TfrmMainForm::VideoWindowDblClick);
    SetApplicationMainWindow(this);
}

TfrmMainForm::~TfrmMainForm() {
    if (ApplicationMainWindow() == this) {
        SetApplicationMainWindow(nullptr);
    }
}

void TfrmMainForm::FormShow() {
    TfrmSnapixBas::FormShow();
    SendMessage(this, WM_STATUS_TEXT, 0);
}

void TfrmMainForm::SavePathChanged() {
    Snapixture->SavePath = ::SavePath;
    // While the stored folder cannot be used, SavePath only stands in for it
    // this run; storing the stand-in would lose the user's folder.
    if (!SavePathIsStandIn()) {
        WriteSavePathSetting(::SavePath);
    }
    TfrmSnapixBas::SavePathChanged();
}
