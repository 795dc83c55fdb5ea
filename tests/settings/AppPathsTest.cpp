// The program-folder rule: the executable's folder when writable, else the per-user folder.
#include "settings/AppPaths.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/TestFiles.h"

namespace {

class AppPathsTest : public testing::Test {
  protected:
    void SetUp() override {
        saved_ = {AppPath, IniFileName, SavePath};
        oldHome_ = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(tmp_.filePath("home")));
    }
    void TearDown() override {
        qputenv("HOME", oldHome_);
        AppPath = saved_[0];
        IniFileName = saved_[1];
        SavePath = saved_[2];
    }
    QTemporaryDir tmp_;
    QStringList saved_;
    QByteArray oldHome_;
};

TEST_F(AppPathsTest, WritableExecutableFolderIsTheProgramFolder) {
    for (const QString& given : {tmp_.path(), tmp_.path() + "/"}) {
        InitAppPaths(given);
        EXPECT_EQ(AppPath, tmp_.path() + "/");
        EXPECT_EQ(IniFileName, tmp_.path() + "/snapix.ini");
        EXPECT_EQ(SavePath, AppPath);
    }
    EXPECT_EQ(EntriesOf(tmp_.path()), QStringList{});  // the probe leaves nothing behind
}

TEST_F(AppPathsTest, UnwritableExecutableFolderFallsBackToPerUserFolder) {
    WriteBytes(tmp_.filePath("plainfile"), "x");
    const QString perUser = tmp_.filePath("home") + "/.local/share/snapix/";
    for (const QString& given : {tmp_.filePath("plainfile"), tmp_.filePath("missing")}) {
        SCOPED_TRACE(given.toStdString());
        InitAppPaths(given);
        EXPECT_EQ(AppPath, perUser);
        EXPECT_EQ(IniFileName, perUser + "snapix.ini");
        EXPECT_TRUE(QFileInfo(perUser).isDir());
    }
}

}  // namespace
