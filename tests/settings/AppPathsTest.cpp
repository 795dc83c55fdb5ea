// Where the settings, the language files and the photographs go: a portable copy keeps them in its
// own folder, an installed copy in the user's config and Pictures folders.
#include "settings/AppPaths.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "settings/IniFile.h"
#include "support/TestFiles.h"

namespace {

class AppPathsTest : public testing::Test {
  protected:
    void SetUp() override {
        saved_ = {AppPath, IniFileName, SavePath, DefaultSavePath};
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
            savedEnv_.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        }
        home_ = tmp_.filePath("home");
        ASSERT_TRUE(QDir().mkpath(home_));
        qputenv("HOME", QFile::encodeName(home_));
        qunsetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override {
        for (const auto& [name, value, set] : savedEnv_) {
            set ? qputenv(name, value) : qunsetenv(name);
        }
        AppPath = saved_[0];
        IniFileName = saved_[1];
        SavePath = saved_[2];
        DefaultSavePath = saved_[3];
    }
    // A prefix as `cmake --install --prefix` lays it out: bin/ beside the desktop entry.
    QString InstalledPrefixBin() const {
        const QString prefix = tmp_.filePath("prefix");
        EXPECT_TRUE(QDir().mkpath(prefix + "/bin") &&
                    QDir().mkpath(prefix + "/share/applications"));
        WriteBytes(prefix + "/share/applications/" + kDesktopId + ".desktop", "[Desktop Entry]\n");
        return prefix + "/bin";
    }
    QString OlderIni() const { return home_ + "/.local/share/snapix/snapix.ini"; }
    void WriteOlderIni(const QByteArray& bytes) const {
        ASSERT_TRUE(QDir().mkpath(home_ + "/.local/share/snapix"));
        WriteBytes(OlderIni(), bytes);
    }

    QTemporaryDir tmp_;
    QString home_;
    QStringList saved_;
    struct SavedVar {
        const char* name;
        QByteArray value;
        bool set;
    };
    std::vector<SavedVar> savedEnv_;
};

TEST_F(AppPathsTest, PortableCopyKeepsEverythingInItsFolder) {
    const QString program = tmp_.filePath("program");
    ASSERT_TRUE(QDir().mkdir(program));
    for (const QString& given : {program, program + "/"}) {
        InitAppPaths(given);
        EXPECT_FALSE(IsInstalledCopy(given));
        EXPECT_EQ(AppPath, program + "/");
        EXPECT_EQ(IniFileName, program + "/snapix.ini");
        EXPECT_EQ(DefaultSavePath, AppPath);
        EXPECT_EQ(SavePath, AppPath);
    }
    EXPECT_EQ(EntriesOf(program), QStringList{});  // the probe leaves nothing behind
    EXPECT_EQ(EntriesOf(home_), QStringList{});
}

// A folder this user cannot create files in (a system prefix), and a writable prefix that holds
// the program's desktop entry (~/.local after an install from source, /usr for root).
TEST_F(AppPathsTest, InstalledCopyUsesTheUsersConfigAndPicturesFolders) {
    WriteBytes(tmp_.filePath("plainfile"), "x");
    const QString bin = InstalledPrefixBin();
    for (const QString& given : {tmp_.filePath("plainfile"), tmp_.filePath("missing"), bin}) {
        SCOPED_TRACE(given.toStdString());
        EXPECT_TRUE(IsInstalledCopy(given));
        InitAppPaths(given);
        EXPECT_EQ(AppPath, home_ + "/.config/snapix/");
        EXPECT_EQ(IniFileName, home_ + "/.config/snapix/snapix.ini");
        EXPECT_TRUE(QFileInfo(AppPath).isDir());
        EXPECT_EQ(DefaultSavePath, home_ + "/Pictures/Snapix/");
        EXPECT_EQ(SavePath, DefaultSavePath);
        EXPECT_FALSE(QFileInfo::exists(home_ + "/Pictures")) << "made by the first photograph";
    }
    EXPECT_EQ(EntriesOf(bin), QStringList{});
}

TEST_F(AppPathsTest, InstalledCopyFollowsXdgConfigHomeAndUserDirs) {
    const QString config = tmp_.filePath("cfg");
    ASSERT_TRUE(QDir().mkpath(config));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    WriteBytes(config + "/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    InitAppPaths(InstalledPrefixBin());
    EXPECT_EQ(IniFileName, config + "/snapix/snapix.ini");
    EXPECT_EQ(DefaultSavePath, home_ + "/Bilder/Snapix/");
}

// The older per-user settings file is carried over once and never lost: it stays where it was, a
// newer file is never replaced by it, and it keeps serving when the copy cannot be made.
TEST_F(AppPathsTest, OlderPerUserSettingsAreCarriedOverOnce) {
    const QByteArray older = "[Snapix]\nSavePath=/photos/\nMaxFileNo=41\n; mine\n";
    WriteOlderIni(older);
    const QString bin = InstalledPrefixBin();
    InitAppPaths(bin);
    EXPECT_EQ(IniFileName, home_ + "/.config/snapix/snapix.ini");
    EXPECT_EQ(ReadBytes(IniFileName), older);
    EXPECT_EQ(ReadBytes(OlderIni()), older);

    WriteIniValue(IniFileName, "Snapix", "MaxFileNo", "42");
    InitAppPaths(bin);
    EXPECT_EQ(ReadIniValue(IniFileName, "Snapix", "MaxFileNo", "?"), "42") << "copied only once";

    // A link in the new file's place, even a dangling one, is the user's: not replaced.
    QFile::remove(IniFileName);
    ASSERT_TRUE(QFile::link(tmp_.filePath("elsewhere.ini"), IniFileName));
    InitAppPaths(bin);
    EXPECT_TRUE(QFileInfo(IniFileName).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(tmp_.filePath("elsewhere.ini")));
}

TEST_F(AppPathsTest, OlderSettingsThatAreNoPlainFileAreNotCarriedOver) {
    ASSERT_TRUE(QDir().mkpath(home_ + "/.local/share/snapix"));
    ASSERT_TRUE(QFile::link("/dev/zero", OlderIni()));
    InitAppPaths(InstalledPrefixBin());
    EXPECT_EQ(IniFileName, home_ + "/.config/snapix/snapix.ini");
    EXPECT_FALSE(QFileInfo::exists(IniFileName));
}

TEST_F(AppPathsTest, OlderSettingsKeepServingWhenTheyCannotBeCopied) {
    WriteOlderIni("[Snapix]\nMaxFileNo=41\n");
    WriteBytes(tmp_.filePath("plainfile"), "x");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(tmp_.filePath("plainfile")));
    InitAppPaths(InstalledPrefixBin());
    EXPECT_EQ(IniFileName, OlderIni());
    EXPECT_EQ(ReadIniValue(IniFileName, "Snapix", "MaxFileNo", "?"), "41");
}

TEST_F(AppPathsTest, DefaultPhotoFolderIsMadeWithItsParentsOnlyWhenInUse) {
    InitAppPaths(InstalledPrefixBin());
    SavePath = tmp_.filePath("chosen/");
    MakeDefaultSavePath();
    EXPECT_FALSE(QFileInfo::exists(home_ + "/Pictures"));
    EXPECT_FALSE(QFileInfo::exists(SavePath)) << "a chosen folder is not made here";

    SavePath = DefaultSavePath;
    MakeDefaultSavePath();
    EXPECT_TRUE(QFileInfo(home_ + "/Pictures/Snapix").isDir());
    MakeDefaultSavePath();  // already there
    EXPECT_TRUE(QFileInfo(home_ + "/Pictures/Snapix").isDir());
}

}  // namespace
