// The main window's frame: creation and the show sequence, status kinds, the
// layout and its restore, tray and minimise, the information panel, the
// language-file trigger, the photo folder request and the single-instance
// hand-over.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

#include "app/AboutPanel.h"
#include "app/AppInfo.h"
#include "app/SingleInstance.h"
#include "settings/IniFile.h"
#include "settings/SettingsStore.h"
#include "tests/app/MainWindowFixture.h"
#include "widgets/ButtonBar.h"
#include "widgets/Image.h"
#include "widgets/SkinPanel.h"

#include "moc_MainWindowFixture.cpp"

TEST_F(MainWindowTest, ShowSequenceStartsThePreviewAndTakesCaptionsFromTheMessageTable) {
    StartWithPicture();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(form->objectName(), QStringLiteral("frmMainForm"));
    EXPECT_EQ(ApplicationMainWindow(), form.get());
    EXPECT_EQ(AppPath, QDir(folder.path()).absolutePath() + "/");
    EXPECT_EQ(IniFileName, AppPath + "snapix.ini");
    EXPECT_EQ(SavePath, AppPath);
    EXPECT_EQ(form->Snapixture->DelayTime, 5000u);
    EXPECT_EQ(form->Snapixture->CaptureStatus, csPrev);
    // The first preview keeps the device's own format, as the source list says.
    EXPECT_EQ(form->Snapixture->SampleWidth, 640);
    EXPECT_EQ(form->Snapixture->SampleHeight, 480);

    EXPECT_EQ(Status(), QStringLiteral("预览中."));
    EXPECT_EQ(form->windowTitle(), AppInfo::Title());
    EXPECT_EQ(form->CoolTrayIcon->toolTip(), AppInfo::Title());
    EXPECT_EQ(form->btnCapture->text(), QStringLiteral("拍照[F8]"));
    EXPECT_EQ(form->btnCapture->toolTip(), QStringLiteral("拍照快捷键F8"));
    EXPECT_EQ(form->cbDelay->text(), QStringLiteral("延时"));
    EXPECT_EQ(form->cbDelay->toolTip(), QStringLiteral("勾选 延时  ,将在点击拍照后5秒自动拍照."));
    EXPECT_EQ(form->btnBrowse->text(), QStringLiteral("浏览"));
    EXPECT_EQ(form->btnSetup->text(), QStringLiteral("设置"));
    EXPECT_EQ(form->btnAbout->text(), QStringLiteral("关于"));
    EXPECT_EQ(form->btnClose->toolTip(), QStringLiteral("关闭"));
    EXPECT_FALSE(form->cbDelay->isChecked());
    EXPECT_FALSE(form->tmDelay->isActive());
}

TEST_F(MainWindowTest, ShowSequenceRunsAgainEachTimeTheWindowBecomesVisible) {
    StartWithPicture();
    form->hide();
    // Meanwhile the stored photo folder names a folder that does not exist yet.
    const QString photos = AppPath + "photos";
    WriteSavePathSetting(photos);
    SendMessage(form.get(), WM_STATUS_TEXT, 1);
    form->Snapixture->Stop();

    form->show();
    EXPECT_EQ(SavePath, photos + "/");
    EXPECT_TRUE(QDir(photos).exists());
    EXPECT_EQ(Status(), QStringLiteral("预览中."));
    EXPECT_EQ(form->Snapixture->CaptureStatus, csPrev) << "device 0 selected and previewed again";
    EXPECT_TRUE(WaitForFrame());
}

TEST_F(MainWindowTest, StatusKindsShowTheirFixedTextWithTheValueAsUnsigned16Bit) {
    Start();
    struct Case {
        quintptr kind;
        qintptr value;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "预览中."},
        {1, 0, "拍照中."},
        {2, 0, "拍照完成."},
        {3, 0, "连续拍照中."},
        {4, 75, "照片品质最低值:0 最高值:100 当前值:75"},
        {5, -1, "亮度最低值:0 最高值:40 当前值:65535"},
        {6, 40, "对比度最低值:0 最高值:40 当前值:40"},
        {7, 0x10012, "色调最低值:0 最高值:36 当前值:18"},
        {0x10001, 0, "拍照中."},  // only the low 16 bits name the kind
        {8, 1, ""},
        {static_cast<quintptr>(-1), 1, ""},
    };
    for (const Case& c : cases) {
        SendMessage(form.get(), WM_STATUS_TEXT, 2);  // something else first
        SendMessage(ApplicationMainWindow(), WM_STATUS_TEXT, c.kind, c.value);
        EXPECT_EQ(Status(), QString::fromUtf8(c.text)) << "kind " << c.kind << " value " << c.value;
    }
}

TEST_F(MainWindowTest, RestoreLayoutGivesTheDesignLayoutCentredOnTheScreen) {
    Start();
    EXPECT_EQ(form->minimumSize(), QSize(776, 632));
    form->resize(500, 400);
    EXPECT_GE(form->width(), 776);
    EXPECT_GE(form->height(), 632);

    form->resize(1000, 820);
    form->move(3, 5);
    QTest::qWait(20);
    form->bsSkinSplitter2->setSizes({150, 500});
    form->bsSkinSplitter7->setSizes({500, 400});
    form->CamRight->setSizes({200, 150});
    form->CamBottom->setSizes({60, 80});
    form->PhotoLeft->setSizes({120, 200});
    form->PhotoBottom->setSizes({50, 90});

    QTest::mouseClick(form->btnReset, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->size() == QSize(776, 632); }, 2000));
    const QRect screen = form->screen()->geometry();
    EXPECT_EQ(form->pos(), QPoint(screen.left() + (screen.width() - 776) / 2,
                                  screen.top() + (screen.height() - 632) / 2));
    EXPECT_EQ(form->pnlClient->height(), 266);
    EXPECT_EQ(form->pnlCamClientLeft->width(), 364);
    EXPECT_EQ(form->pnlCamRight->width(), 30);
    EXPECT_EQ(form->pnlPhotoLeft->width(), 30);
    EXPECT_EQ(form->pnlCamBottom->height(), 3);
    EXPECT_EQ(form->pnlPhotoBottom->height(), 3);
    EXPECT_EQ(form->bsSkinPanel11->height(), 37);
    EXPECT_EQ(form->stbStatus->width(), 219);
}

TEST_F(MainWindowTest, ButtonBarKeepsItsButtonsAnchoredToTheRightEdge) {
    Start();
    const int fromRight = form->bsSkinPanel11->width() - form->btnCapture->geometry().right();
    form->resize(1100, 700);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->width() == 1100; }, 2000));
    EXPECT_EQ(form->bsSkinPanel11->width() - form->btnCapture->geometry().right(), fromRight);
    EXPECT_EQ(form->btnClose->geometry().left() - form->btnCapture->geometry().left(), 702 - 344);
    EXPECT_EQ(form->btnCapture->size(), QSize(120, 28));
}

TEST_F(MainWindowTest, MinimiseHidesInTheTrayAndTheMenuBringsTheWindowBack) {
    TfrmCamBas::SetTrayAvailabilityOverride(true);
    StartWithPicture();
    EXPECT_FALSE(form->CoolTrayIcon->isVisible());

    form->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 2000));
    EXPECT_TRUE(form->CoolTrayIcon->isVisible());

    SendMessage(form.get(), WM_STATUS_TEXT, 1);
    form->N1->trigger();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());
    EXPECT_EQ(Status(), QStringLiteral("预览中.")) << "the show sequence ran again";
    EXPECT_TRUE(form->CoolTrayIcon->isVisible()) << "the icon stays for the rest of the run";
}

TEST_F(MainWindowTest, AClickOrADoubleClickOnTheTrayIconBringsTheWindowBack) {
    TfrmCamBas::SetTrayAvailabilityOverride(true);
    StartWithPicture();
    // Some desktops report a click only as Trigger, never as DoubleClick.
    for (const auto reason : {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Trigger}) {
        form->showMinimized();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 2000));
        emit form->CoolTrayIcon->activated(reason);
        EXPECT_TRUE(form->isVisible()) << reason;
        EXPECT_FALSE(form->isMinimized()) << reason;
    }
}

TEST_F(MainWindowTest, WithoutATrayMinimiseKeepsANormalMinimisedWindow) {
    TfrmCamBas::SetTrayAvailabilityOverride(false);
    Start();
    form->showMinimized();
    QTest::qWait(50);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
    EXPECT_FALSE(form->CoolTrayIcon->isVisible());
}

TEST_F(MainWindowTest, TrayMenuHasItsItemsAndExitClosesTheWindowAndStopsTheCapture) {
    StartWithPicture();
    EXPECT_FALSE(form->F81->isVisible());
    EXPECT_EQ(form->N1->text(), QStringLiteral("显示主界面(&M)"));
    EXPECT_EQ(form->N3->text(), QStringLiteral("退出(&X)"));
    EXPECT_EQ(form->F81->text(), QStringLiteral("拍照(&S)"));

    form->N3->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->Snapixture->CaptureStatus, csStop);
    EXPECT_FALSE(VirtualCamera::Instance().Streaming());
    EXPECT_TRUE(boxes.empty()) << "closing asks nothing";
}

TEST_F(MainWindowTest, TrayExitEndsTheRunAlsoWhileTheWindowIsInTheTray) {
    TfrmCamBas::SetTrayAvailabilityOverride(true);
    StartWithPicture();
    form->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 2000));
    // Should the run not end, this ends it with a code the test rejects.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(10000);
    QTimer::singleShot(0, form->N3, &QAction::trigger);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(form->Snapixture->CaptureStatus, csStop);
}

TEST_F(MainWindowTest, AboutPanelIsMadeOnceAndDoesNotBlock) {
    Start();
    QTest::mouseClick(form->btnAbout, Qt::LeftButton);
    TAboutPanel* panel = form->AboutPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->isModal());
    EXPECT_EQ(panel->lblTitle->text(), AppInfo::Title());
    EXPECT_TRUE(panel->lblVersion->text().contains(AppInfo::Version()));
    EXPECT_EQ(panel->lblDescription->text(), AppInfo::Description());

    panel->close();
    QTest::mouseClick(form->btnAbout, Qt::LeftButton);
    EXPECT_EQ(form->AboutPanel(), panel);
    EXPECT_TRUE(panel->isVisible());
}

TEST_F(MainWindowTest, DoubleClickOnTheTopStripWritesTheLanguageFiles) {
    Start();
    QFile stale(AppPath + "chn.lan");
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("stale");
    stale.close();

    QTest::mouseDClick(form->bsSkinPanel4, Qt::LeftButton);
    for (const char* name : {"chn.lan", "cht.lan", "eng.lan"}) {
        EXPECT_TRUE(QFile::exists(AppPath + name)) << name;
    }
    EXPECT_GT(QFileInfo(AppPath + "chn.lan").size(), 100);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, BrowseOpensThePhotoFolder) {
    Start();
    QTest::mouseClick(form->btnBrowse, Qt::LeftButton);
    ASSERT_EQ(opened.urls.size(), 1u);
    EXPECT_EQ(opened.urls[0], QUrl::fromLocalFile(SavePath));
}

// An installed copy (here: a prefix with the program's desktop entry, as `cmake --install` lays
// out) writes nothing beside itself: settings and language files go to the user's config folder,
// photographs to the Pictures folder, which the first photograph makes.
TEST_F(MainWindowTest, InstalledCopyKeepsTheUsersFilesInTheirDesktopFolders) {
    const QString home = folder.filePath("home");
    const QString bin = folder.filePath("prefix/bin");
    const QString applications = folder.filePath("prefix/share/applications");
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(bin) && QDir().mkpath(applications));
    QFile entry(applications + "/" + kDesktopId + ".desktop");
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.close();
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home));
    qunsetenv("XDG_CONFIG_HOME");

    form = std::make_unique<TfrmMainForm>();
    form->Create(bin);
    form->show();
    const bool live = WaitForFrame();
    const bool madeAtShow = QFileInfo::exists(home + "/Pictures");
    QTest::keyClick(form.get(), Qt::Key_F8);
    QTest::mouseDClick(form->bsSkinPanel4, Qt::LeftButton);
    SendMessage(ApplicationMainWindow(), WM_SAVEPATH_CHANGED);  // as OK in the settings panel
    qputenv("HOME", oldHome);
    oldConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", oldConfig);

    ASSERT_TRUE(live);
    EXPECT_FALSE(madeAtShow);
    EXPECT_EQ(Status(), QStringLiteral("拍照完成.")) << Info().toStdString();
    EXPECT_EQ(SavePath, home + "/Pictures/Snapix/");
    EXPECT_EQ(Photos().size(), 1);
    const QString config = home + "/.config/snapix/";
    EXPECT_EQ(ReadIniValue(config + "snapix.ini", "Snapix", "SavePath", "?"), SavePath);
    for (const char* name : {"chn.lan", "cht.lan", "eng.lan"}) {
        EXPECT_TRUE(QFile::exists(config + name)) << name;
    }
    EXPECT_EQ(QDir(bin).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{});
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, SavePathChangedGivesTheFolderToTheComponentAndStoresIt) {
    Start();
    const QString photos = AppPath + "bilder/";
    ASSERT_TRUE(QDir().mkpath(photos));
    SavePath = photos;
    SendMessage(ApplicationMainWindow(), WM_SAVEPATH_CHANGED);
    EXPECT_EQ(form->Snapixture->SavePath, photos);
    EXPECT_EQ(ReadIniValue(IniFileName, "Snapix", "SavePath", ""), photos);
    EXPECT_EQ(SavePath, photos);
}

TEST_F(MainWindowTest, SavePathThatCannotBeStoredIsReportedOnce) {
    Start();
    // A folder where the settings file should be: nothing can replace it.
    ASSERT_TRUE(QFile::remove(IniFileName) || !QFile::exists(IniFileName));
    ASSERT_TRUE(QDir().mkpath(IniFileName));
    SavePath = AppPath;
    SendMessage(form.get(), WM_SAVEPATH_CHANGED);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, TMessageBoxKind::Error);
    EXPECT_TRUE(boxes[0].text.contains(IniFileName)) << boxes[0].text.toStdString();
}

// A stored photo folder that cannot be used (a drive not mounted) is said once
// in the left panel; photographs go to the program folder for this run, and
// the stored folder stays, also through a commit of the settings.
TEST_F(MainWindowTest, UnusablePhotoFolderIsReportedOnceAndTheStoredFolderKept) {
    const QString unmounted = folder.filePath("media/usb/photos/");
    const QByteArray ini = "[Snapix]\r\nSavePath=" + unmounted.toUtf8() + "\r\nMaxFileNo=3\r\n";
    QFile file(folder.filePath("snapix.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size());
    file.close();

    StartWithPicture();
    EXPECT_EQ(SavePath, AppPath);
    const QString told = Info();
    EXPECT_TRUE(told.contains(unmounted)) << told.toStdString();
    EXPECT_TRUE(told.contains("\"" + AppPath + "\"")) << told.toStdString();

    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_EQ(Status(), QStringLiteral("拍照完成."));
    EXPECT_EQ(Photos().size(), 1);
    SendMessage(form.get(), WM_SAVEPATH_CHANGED);
    EXPECT_EQ(SavePath, AppPath);
    EXPECT_EQ(ReadIniValue(IniFileName, "Snapix", "SavePath", ""), unmounted);

    // Shown again (back from the tray): not said a second time.
    form->hide();
    form->show();
    EXPECT_NE(Info(), told);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, WindowStartClearsTemporaryPhotoFilesThatKilledCopiesLeft) {
    const QString leftover = folder.filePath(".snapix-00000000deadbeef.tmp");
    QFile file(leftover);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("half a photo") > 0 && file.flush());
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
    file.close();
    Start();
    EXPECT_FALSE(QFileInfo::exists(leftover));
}

TEST_F(MainWindowTest, ASecondStartShowsTheWindowInItsNormalState) {
    QTemporaryDir runtime;
    const QByteArray previous = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    TfrmCamBas::SetTrayAvailabilityOverride(true);
    {
        SingleInstance first;
        ASSERT_TRUE(first.TryStart());
        Start();
        QObject::connect(&first, &SingleInstance::ShowRequested, form.get(),
                         &TfrmMainForm::ShowWindowNormal);
        form->showMinimized();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 2000)) << "in the tray";

        SingleInstance second;
        EXPECT_FALSE(second.TryStart());
        EXPECT_TRUE(QTest::qWaitFor([&] { return form->isVisible(); }, 3000));
        EXPECT_FALSE(form->isMinimized());
        EXPECT_TRUE(boxes.empty());
    }
    qputenv("XDG_RUNTIME_DIR", previous);
}
