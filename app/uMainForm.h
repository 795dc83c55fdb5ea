// TfrmMainForm: the class of the program's one window, frmMainForm.
#pragma once

#include "app/uSnapixBas.h"

class TfrmMainForm : public TfrmSnapixBas {
    Q_OBJECT

  public:
    // Becomes the application's main window.
    explicit TfrmMainForm(QWidget* parent = nullptr);
    ~TfrmMainForm() override;

    QPushButton* btnPhotoshop;

  protected:
    void FormShow() override;
    void SavePathChanged() override;
};
