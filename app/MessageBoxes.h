// The error boxes of the window program, on the message-box seam below.
#pragma once

#include <exception>

#include <QString>

#include "messages/MessageBoxes.h"

class QWidget;

// The box for an error that escaped a handler: the program's title as caption,
// the error's own text.
void ShowErrorBox(QWidget* parent, const QString& text);
void ShowErrorBox(QWidget* parent, const std::exception& error);

// The user-facing text of an error raised by our own code.
QString ErrorText(const std::exception& error);
