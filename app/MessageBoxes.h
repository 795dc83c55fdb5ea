// Every message box of the program goes through here, so tests can record
// what would have been shown instead of blocking on a modal dialog.
#pragma once

#include <exception>
#include <functional>

#include <QString>

class QWidget;

// Plain: text and OK only, no icon. Error: the error icon.
enum class TMessageBoxKind { Plain, Error };

struct TShownMessageBox {
    TMessageBoxKind kind;
    QString caption;
    QString text;
};

// A modal box with an OK button.
void ShowMessageBox(QWidget* parent, const QString& caption, const QString& text);

// The box for an error that escaped a handler: the program's title as caption,
// the error's own text.
void ShowErrorBox(QWidget* parent, const QString& text);
void ShowErrorBox(QWidget* parent, const std::exception& error);

// The user-facing text of an error raised by our own code.
QString ErrorText(const std::exception& error);

// While a recorder is set, boxes are handed to it and nothing is shown.
using TMessageBoxRecorder = std::function<void(const TShownMessageBox&)>;
void SetMessageBoxRecorder(TMessageBoxRecorder recorder);
