// Every message box of the program goes through here, so tests can record
// what would have been shown instead of blocking on a modal dialog.
#pragma once

#include <functional>

#include <QString>

class QWidget;

// Plain: text and OK only, no icon. Error: the error icon. Information: the
// information icon.
enum class TMessageBoxKind { Plain, Error, Information };

struct TShownMessageBox {
    TMessageBoxKind kind;
    QString caption;
    QString text;
};

// A modal box with an OK button.
void ShowMessageBox(QWidget* parent, const QString& caption, const QString& text,
                    TMessageBoxKind kind = TMessageBoxKind::Plain);

// While a recorder is set, boxes are handed to it and nothing is shown.
using TMessageBoxRecorder = std::function<void(const TShownMessageBox&)>;
void SetMessageBoxRecorder(TMessageBoxRecorder recorder);
