// Reading and writing INI values: the lookup rules, exact preservation of other lines, failures.
#include "settings/IniFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/TestFiles.h"

namespace {

class IniFileTest : public testing::Test {
  protected:
    QString path(const QString& name = QStringLiteral("snapix.ini")) const {
        return dir_.filePath(name);
    }
    QTemporaryDir dir_;
};

struct ReadCase {
    const char* name;
    QByteArray file;
    QString section;
    QString key;
    QString expected;  // "DEF" is the default passed in
};

TEST_F(IniFileTest, ReadFindsValueOrDefaultByTheRules) {
    const QByteArray longLine(100000, 'z');
    const ReadCase cases[] = {
        {"CR LF lines", "[Snapix]\r\nSavePath=/a/\r\n", "Snapix", "SavePath", "/a/"},
        {"LF lines", "[Snapix]\nSavePath=/a/\n", "Snapix", "SavePath", "/a/"},
        {"no final newline", "[Snapix]\nSavePath=/a/", "Snapix", "SavePath", "/a/"},
        {"byte-order mark", "\xEF\xBB\xBF[Snapix]\r\nSavePath=/a/\r\n", "Snapix", "SavePath",
         "/a/"},
        {"capitals in file", "[SNAPIX]\nSAVEPATH=/a/\n", "Snapix", "SavePath", "/a/"},
        {"small letters in file", "[snapix]\nsavepath=/a/\n", "Snapix", "SavePath", "/a/"},
        {"capitals asked", "[Snapix]\nMaxFileNo=3\n", "SNAPIX", "MAXFILENO", "3"},
        {"missing section", "[Other]\nSavePath=/a/\n", "Snapix", "SavePath", "DEF"},
        {"missing key", "[Snapix]\nMaxFileNo=3\n", "Snapix", "SavePath", "DEF"},
        {"key before any section", "SavePath=/a/\n[Snapix]\n", "Snapix", "SavePath", "DEF"},
        {"key in a later section", "[Snapix]\n[Other]\nSavePath=/a/\n", "Snapix", "SavePath",
         "DEF"},
        {"empty file", "", "Snapix", "SavePath", "DEF"},
        {"empty value is a value", "[Snapix]\nSavePath=\n", "Snapix", "SavePath", ""},
        {"blanks around names and value", "  [ Snapix ]  \n\t SavePath \t= /a b/ \n", "Snapix",
         "SavePath", "/a b/"},
        {"double quotes removed", "[Snapix]\nSavePath=\" /a/ \"\n", "Snapix", "SavePath", " /a/ "},
        {"single quotes removed", "[Snapix]\nSavePath='x'\n", "Snapix", "SavePath", "x"},
        {"unmatched quote kept", "[Snapix]\nSavePath=\"x\n", "Snapix", "SavePath", "\"x"},
        {"text after first =", "[Snapix]\nSavePath=a=b\n", "Snapix", "SavePath", "a=b"},
        {"first key wins", "[Snapix]\nMaxFileNo=1\nMAXFILENO=2\n", "Snapix", "MaxFileNo", "1"},
        {"first section wins", "[Snapix]\nA=1\n[Other]\n[snapix]\nA=2\nB=3\n", "Snapix", "B",
         "DEF"},
        {"comment line skipped", "[Snapix]\n;SavePath=/c/\nSavePath=/a/\n", "Snapix", "SavePath",
         "/a/"},
        {"commented key only", "[Snapix]\n  ; SavePath=/c/\n", "Snapix", "SavePath", "DEF"},
        {"header without ] is no section", "[Snapix\nSavePath=/a/\n", "Snapix", "SavePath", "DEF"},
        {"UTF-8 value", "[Snapix]\nSavePath=/照片/\n", "Snapix", "SavePath", "/照片/"},
        {"binary garbage around",
         QByteArray("\x00\xff\xfe[Snapix\x01\n\xff=\xfe\x00\n", 17) + "[Snapix]\r\nK=v\r\n\x80\x81",
         "Snapix", "K", "v"},
        {"100,000-character line before", "[Snapix]\n" + longLine + "\nK=v\n", "Snapix", "K", "v"},
        // As Windows writes it for this program's users.
        {"GBK value", "[Snapix]\r\nSavePath=D:\\\xD5\xD5\xC6\xAC\\\r\n", "Snapix", "SavePath",
         "D:\\照片\\"},
        {"GBK line beside UTF-8 lines", "[Snapix]\nA=\xD5\xD5\nB=/照片/\n", "Snapix", "B",
         "/照片/"},
        {"lone CR lines", "[Snapix]\rSavePath=/a/\rMaxFileNo=3\r", "Snapix", "MaxFileNo", "3"},
        {"Ctrl-Z after the last value", "[Snapix]\r\nSavePath=/a/\x1A", "Snapix", "SavePath",
         "/a/"},
        {"Ctrl-Z line at the end", "[Snapix]\r\nK=v\r\n\x1A", "Snapix", "K", "v"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(path(), c.file);
        EXPECT_EQ(ReadIniValue(path(), c.section, c.key, QStringLiteral("DEF")), c.expected);
    }
}

TEST_F(IniFileTest, ReadCutsValueAt2047Characters) {
    WriteBytes(path(), "[Snapix]\nK=" + QByteArray(100000, 'x') + "\n");
    EXPECT_EQ(ReadIniValue(path(), "Snapix", "K", ""), QString(2047, QLatin1Char('x')));
}

TEST_F(IniFileTest, ReadOfMissingOrUnreadableFileGivesDefaultAndCreatesNothing) {
    EXPECT_EQ(ReadIniValue(path(), "Snapix", "SavePath", "/d/"), "/d/");
    EXPECT_FALSE(QFile::exists(path()));
    EXPECT_EQ(TryReadIniValue(path(), "Snapix", "SavePath", "/d/"), QString("/d/"));

    ASSERT_TRUE(QDir(dir_.path()).mkdir("snapix.ini"));  // exists, cannot be read as a file
    EXPECT_EQ(ReadIniValue(path(), "Snapix", "SavePath", "/d/"), "/d/");
    EXPECT_EQ(TryReadIniValue(path(), "Snapix", "SavePath", "/d/"), std::nullopt);
}

// Anything in the settings file's place that is no plain file of at most 1 MB is unreadable:
// the read gives the default at once (a pipe must not block it, a device must not fill the
// memory), and a write refuses it and leaves it as it was.
TEST_F(IniFileTest, FileThatIsNoPlainFileWithinOneMegabyteIsUnreadableAndKept) {
    const QByteArray native = QFile::encodeName(path());
    const struct {
        const char* name;
        std::function<bool()> plant;
    } cases[] = {
        {"pipe", [&] { return ::mkfifo(native.constData(), 0600) == 0; }},
        {"link to /dev/zero", [&] { return QFile::link("/dev/zero", path()); }},
        {"link to a pipe",
         [&] {
             return ::mkfifo(QFile::encodeName(path("pipe")).constData(), 0600) == 0 &&
                    QFile::link(path("pipe"), path());
         }},
        {"folder", [&] { return QDir(dir_.path()).mkdir("snapix.ini"); }},
        {"file over 1 MB",
         [&] {
             WriteBytes(path(), "[Snapix]\nK=v\n" + QByteArray(1024 * 1024, ';'));
             return true;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.plant());
        struct stat before {};
        ASSERT_EQ(::lstat(native.constData(), &before), 0);

        EXPECT_EQ(ReadIniValue(path(), "Snapix", "K", "DEF"), "DEF");
        EXPECT_EQ(TryReadIniValue(path(), "Snapix", "K", "DEF"), std::nullopt);
        EXPECT_THROW(WriteIniValue(path(), "Snapix", "K", "w"), EIniWriteError);

        struct stat after {};
        ASSERT_EQ(::lstat(native.constData(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_size, before.st_size);
        QFile::remove(path());
        QFile::remove(path("pipe"));
        QDir(path()).removeRecursively();
    }

    WriteBytes(path(), "[Snapix]\nK=v\n;" + QByteArray(1024 * 1024 - 14, ';'));
    ASSERT_EQ(QFileInfo(path()).size(), 1024 * 1024);
    EXPECT_EQ(ReadIniValue(path(), "Snapix", "K", "DEF"), "v") << "1 MB is still read";
}

// A link in the settings file's place is read through, but a write replaces the link with the
// file: nothing outside the folder is written.
TEST_F(IniFileTest, WriteReplacesALinkInsteadOfWritingThroughIt) {
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("real.ini");
    WriteBytes(target, "[Snapix]\nK=1\nMaxFileNo=4\n");
    ASSERT_TRUE(QFile::link(target, path()));
    EXPECT_EQ(ReadIniValue(path(), "Snapix", "K", "DEF"), "1");

    WriteIniValue(path(), "Snapix", "K", "2");
    EXPECT_FALSE(QFileInfo(path()).isSymLink());
    EXPECT_EQ(ReadBytes(path()), "[Snapix]\nK=2\nMaxFileNo=4\n");
    EXPECT_EQ(ReadBytes(target), "[Snapix]\nK=1\nMaxFileNo=4\n");
    EXPECT_EQ(EntriesOf(elsewhere.path()), QStringList{"real.ini"});

    // A link to nothing: a missing file, made here on the first write.
    QFile::remove(path());
    ASSERT_TRUE(QFile::link(elsewhere.filePath("gone.ini"), path()));
    EXPECT_EQ(ReadIniValue(path(), "Snapix", "K", "DEF"), "DEF");
    WriteIniValue(path(), "Snapix", "K", "3");
    EXPECT_FALSE(QFileInfo(path()).isSymLink());
    EXPECT_EQ(ReadBytes(path()), "[Snapix]\nK=3\n");
    EXPECT_EQ(EntriesOf(elsewhere.path()), QStringList{"real.ini"});
}

struct WriteCase {
    const char* name;
    QByteArray before;
    QString section;
    QString key;
    QString value;
    QByteArray after;
};

// Every line but the one written stays byte for byte, with its own line end.
TEST_F(IniFileTest, WriteChangesOnlyItsOwnLine) {
    const QByteArray garbage("\x00\xff\xfe=\x01", 5);
    const WriteCase cases[] = {
        {"new file", "", "Snapix", "SavePath", "/a/", "[Snapix]\nSavePath=/a/\n"},
        {"replace, CR LF, BOM, comments and other sections kept",
         "\xEF\xBB\xBF; mine\r\n[Other]\r\nX = 1 "
         "\r\n\r\n[Snapix]\r\nSavePath=/old/\r\nMaxFileNo=4\r\n",
         "Snapix", "SavePath", "/new/",
         "\xEF\xBB\xBF; mine\r\n[Other]\r\nX = 1 "
         "\r\n\r\n[Snapix]\r\nSavePath=/new/\r\nMaxFileNo=4\r\n"},
        {"replace keeps the file's spelling of the key", "[SNAPIX]\r\n  savepath = /old/\r\n",
         "Snapix", "SavePath", "/new/", "[SNAPIX]\r\nsavepath=/new/\r\n"},
        {"add key after the section's last value", "[Snapix]\nA=1\n\n[Other]\nB=2\n", "Snapix",
         "MaxFileNo", "7", "[Snapix]\nA=1\nMaxFileNo=7\n\n[Other]\nB=2\n"},
        {"add key to empty section", "[Snapix]\n[Other]\n", "Snapix", "K", "v",
         "[Snapix]\nK=v\n[Other]\n"},
        {"add key, section's last line without newline", "[Snapix]\r\nA=1", "Snapix", "K", "v",
         "[Snapix]\r\nA=1\r\nK=v\r\n"},
        {"add section to file without final newline", "[Other]\nX=1", "Snapix", "K", "v",
         "[Other]\nX=1\n\n[Snapix]\nK=v\n"},
        {"add section after a blank last line", "[Other]\r\nX=1\r\n\r\n", "Snapix", "K", "v",
         "[Other]\r\nX=1\r\n\r\n[Snapix]\r\nK=v\r\n"},
        {"duplicate section: first one written", "[Snapix]\nK=1\n[Snapix]\nK=2\n", "Snapix", "K",
         "3", "[Snapix]\nK=3\n[Snapix]\nK=2\n"},
        {"duplicate key: first one written", "[Snapix]\nK=1\nk=2\n", "Snapix", "K", "3",
         "[Snapix]\nK=3\nk=2\n"},
        {"binary garbage kept", garbage + "\n[Snapix]\nK=1\n" + garbage, "Snapix", "K", "2",
         garbage + "\n[Snapix]\nK=2\n" + garbage},
        {"lone CR lines kept", "[Snapix]\rA=1\rK=1\r", "Snapix", "K", "2", "[Snapix]\rA=1\rK=2\r"},
        {"GBK lines kept", "[Snapix]\r\nP=\xD5\xD5\r\nK=1\r\n", "Snapix", "K", "2",
         "[Snapix]\r\nP=\xD5\xD5\r\nK=2\r\n"},
        {"Ctrl-Z line is blank", "[Other]\r\nX=1\r\n\x1A", "Snapix", "K", "v",
         "[Other]\r\nX=1\r\n\x1A\r\n[Snapix]\r\nK=v\r\n"},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path());
        if (!c.before.isEmpty()) {
            WriteBytes(path(), c.before);
        }
        EXPECT_TRUE(WriteIniValue(path(), c.section, c.key, c.value));
        EXPECT_EQ(ReadBytes(path()), c.after);
        EXPECT_EQ(ReadIniValue(path(), c.section, c.key, "DEF"), c.value);
    }
}

// Values that the reader would otherwise alter (blanks, quotes) are stored so they read back.
TEST_F(IniFileTest, WrittenValuesReadBackUnchanged) {
    const QString values[] = {"",      "/a b/",  " /lead", "/trail ",
                              "\"q\"", "'s'",    "a=b",    ";x",
                              "[x]",   "/照片/", "\"open", QString(2047, QLatin1Char('v'))};
    for (const QString& value : values) {
        SCOPED_TRACE(value.toStdString());
        WriteIniValue(path(), "Snapix", "SavePath", value);
        EXPECT_EQ(ReadIniValue(path(), "Snapix", "SavePath", "DEF"), value);
    }
}

TEST_F(IniFileTest, WriteRefusesWhatWouldCorruptTheFile) {
    const QByteArray before = "[Snapix]\nSavePath=/a/\n";
    const struct {
        QString section, key, value;
    } cases[] = {
        {"Snapix", "SavePath", "/a/\n[Evil]"},
        {"Snapix", "SavePath", "/a/\r"},
        {"Snapix", "Save=Path", "x"},
        {"Snapix", ";SavePath", "x"},
        {"Snap]ix", "SavePath", "x"},
        {"", "SavePath", "x"},
        {"Snapix", " ", "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.section + "/" + c.key + "/" + c.value).toStdString());
        WriteBytes(path(), before);
        EXPECT_THROW(WriteIniValue(path(), c.section, c.key, c.value), EIniWriteError);
        EXPECT_EQ(ReadBytes(path()), before);
    }
}

TEST_F(IniFileTest, FailedWriteRaisesUnableToWriteWithFullName) {
    WriteBytes(path("plainfile"), "x");
    const QString impossible[] = {
        path("plainfile/snapix.ini"),  // parent is a regular file
        path("missing/snapix.ini"),    // parent does not exist
    };
    for (const QString& target : impossible) {
        SCOPED_TRACE(target.toStdString());
        try {
            WriteIniValue(target, "Snapix", "SavePath", "/a/");
            ADD_FAILURE() << "no error raised";
        } catch (const EIniWriteError& e) {
            EXPECT_EQ(e.message(), "Unable to write to " + target);
            EXPECT_EQ(std::string(e.what()), ("Unable to write to " + target).toStdString());
        }
    }
    EXPECT_EQ(EntriesOf(dir_.path()), QStringList{"plainfile"});
}

TEST_F(IniFileTest, UnreadableExistingFileIsNotOverwritten) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir("snapix.ini"));
    EXPECT_THROW(WriteIniValue(path(), "Snapix", "K", "v"), EIniWriteError);
    EXPECT_TRUE(QFileInfo(path()).isDir());
    EXPECT_EQ(EntriesOf(dir_.path()), QStringList{"snapix.ini"});
}

TEST_F(IniFileTest, ReadOnlyFileIsNotOverwritten) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root ignores permission bits";
    }
    const QByteArray before = "[Snapix]\nK=1\n";
    WriteBytes(path(), before);
    ASSERT_EQ(chmod(QFile::encodeName(path()).constData(), 0444), 0);
    EXPECT_THROW(WriteIniValue(path(), "Snapix", "K", "2"), EIniWriteError);
    EXPECT_EQ(ReadBytes(path()), before);
}

// The old file is replaced by rename, never rewritten in place: a reader holding the old file
// still sees all of it after the write.
TEST_F(IniFileTest, WriteReplacesTheFileInOneStep) {
    const QByteArray before = "[Snapix]\nSavePath=/old/\nMaxFileNo=9\n";
    WriteBytes(path(), before);
    QFile old(path());
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));

    WriteIniValue(path(), "Snapix", "SavePath", "/new/");
    EXPECT_EQ(old.readAll(), before);
    EXPECT_EQ(ReadBytes(path()), "[Snapix]\nSavePath=/new/\nMaxFileNo=9\n");
    EXPECT_EQ(EntriesOf(dir_.path()), QStringList{"snapix.ini"});
}

// A write that fails half-way (as on a full disk) leaves the old file whole and no
// temporary file behind.
TEST_F(IniFileTest, WriteFailingHalfWayKeepsTheOldFile) {
    const QByteArray before = "[Snapix]\nMaxFileNo=9\nNote=" + QByteArray(3000, 'n') + "\n";
    WriteBytes(path(), before);
    {
        FileSizeLimit limit(4096);
        EXPECT_THROW(WriteIniValue(path(), "Snapix", "SavePath", QString(2000, QLatin1Char('p'))),
                     EIniWriteError);
    }
    EXPECT_EQ(ReadBytes(path()), before);
    EXPECT_EQ(EntriesOf(dir_.path()), QStringList{"snapix.ini"});
}

}  // namespace
