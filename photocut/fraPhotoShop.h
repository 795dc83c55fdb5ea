// TfraPhotoShop: the identity-photo cutting frame. The user scales a photo under a
// fixed-size crop box with the zoom slider, drags the box onto the face, cuts, and then
// saves or copies the cut photo or lays it out on a print sheet. The photo is the last
// one from the camera or a file the user chose. Everything runs on the GUI thread but
// the decoding of a chosen file, which a worker does (TImageFileLoader).
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QFrame>
#include <QImage>
#include <QRect>
#include <QString>

#include "photocut/IdPhoto.h"
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
    QComboBox* cbPaper;     // the print sheet's paper: 6 inches or A4
    // Identity photos by a standard, beside the photo formats: the standard, the
    // background, the file's KB range, framing from the face, and what was done.
    QLabel* lblStandard;
    QComboBox* cbStandard;  // 0: none (the photo formats above rule)
    QLabel* lblBackground;
    QComboBox* cbBackground;
    QLineEdit* edtKb;
    QPushButton* btnAlign;
    QLabel* lblIdInfo;

    static const QString kAlignCaption;    // "自动对准"
    static const QString kCustomSizeText;  // how to write a custom size, when it is not one

    // The chosen identity-photo standard, or none.
    const std::optional<TIdPhotoStandard>& Standard() const { return FStandard; }
    // A face search or a cut is running off the GUI thread.
    bool Busy() const { return FBusy; }
    // What the panel last said about the identity photo.
    QString IdInfo() const;
    // The stored file of the last identity-photo cut (its JPEG in the KB range).
    const TIdJpeg& CutJpeg() const { return FCutJpeg; }
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
    // A standard was chosen (true) or the photo formats rule again (false): the camera
    // delivers its largest live size for the one, 320 x 240 for the other.
    void StandardChosen(bool chosen);
    // A face search or a cut finished and its result is shown.
    void IdWorkDone();
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
    void cbStandardChange();
    void btnAlignClick();
    void cbBackgroundChange();

  private:
    void PhotoFileLoaded(const QString& path, const QImage& picture);
    void PhotoFileFailed(const QString& path, const QString& reason);
    void ShowLoading(const QString& path);
    TPhotoNaming Naming() const;
    // Runs `work` on a worker thread; what it returns runs on the GUI thread afterwards,
    // unless newer work was started meanwhile or the frame is gone.
    void OffGui(std::function<std::function<void()>()> work);
    // The picture the view shows: the straightened photo while a standard is chosen.
    const QImage& Shown() const { return FStandard ? FStraight : FSource; }
    // The crop box of a standard: its aspect, at most kIdBoxHeight high.
    QSize IdBox() const;
    // The view's scale from the shown picture, and the crop box in its pixels.
    double ViewScale() const;
    QRectF BoxInPicture() const;
    // The standard's cut of the box, its background and its file, off the GUI thread.
    void CutStandard();
    // The print sheet of a standard's cut, made off the GUI thread.
    void PrintStandard();
    // The background and KB range the controls ask for.
    std::optional<QRgb> BackgroundChoice() const;
    bool KbChoice(int& minKb, int& maxKb) const;
    void SayId(const QString& text);
    void NewSource(const QImage& photo);

    QString NameInFolder(const QString& folder, const QString& name) const;

    QImage FSource;
    QString FExtension;
    QString FOpenFolder;  // where the open dialog starts next time
    // The cut's region in the source photo it was cut from, for the print sheet.
    QImage FCutSource;
    QRect FCutSourceRect;
    int FCutFormat = 0;
    std::optional<TIdPhotoStandard> FStandard;
    QImage FStraight;              // FSource turned to level the eyes (or FSource)
    std::optional<QRectF> FFace;   // the face in FStraight, once found
    QRectF FCutRect;               // the last standard cut, in FStraight's pixels
    QImage FIdCut;                 // the last standard cut, at the standard's pixels
    TIdJpeg FCutJpeg;
    qint64 FCutFrom = 0;                 // cacheKey of the FStraight it was cut from
    std::optional<QRectF> FCutFace;      // the face it was cut with, if one was known
    std::optional<QRgb> FCutBackground;  // the wall's colour in it, when it was changed
    std::optional<QRgb> FCustomColour;
    int FBackgroundIndex = 0;                             // the background choice in force
    QString FCustomSize = QStringLiteral("295x413@300");  // the custom size last written
    unsigned FGeneration = 0;
    bool FBusy = false;
    std::function<TPhotoNaming()> FNaming;
    std::unique_ptr<TPhotoShopDialogs> FDialogs;
    TImageFileLoader* FLoader;  // child
};
