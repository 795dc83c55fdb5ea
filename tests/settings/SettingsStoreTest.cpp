// The photo folder at window show and on commit, and the serial counter kept in snapix.ini.
#include "settings/SettingsStore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/TestFiles.h"
#include "settings/AppPaths.h"
#include "settings/IniFile.h"

namespace {

// Points the program folder at a fresh temporary folder and restores the globals afterwards.
class SettingsStoreTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDir(tmp_.path()).mkdir("app"));
        saved_ = {AppPath, IniFileName, SavePath, DefaultSavePath};
        AppPath = tmp_.path() + "/app/";
        IniFileName = AppPath + "snapix.ini";
        DefaultSavePath = AppPath;
        SavePath.clear();
    }
    void TearDown() override {
        AppPath = saved_[0];
        IniFileName = saved_[1];
        SavePath = saved_[2];
        DefaultSavePath = saved_[3];
    }
    QString tmp(const QString& name) const { return tmp_.path() + "/" + name; }
    void writeIni(const QByteArray& bytes) const { WriteBytes(IniFileName, bytes); }
    QString storedSavePath() const {
        return ReadIniValue(IniFileName, kSettingsSection, kSavePathKey, "<none>");
    }

    QTemporaryDir tmp_;
    QStringList saved_;
};

TEST_F(SettingsStoreTest, WithoutSettingsFilePhotosGoToProgramFolderAndCounterStartsAtZero) {
    LoadSavePathAtShow();
    EXPECT_EQ(SavePath, AppPath);
    EXPECT_EQ(LoadFileNo(41), 0u);
    EXPECT_FALSE(QFile::exists(IniFileName));

    StoreFileNo(1);
    EXPECT_EQ(ReadBytes(IniFileName), "[Snapix]\nMaxFileNo=1\n");
}

// The stored folder is used with "/" appended when it lacks one, relative names belong to the
// program folder. A folder that can neither be found nor created falls back to the program folder
// for this run only: the file is never rewritten, so the folder is used again once it is back.
TEST_F(SettingsStoreTest, PhotoFolderAtShow) {
    ASSERT_TRUE(QDir(tmp_.path()).mkdir("photos"));
    ASSERT_TRUE(QDir(AppPath).mkdir("inside"));
    WriteBytes(tmp("plainfile"), "x");
    const struct {
        const char* name;
        QString stored;
        QString expected;  // SavePath afterwards
        bool fallback;     // reported as unusable
    } cases[] = {
        {"empty value", "", AppPath, false},
        {"existing folder", tmp("photos/"), tmp("photos/"), false},
        {"existing folder without /", tmp("photos"), tmp("photos/"), false},
        {"new folder, parent exists", tmp("new1/"), tmp("new1/"), false},
        {"new folder without /", tmp("new2"), tmp("new2/"), false},
        {"relative folder", "inside", AppPath + "inside/", false},
        {"relative new folder", "made/", AppPath + "made/", false},
        {"parent missing", tmp("none/deeper/"), AppPath, true},
        {"a file of that name", tmp("plainfile"), AppPath, true},
        {"under a file", tmp("plainfile/sub/"), AppPath, true},
        {"relative, parent missing", "none/deeper/", AppPath, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray file = "[Snapix]\r\nSavePath=" + c.stored.toUtf8() + "\r\nMaxFileNo=5\r\n";
        writeIni(file);
        SavePath.clear();
        const std::optional<TSavePathFallback> fallback = LoadSavePathAtShow();
        EXPECT_EQ(SavePath, c.expected);
        EXPECT_EQ(ReadBytes(IniFileName), file);
        EXPECT_EQ(fallback.has_value(), c.fallback);
        if (fallback) {
            EXPECT_EQ(fallback->Unusable,
                      QDir::isAbsolutePath(c.stored) ? c.stored : AppPath + c.stored);
            EXPECT_EQ(fallback->UsedInstead, AppPath);
            EXPECT_TRUE(SavePathIsStandIn());
        } else {
            EXPECT_TRUE(QFileInfo(c.expected).isDir());
            EXPECT_FALSE(SavePathIsStandIn());
        }
    }
    EXPECT_FALSE(QFileInfo::exists(tmp("none")));  // one level only
    EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath("made"))) << "not the working folder";

    // The folder comes back: the next show uses it.
    writeIni("[Snapix]\nSavePath=" + tmp("none/deeper/").toUtf8() + "\n");
    ASSERT_TRUE(LoadSavePathAtShow());
    ASSERT_TRUE(QDir().mkpath(tmp("none/deeper")));
    EXPECT_FALSE(LoadSavePathAtShow());
    EXPECT_EQ(SavePath, tmp("none/deeper/"));
}

// An installed copy: the default photo folder lies elsewhere (the user's Pictures) and is made by
// the first photograph, not by opening the window, also when the settings name it.
TEST_F(SettingsStoreTest, InstalledCopyDefaultFolderIsNotMadeAtShow) {
    DefaultSavePath = tmp("home/Pictures/Snapix/");
    for (const QByteArray& file : {QByteArray(), QByteArray("[Snapix]\nSavePath=\n"),
                                   "[Snapix]\nSavePath=" + DefaultSavePath.toUtf8(),
                                   "[Snapix]\nSavePath=" + tmp("home/Pictures/Snapix").toUtf8()}) {
        SCOPED_TRACE(file.toStdString());
        if (!file.isEmpty()) {
            writeIni(file);
        }
        EXPECT_FALSE(LoadSavePathAtShow());
        EXPECT_EQ(SavePath, DefaultSavePath);
        ReadSavePathSetting();
        EXPECT_EQ(SavePath, DefaultSavePath);
    }
    EXPECT_FALSE(QFileInfo::exists(tmp("home")));

    writeIni("[Snapix]\nSavePath=" + tmp("none/deeper/").toUtf8() + "\n");
    const std::optional<TSavePathFallback> fallback = LoadSavePathAtShow();
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->UsedInstead, DefaultSavePath);
    EXPECT_EQ(SavePath, DefaultSavePath);
    EXPECT_TRUE(SavePathIsStandIn());
}

// Committing while the stored folder is unusable reads back the stand-in, not the missing
// folder as a name prefix.
TEST_F(SettingsStoreTest, CommitWhileTheStoredFolderIsUnusableKeepsTheStandIn) {
    writeIni("[Snapix]\nSavePath=" + tmp("none/deeper/").toUtf8() + "\n");
    ASSERT_TRUE(LoadSavePathAtShow());
    ReadSavePathSetting();
    EXPECT_EQ(SavePath, AppPath);
    EXPECT_TRUE(SavePathIsStandIn());

    ASSERT_TRUE(QDir(tmp_.path()).mkdir("photos"));
    WriteSavePathSetting(tmp("photos/"));  // the user's own choice ends the stand-in
    EXPECT_FALSE(SavePathIsStandIn());
    ReadSavePathSetting();
    EXPECT_EQ(SavePath, tmp("photos/"));
}

TEST_F(SettingsStoreTest, CommittedPhotoFolderIsReadBack) {
    ASSERT_TRUE(QDir(tmp_.path()).mkdir("photos"));
    ASSERT_TRUE(QDir(AppPath).mkdir("photos-rel"));
    const struct {
        const char* name;
        QString written;
        QString expected;
    } cases[] = {
        {"folder with /", tmp("photos/"), tmp("photos/")},
        {"folder without /", tmp("photos"), tmp("photos/")},
        {"not a folder: kept as written", tmp("nowhere/pre"), tmp("nowhere/pre")},
        {"relative folder", "photos-rel", AppPath + "photos-rel/"},
        {"empty", "", AppPath},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSavePathSetting(c.written);
        ReadSavePathSetting();
        EXPECT_EQ(SavePath, c.expected);
        EXPECT_EQ(storedSavePath(), c.written);
    }
    QFile::remove(IniFileName);
    ReadSavePathSetting();
    EXPECT_EQ(SavePath, AppPath);
}

TEST_F(SettingsStoreTest, PhotoFolderWriteFailureIsRaised) {
    WriteBytes(tmp("plainfile"), "x");
    IniFileName = tmp("plainfile/snapix.ini");
    try {
        WriteSavePathSetting("/x/");
        ADD_FAILURE() << "no error raised";
    } catch (const EIniWriteError& e) {
        EXPECT_EQ(e.message(), "Unable to write to " + IniFileName);
    }
}

TEST(FileNoText, SameThirtyTwoBitsBothWays) {
    const struct {
        const char* text;
        quint32 counter;
        const char* written;  // the text the counter is stored as
    } cases[] = {
        {"0", 0u, "0"},
        {"7", 7u, "7"},
        {"2147483647", 2147483647u, "2147483647"},
        {"-2147483648", 2147483648u, "-2147483648"},
        {"-1", 4294967295u, "-1"},
        {"4294967295", 4294967295u, "-1"},  // the unsigned spelling of a hand edit
        {"+12", 12u, "12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FileNoFromText(c.text), c.counter);
        EXPECT_EQ(FileNoToText(c.counter), c.written);
        EXPECT_EQ(FileNoFromText(FileNoToText(c.counter)), c.counter);
    }
}

TEST(FileNoText, NonNumbersReadAsZero) {
    for (const char* text :
         {"", "abc", "12abc", "1.5", "0x10", "4294967296", "-2147483649", "99999999999999999999"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(FileNoFromText(text), 0u);
    }
}

TEST_F(SettingsStoreTest, CounterRoundTripsThroughTheFile) {
    writeIni("; mine\n[SNAPIX]\nSAVEPATH=/p/\nMAXFILENO=12\n");
    EXPECT_EQ(LoadFileNo(0), 12u);

    StoreFileNo(4294967295u);
    EXPECT_EQ(ReadBytes(IniFileName), "; mine\n[SNAPIX]\nSAVEPATH=/p/\nMAXFILENO=-1\n");
    EXPECT_EQ(LoadFileNo(0), 4294967295u);

    writeIni("[Snapix]\nMaxFileNo=letters\n");
    EXPECT_EQ(LoadFileNo(33), 0u);
}

TEST_F(SettingsStoreTest, CounterErrorsAreSilentAndKeepTheCounter) {
    QDir().mkdir(IniFileName);  // a settings "file" that cannot be read or replaced
    EXPECT_EQ(LoadFileNo(77), 77u);
    EXPECT_NO_THROW(StoreFileNo(78));
    EXPECT_TRUE(QFileInfo(IniFileName).isDir());

    WriteBytes(tmp("plainfile"), "x");
    IniFileName = tmp("plainfile/snapix.ini");
    EXPECT_NO_THROW(StoreFileNo(79));
    EXPECT_EQ(LoadFileNo(80), 0u);  // missing file: the default, not an error
}

}  // namespace
