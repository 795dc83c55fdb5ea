// The information panel behind the about button: the program's name, version
// and what it does. Not modal; made once and kept.
#pragma once

#include <QWidget>

class QLabel;

class TAboutPanel : public QWidget {
    Q_OBJECT

  public:
    // A window of its own; parent is the main window, which keeps it for the run.
    explicit TAboutPanel(QWidget* parent = nullptr);

    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
};
