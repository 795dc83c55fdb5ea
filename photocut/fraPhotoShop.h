// TfraPhotoShop: the identity-photo cutting frame. The user scales a photo under a
// fixed-size crop box with the zoom slider, drags the box onto the face, cuts, and then
// saves or copies the cut photo or lays it out on a print sheet. The photo is the last
// one from the camera or a file the user chose. Everything runs on the GUI thread but
// the decoding of a chosen file, which a worker does (TImageFileLoader).
#pragma once

#include <functional>
#include <memory>

#include <QFrame>
#include <QImage>
#include <QRect>
#include <QString>

#include "photocut/PhotoShopDialogs.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class TCropBox;
class TImageFileLoader;
class TPhotoView;

// Where stored photos go and how their names begin.
struct TPhotoNaming {
    QString Folder;
    QString Prefix;
};

class TfraPhotoShop : public QFrame {
    Q_OBJECT

  public:
    explicit TfraPhotoShop(QWidget* parent = nullptr);
    ~TfraPhotoShop() override;

    static constexpr int kDesignWidth = 715;
    static constexpr int kDesignHeight = 353;

    // Fixed texts of the frame.
    static const QString kNoPhotoText;  // no cut (yet)
    static const QString kCopiedText;   // after a copy to the clipboard

    // Photo formats: the list index, the crop box and cut photo size, the real size on
    // paper at 300 dpi, and the suffix of stored names.
    struct TFormat {
        QSize Box;
        QPoint CutAt;
        QPoint FrameAt;
        QSize PrintSize;
        const char* NameSuffix;
    };
    static const TFormat& Format(int index);

    // --- Controls ------------------------------------------------------------------
    QFrame* Bevel4;              // frame line around the top row
    QLineEdit* edtsPath;         // the last chosen file, read-only
    QPushButton* bsSkinButton1;  // choose a photo file
    QLabel* bsSkinStdLabel12;    // "照片格式"
    QComboBox* cbOutput;         // photo format
    QFrame* Panel3;              // view panel
    QFrame* Bevel1;              // frame line along the view panel
    TPhotoView* ImgSource;       // the view: the source photo at the zoom
    TCropBox* pnlCut;            // crop box, in the view panel's coordinates
    QSlider* TrackBar;           // zoom 0..100
    QFrame* Bevel2;              // frame line around the cut photo
    TPhotoView* ImgTarget;       // the cut photo
    QFrame* Bevel3;              // frame line around the buttons
    QPushButton* btnCut;
    QPushButton* btnSave;
    QPushButton* btnCopy;
    QFrame* Bevel5;         // frame line around the print-sheet row
    QPushButton* btnPrint;  // print sheet
    QLabel* lblLoading;     // over the view while a chosen file is decoded

    // The whole photo last captured or loaded, unscaled (Format_BGR888); null until the
    // first one arrives.
    const QImage& ImgSave() const { return FSource; }
    // The result of the last cut; null when there is none.
    const QImage& CutPhoto() const;
    // The extension, with its dot, of the last chosen file.
    const QString& FileExtension() const { return FExtension; }

    // A new photograph from the camera while the panel is shown: zoom to 100, and the
    // photo, unscaled, becomes the source and the view's picture. The view keeps its size
    // and place; the cut photo stays.
    void NewPhoto(const QImage& photo);

    // Starts decoding the file on a worker thread and says so over the view; the rest of
    // the window stays live. When it is decoded it becomes the source photo and the view
    // is re-rendered; a file that cannot be read gets a box naming it and the reason,
    // and nothing changes. A load still running is cancelled first. LoadFinished tells
    // the end.
    void LoadPhotoFile(const QString& path);
    // Cancels a load in progress (the panel is closed, or a camera photo came).
    void CancelLoading();
    bool Loading() const;

    // Asks for a name (the photo folder, "<prefix><date-time>_1寸.jpg") and stores the
    // cut photo there in the format the name asks for: ".jpg"/".jpeg" JPEG, ".bmp" BMP,
    // ".png" PNG; any other name gets ".jpg" added. Returns the file stored, empty when
    // cancelled or failed (the failure shown in a box).
    QString SaveCutPhoto();
    // Puts the cut photo on the clipboard.
    bool CopyCutPhoto();
    // Lays the cut out at its real size on a 300-dpi sheet, shows it, and stores it in
    // the photo folder. Returns the file stored, or empty.
    QString SavePrintSheet();

    // Where SaveCutPhoto and PrintSheet store and how they name; asked at each use.
    void SetPhotoNaming(std::function<TPhotoNaming()> naming);
    // Replaces the dialogs (tests answer them).
    void SetDialogs(std::unique_ptr<TPhotoShopDialogs> dialogs);

  signals:
    // The save and copy buttons: the window serves them (by WM_PHOTOCUT_SAVE and
    // WM_PHOTOCUT_COPY) with SaveCutPhoto and CopyCutPhoto.
    void SaveRequested();
    void CopyRequested();
    // A text for the status line's information panel: a stored file or the copy.
    void InfoText(const QString& text);
    // A file chosen with LoadPhotoFile became the source photo (true) or was refused.
    // A cancelled load ends without it.
    void LoadFinished(bool loaded);

  public slots:
    void TrackBarChange();
    void cbOutputChange();
    void btnCutClick();
    void bsSkinButton1Click();
    void btnSaveClick();
    void btnCopyClick();
    void btnPrintClick();

  private:
    void PhotoFileLoaded(const QString& path, const QImage& picture);
    void PhotoFileFailed(const QString& path, const QString& reason);
    void ShowLoading(const QString& path);
    TPhotoNaming Naming() const;
    QString NameInFolder(const QString& folder, const QString& name) const;

    QImage FSource;
    QString FExtension;
    QString FOpenFolder;  // where the open dialog starts next time
    // The cut's region in the source photo it was cut from, for the print sheet.
    QImage FCutSource;
    QRect FCutSourceRect;
    int FCutFormat = 0;
    std::function<TPhotoNaming()> FNaming;
    std::unique_ptr<TPhotoShopDialogs> FDialogs;
    TImageFileLoader* FLoader;  // child
};
