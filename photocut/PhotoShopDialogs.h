// The dialogs of the cutting frame behind one seam: the frame asks through this
// interface, the program uses the Qt dialogs, and tests put in their own answers.
#pragma once

#include <memory>
#include <optional>

#include <QImage>
#include <QRgb>
#include <QString>

class QWidget;

class TPhotoShopDialogs {
  public:
    virtual ~TPhotoShopDialogs() = default;

    // An existing file to open, one at a time, or empty when cancelled. Starts in
    // `folder`; images are offered first, all files second.
    virtual QString OpenFileName(QWidget* parent, const QString& folder) = 0;

    struct TSaveChoice {
        QString FileName;  // empty when cancelled
        // The user agreed to replace the file of that name that existed when they chose.
        bool ReplaceConfirmed = false;
    };
    // A name to save a photo under, proposing `proposed` (a full path). The dialog asks
    // before it returns the name of an existing file.
    virtual TSaveChoice SaveFileName(QWidget* parent, const QString& proposed) = 0;

    // Shows the print sheet before it is stored; true when the user wants it stored.
    virtual bool ConfirmPrintSheet(QWidget* parent, const QImage& sheet, int copies) = 0;

    // The size of a custom identity photo as the user writes it ("390x567@300" or
    // "33x48mm@300"), proposing `current`; empty when cancelled.
    virtual std::optional<QString> CustomSize(QWidget* parent, const QString& current) = 0;
    // A background colour, starting from `current`; empty when cancelled.
    virtual std::optional<QRgb> BackgroundColour(QWidget* parent, QRgb current) = 0;

    // A plain box with the text and OK.
    virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
    // A box with the error icon.
    virtual void ShowError(QWidget* parent, const QString& text) = 0;
};

// The dialogs the program shows.
std::unique_ptr<TPhotoShopDialogs> NewQtPhotoShopDialogs();
