// The window's lower-area panels: the settings reaching real photographs, the
// serial-number counter, the camera choices a photograph and a window show
// keep, the switching between links, settings and cutting, and the cutting
// panel's camera hand-over, photographs, save and copy.
#include <array>
#include <climits>
#include <functional>

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QSplitter>

#include "controls/VideoProcAmp.h"
#include "photo/Caption.h"
#include "photocut/PhotoView.h"
#include "photocut/fraPhotoShop.h"
#include "settings/IniFile.h"
#include "settings/fraCamSet.h"
#include "support/FakePhotoShopDialogs.h"
#include "tests/app/MainWindowFixture.h"
#include "widgets/ComboBox.h"
#include "widgets/TrackBar.h"

namespace {

using TLowerPanel = TfrmMainForm::TLowerPanel;

QImage Read(const QString& path) {
    QImageReader reader(path);
    return reader.read().convertToFormat(QImage::Format_RGB888);
}

bool IsGrey(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        const uchar* p = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x, p += 3) {
            if (p[0] != p[1] || p[1] != p[2]) {
                return false;
            }
        }
    }
    return true;
}

// Whether every pixel that a caption drawn with `lines` and the date would
// cover is inked (pure black or pure white) in `photo`.
bool Inked(const QImage& photo, const PhotoPipeline::TCaptionLines& lines, bool date) {
    QImage mask(photo.size(), QImage::Format_BGR888);
    mask.fill(Qt::white);
    PhotoPipeline::DrawCaption(mask, lines, date, false, 0, QDateTime::currentDateTime());
    int covered = 0;
    for (int y = 0; y < photo.height(); ++y) {
        const uchar* m = mask.constScanLine(y);
        const uchar* p = photo.constScanLine(y);
        for (int x = 0; x < photo.width(); ++x, m += 3, p += 3) {
            if (m[0] == 255) {
                continue;
            }
            ++covered;
            const bool black = p[0] == 0 && p[1] == 0 && p[2] == 0;
            const bool white = p[0] == 255 && p[1] == 255 && p[2] == 255;
            if (!black && !white) {
                return false;
            }
        }
    }
    return covered > 20;
}

int DeviceValue(TfrmMainForm& form, tagVideoProcAmpProperty property) {
    TVideoProcAmp probe;
    probe.VideoProcAmpCategory = property;
    probe.SetFilter(form.Snapixture->Filter());
    probe.SetActive(true);
    return probe.Loaded() ? probe.Value : INT_MIN;
}

}  // namespace

class PanelsTest : public MainWindowTest {
  protected:
    // The stored counter, as a previous run left it.
    void StoreCounter(const QString& text) {
        QFile ini(folder.path() + QStringLiteral("/snapix.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[Snapix]\nMaxFileNo=%1\n").arg(text).toUtf8());
    }
    QString StoredCounter() const {
        return ReadIniValue(IniFileName, QStringLiteral("Snapix"), QStringLiteral("MaxFileNo"),
                            QStringLiteral("none"));
    }

    // Takes one photograph with F8 and returns its file name.
    QString TakePhoto() {
        const QStringList before = Photos();
        QTest::keyClick(form.get(), Qt::Key_F8);
        EXPECT_EQ(Status(), QStringLiteral("拍照完成.")) << Info().toStdString();
        for (const QString& name : Photos()) {
            if (!before.contains(name)) {
                return name;
            }
        }
        return QString();
    }

    TfraCamSet& Settings() { return *form->fraCamSet; }

    // Exactly one panel of the lower area shows, and it is `panel`.
    void ExpectLowerPanel(TLowerPanel panel) {
        const bool links = form->pnlAdv->isVisible();
        const bool setup = form->pnlSetup->isVisible();
        const bool cut = form->pnlPhotoShop->isVisible();
        EXPECT_EQ(int(links) + int(setup) + int(cut), 1);
        EXPECT_EQ(links, panel == TLowerPanel::Links);
        EXPECT_EQ(setup, panel == TLowerPanel::Setup);
        EXPECT_EQ(cut, panel == TLowerPanel::PhotoShop);
        EXPECT_EQ(form->LowerPanel(), panel);
    }
};

TEST_F(PanelsTest, SettingsReachThePhotograph) {
    StoreCounter(QStringLiteral("41"));
    StartWithPicture();
    const QString lines[3] = {QStringLiteral("Snapix caption line one"),
                              QStringLiteral("second line of the caption"),
                              QStringLiteral("third caption line here")};
    struct Case {
        const char* what;
        std::function<void(TfraCamSet&)> set;
        const char* name;  // pattern of the file name
        QSize size;
        bool grey;
        bool captioned;  // the three lines and the date inked
    };
    const Case cases[] = {
        {"defaults: prefix and date-time, JPEG, colour", [](TfraCamSet&) {},
         "^TAVRIN\\d{14}(_\\d+)?\\.jpg$", QSize(640, 480), false, false},
        {"serial number after the stored one, BMP, black and white",
         [](TfraCamSet& f) {
             f.cbFileNameType->setCurrentIndex(1);
             f.cbFileFormat->setCurrentIndex(1);
             f.cbPhotoStyle->setCurrentIndex(1);
         },
         "^TAVRIN00000042\\.bmp$", QSize(640, 480), true, false},
        {"other prefix, output resolution",
         [](TfraCamSet& f) {
             f.edtHeader->setText(QStringLiteral("id-"));
             f.gbOutput->setChecked(true);
             f.cbOutput->setCurrentIndex(0);
         },
         "^id-\\d{14}(_\\d+)?\\.jpg$", QSize(1600, 1200), false, false},
        {"size limit 50 KB: JPEG within 50 KB whatever the format",
         [](TfraCamSet& f) {
             f.cbFileFormat->setCurrentIndex(1);
             f.cbPhotoSize->setCurrentIndex(1);
             f.edtPhotoSize->setText(QStringLiteral("50"));
             f.gbOutput->setChecked(true);
         },
         "^TAVRIN\\d{14}(_\\d+)?\\.jpg$", QSize(), false, false},
        {"captions and date",
         [&](TfraCamSet& f) {
             f.cbFileFormat->setCurrentIndex(1);  // no JPEG loss on the ink
             f.cbShowWord->setChecked(true);
             f.edtWord1->setText(lines[0]);
             f.edtWord2->setText(lines[1]);
             f.edtWord3->setText(lines[2]);
             f.cbShowDate->setChecked(true);
         },
         "^TAVRIN\\d{14}(_\\d+)?\\.bmp$", QSize(640, 480), false, true},
        {"caption lines typed but captions off",
         [&](TfraCamSet& f) {
             f.cbFileFormat->setCurrentIndex(1);
             f.cbShowWord->setChecked(false);
             f.edtWord1->setText(lines[0]);
         },
         "^TAVRIN\\d{14}(_\\d+)?\\.bmp$", QSize(640, 480), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Each case starts from the panel's defaults, apart from the captions.
        Settings().cbFileNameType->setCurrentIndex(0);
        Settings().cbFileFormat->setCurrentIndex(0);
        Settings().cbPhotoStyle->setCurrentIndex(0);
        Settings().cbPhotoSize->setCurrentIndex(0);
        Settings().gbOutput->setChecked(false);
        Settings().edtHeader->setText(QStringLiteral("TAVRIN"));
        Settings().cbShowDate->setChecked(false);
        c.set(Settings());

        const QString name = TakePhoto();
        ASSERT_TRUE(QRegularExpression(QString::fromUtf8(c.name)).match(name).hasMatch())
            << name.toStdString();
        const QImage photo = Read(SavePath + name);
        if (c.size.isValid()) {
            ASSERT_EQ(photo.size(), c.size);
        } else {
            // Made at the size rule's 2048x1536, stored at whatever size keeps the limit.
            EXPECT_LE(QFileInfo(SavePath + name).size(), 50 * 1024);
            EXPECT_TRUE(Info().endsWith(name)) << Info().toStdString();
        }
        EXPECT_EQ(IsGrey(photo), c.grey);
        // Line 1 alone would be inked by the frame counter's black box too:
        // each line and the date are looked at on their own.
        const QString none;
        const PhotoPipeline::TCaptionLines drawn[] = {
            PhotoPipeline::TCaptionLines{lines[0], none, none, none, none},
            PhotoPipeline::TCaptionLines{none, none, lines[1], none, none},
            PhotoPipeline::TCaptionLines{none, none, none, lines[2], none}};
        if (c.captioned) {
            for (const auto& line : drawn) {
                EXPECT_TRUE(Inked(photo, line, false)) << line[0].toStdString();
            }
            EXPECT_TRUE(Inked(photo, {}, true)) << "date";
        } else if (photo.width() == 640) {
            EXPECT_FALSE(Inked(photo, drawn[0], false));
            EXPECT_FALSE(Inked(photo, {}, true));
        }
    }
    // The quality slider and the delay reach the component as well.
    Settings().tbPhoto->SetPosition(33);
    Settings().seDelay->setValue(7);
    TakePhoto();
    EXPECT_EQ(form->Snapixture->CompressionQuality, 33);
    EXPECT_EQ(form->Snapixture->DelayTime, 7000u);
    EXPECT_TRUE(boxes.empty());
}

// A limit no size can keep: the photograph is stored at its smallest, and the left panel
// says so beside its name.
TEST_F(PanelsTest, ASizeLimitThatCannotBeKeptIsSaidBesideTheStoredPhotograph) {
    StartWithPicture();
    Settings().cbPhotoSize->setCurrentIndex(1);
    Settings().edtPhotoSize->setText(QStringLiteral("1"));
    Settings().cbShowWord->setChecked(true);
    Settings().edtWord1->setText(QString(1500, QLatin1Char('c')));  // kept in the EXIF block
    const QString name = TakePhoto();
    ASSERT_FALSE(name.isEmpty());
    EXPECT_TRUE(Info().startsWith(QStringLiteral("1 KB 以内无法做到, 已存为最小的")))
        << Info().toStdString();
    EXPECT_TRUE(Info().endsWith(name)) << Info().toStdString();
    EXPECT_GT(QFileInfo(SavePath + name).size(), 1024);
}

TEST_F(PanelsTest, CounterIsStoredAfterTheFirstPhotographAndWhenASerialNameMovesIt) {
    StoreCounter(QStringLiteral("41"));
    StartWithPicture();
    EXPECT_EQ(Settings().FileNo(), 41u) << "loaded at the first show";
    struct Step {
        int nameType;
        const char* name;
        quint32 counter;
        QString stored;
    };
    // The file is edited by hand between photographs. The run's first photograph stores
    // the counter whatever its name; later date-time names do not write it over the edit.
    const Step steps[] = {
        {0, "^TAVRIN\\d{14}(_\\d+)?\\.jpg$", 41, QStringLiteral("41")},
        {0, "^TAVRIN\\d{14}(_\\d+)?\\.jpg$", 41, QStringLiteral("77")},
        {1, "^TAVRIN00000042\\.jpg$", 42, QStringLiteral("42")},
        {1, "^TAVRIN00000043\\.jpg$", 43, QStringLiteral("43")},
        {0, "^TAVRIN\\d{14}(_\\d+)?\\.jpg$", 43, QStringLiteral("77")},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        StoreCounter(QStringLiteral("77"));
        Settings().cbFileNameType->setCurrentIndex(s.nameType);
        const QString name = TakePhoto();
        EXPECT_TRUE(QRegularExpression(QString::fromUtf8(s.name)).match(name).hasMatch())
            << name.toStdString();
        EXPECT_EQ(Settings().FileNo(), s.counter);
        EXPECT_EQ(StoredCounter(), s.stored);
    }
}

// Without a settings file, one photograph named by date and time makes it.
TEST_F(PanelsTest, TheFirstDateTimePhotographMakesTheSettingsFile) {
    StartWithPicture();
    ASSERT_FALSE(QFile::exists(IniFileName));
    const QString name = TakePhoto();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^TAVRIN\\d{14}(_\\d+)?\\.jpg$")).match(name).hasMatch())
        << name.toStdString();
    EXPECT_EQ(StoredCounter(), QStringLiteral("0"));
}

TEST_F(PanelsTest, APhotographKeepsTheSourceResolutionAndPictureControls) {
    StartWithPicture();
    SendMessage(form.get(), WM_SETUP_TOGGLE);
    // 1280*1024: this camera's nearest is 1280x720, in Motion-JPEG at 30 fps.
    Settings().cbAMStreamConfig->setCurrentIndex(3);
    ASSERT_TRUE(WaitForFrame());
    Settings().tbBrightness->SetPosition(30);
    Settings().tbContras->SetPosition(70);
    for (int shot = 1; shot <= 2; ++shot) {
        SCOPED_TRACE(shot);
        const QString name = TakePhoto();
        EXPECT_EQ(QImageReader(SavePath + name).size(), QSize(1280, 720));
        EXPECT_EQ(Settings().cbAMStreamConfig->ShownText(), QStringLiteral("1280*1024"));
        EXPECT_EQ(form->Snapixture->SampleWidth, 1280);
        EXPECT_EQ(Settings().tbBrightness->Position(), 30);
        EXPECT_EQ(DeviceValue(*form, VideoProcAmp_Brightness), 30);
        EXPECT_EQ(DeviceValue(*form, VideoProcAmp_Contrast), 70);
    }
    // 默认值 still puts everything back.
    Settings().btnDefault->click();
    EXPECT_EQ(Settings().cbAMStreamConfig->ShownText(), QStringLiteral("默认分辨率"));
    EXPECT_EQ(form->Snapixture->SampleWidth, 640);
    EXPECT_EQ(DeviceValue(*form, VideoProcAmp_Brightness), 128);
}

TEST_F(PanelsTest, AChosenDeviceStaysChosenWhenTheWindowIsShownAgain) {
    StartWithPicture();
    form->btnSetup->click();
    // A second entry to pick (this machine may have one camera only); no
    // device answers to it.
    Settings().cbDevice->addItem(QStringLiteral("Second camera"));
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Settings().cbDevice->setFocus();
    QTest::keyClick(Settings().cbDevice, Qt::Key_End);
    EXPECT_TRUE(form->Snapixture->Moniker().IsNone());

    // A program change of the list switches nothing.
    Settings().cbDevice->setCurrentIndex(0);
    EXPECT_TRUE(form->Snapixture->Moniker().IsNone());

    form->hide();
    form->show();
    EXPECT_TRUE(form->Snapixture->Moniker().IsNone()) << "the first device came back";
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PanelsTest, LowerAreaShowsExactlyOnePanelAndTheCuttingPanelHasTheCameraAt320x240) {
    StartWithPicture();
    Settings().cbAMStreamConfig->setCurrentIndex(3);  // the settings' choice: 1280*1024
    ASSERT_TRUE(WaitForFrame());
    // The user made the upper area taller; opening the settings restores it.
    form->bsSkinSplitter2->setSizes({330, 200});
    const QRect screen = form->screen()->geometry();
    enum Action { Setup, Cut, SettingsOK, HideShow };
    const QString chosen = QStringLiteral("1280*1024"), deviceOwn = QStringLiteral("默认分辨率");
    struct Step {
        const char* what;
        Action action;
        TLowerPanel shown;
        int height;
        int cameraWidth;
        QString list;  // what the source list shows
    };
    const Step steps[] = {
        {"settings open", Setup, TLowerPanel::Setup, 632, 1280, chosen},
        {"settings closed by their button", Setup, TLowerPanel::Links, 632, 1280, chosen},
        {"cutting open", Cut, TLowerPanel::PhotoShop, 738, 320, chosen},
        {"settings take the cutting panel's place", Setup, TLowerPanel::Setup, 632, 1280, chosen},
        {"settings closed by 确定", SettingsOK, TLowerPanel::Links, 632, 1280, chosen},
        {"cutting open again", Cut, TLowerPanel::PhotoShop, 738, 320, chosen},
        // The defaults of every show reach the list; the camera waits for the
        // panel to close.
        {"window shown again", HideShow, TLowerPanel::PhotoShop, 738, 320, deviceOwn},
        {"cutting closed", Cut, TLowerPanel::Links, 632, 640, deviceOwn},
    };
    ExpectLowerPanel(TLowerPanel::Links);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        switch (s.action) {
            case Setup:
                form->btnSetup->click();
                break;
            case Cut:
                form->btnPhotoshop->click();
                break;
            case SettingsOK:
                Settings().btnOK->click();
                break;
            case HideShow:
                form->hide();
                form->show();
                break;
        }
        ExpectLowerPanel(s.shown);
        EXPECT_EQ(form->height(), s.height);
        EXPECT_EQ(form->y(),
                  s.height == 738 ? screen.top() : screen.top() + (screen.height() - 632) / 2);
        EXPECT_EQ(form->Snapixture->SampleWidth, s.cameraWidth);
        EXPECT_EQ(Settings().cbAMStreamConfig->ShownText(), s.list);
        if (s.shown == TLowerPanel::Setup) {
            EXPECT_EQ(form->pnlClient->height(), TfrmMainForm::kClientHeight);
        }
    }
    EXPECT_TRUE(WaitForFrame());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PanelsTest, CuttingPanelTakesEachPhotographAndSavesAndCopiesThroughTheWindow) {
    StartWithPicture();
    auto owned = std::make_unique<FakeDialogs>();
    FakeDialogs& dialogs = *owned;
    form->fraPhotoShop->SetDialogs(std::move(owned));
    TfraPhotoShop& cut = *form->fraPhotoShop;

    // Nothing cut yet.
    form->btnPhotoshop->click();
    cut.btnSave->click();
    cut.btnCopy->click();
    EXPECT_EQ(dialogs.messages,
              (std::vector<QString>{TfraPhotoShop::kNoPhotoText, TfraPhotoShop::kNoPhotoText}));
    EXPECT_TRUE(dialogs.proposals.empty());

    ASSERT_TRUE(WaitForFrame());
    cut.TrackBar->setValue(40);
    TakePhoto();
    EXPECT_EQ(cut.ImgSave().size(), QSize(320, 240));
    EXPECT_EQ(cut.ImgSave(), form->Snapixture->ABitmap().convertToFormat(QImage::Format_BGR888));
    EXPECT_EQ(cut.TrackBar->value(), 100);
    EXPECT_EQ(cut.ImgSource->Picture().size(), QSize(320, 240));

    cut.btnCut->click();
    ASSERT_EQ(cut.CutPhoto().size(), QSize(110, 154));

    // Save: proposed in the photo folder under the settings' prefix.
    const QString target = SavePath + QStringLiteral("face.jpg");
    dialogs.saveAnswers.push_back({target, false});
    cut.btnSave->click();
    ASSERT_EQ(dialogs.proposals.size(), 1u);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(SavePath) +
                                   QStringLiteral("TAVRIN\\d{14}_1寸\\.jpg$"))
                    .match(dialogs.proposals[0])
                    .hasMatch())
        << dialogs.proposals[0].toStdString();
    EXPECT_EQ(QImageReader(target).size(), QSize(110, 154));
    EXPECT_TRUE(Info().contains(QStringLiteral("face.jpg"))) << Info().toStdString();

    // Copy, by the window message the copy button sends.
    QGuiApplication::clipboard()->clear();
    SendMessage(form.get(), WM_PHOTOCUT_COPY);
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888),
              cut.CutPhoto().convertToFormat(QImage::Format_RGB888));
    EXPECT_EQ(Info(), TfraPhotoShop::kCopiedText);

    // Closed, the panel keeps its photograph and a new one does not reach it.
    form->btnPhotoshop->click();
    ASSERT_TRUE(WaitForFrame());
    const QImage kept = cut.ImgSave();
    TakePhoto();
    EXPECT_EQ(form->Snapixture->ABitmap().size(), QSize(640, 480));
    EXPECT_EQ(cut.ImgSave(), kept);
    EXPECT_EQ(dialogs.errors, std::vector<QString>{});
    EXPECT_TRUE(boxes.empty());
}
