// The built-in message table, lookup by key, and the three exported language files.
#include "lang/LangTable.h"

#include <iconv.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "lang/MessageTable.h"
#include "settings/AppPaths.h"
#include "support/TestFiles.h"

namespace {

// Decodes a language file back to Unicode, independently of the writer's own conversion.
QString Decode(const QByteArray& bytes, const char* encoding) {
    iconv_t cd = iconv_open("UTF-8", encoding);
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    QByteArray in = bytes;
    QByteArray out(bytes.size() * 4 + 16, '\0');
    char* src = in.data();
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    EXPECT_NE(iconv(cd, &src, &srcLeft, &dst, &dstLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    out.resize(dst - out.data());
    return QString::fromUtf8(out);
}

// The lines a file must hold, built from the message table.
QStringList ExpectedLines(const char* MessageEntry::*text) {
    QStringList lines;
    for (const MessageEntry& entry : MessageEntries()) {
        if (entry.*text) {
            lines << QString::fromLatin1(entry.key) + "=" + QString::fromUtf8(entry.*text);
        }
    }
    return lines;
}

// Every line ends with CR LF, the last one too; there is no other line break and no BOM.
void ExpectCrLfLines(const QByteArray& bytes) {
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(bytes.count('\n'), bytes.count("\r\n"));
    EXPECT_EQ(bytes.count('\r'), bytes.count("\r\n"));
}

QStringList SplitCrLf(const QString& text) {
    QStringList lines = text.split("\r\n");
    if (!lines.isEmpty() && lines.back().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

TEST(MessageTable, KeysAreEightDigitsInAscendingOrder) {
    QString previous;
    for (const MessageEntry& entry : MessageEntries()) {
        const QString key = QString::fromLatin1(entry.key);
        EXPECT_EQ(key.size(), 8);
        EXPECT_GT(key, previous);
        previous = key;
        EXPECT_EQ(entry.traditional != nullptr, entry.group == MessageGroup::Shown) << entry.key;
    }
    EXPECT_EQ(MessageEntries().size(), 100u);
}

// The resource is kept by hand beside the table; this keeps the two from drifting apart.
TEST(BuiltInTable, AgreesWithTheMessageTable) {
    QStringList expected;
    for (const MessageEntry& entry : MessageEntries()) {
        if (InBuiltInTable(entry)) {
            expected << QString::fromLatin1(entry.key) + "=" +
                            QString::fromUtf8(BuiltInText(entry));
        }
    }
    const QByteArray raw = ReadBytes(":/resources/mylang.txt");
    ExpectCrLfLines(raw);
    EXPECT_EQ(SplitCrLf(QString::fromUtf8(raw)), expected);

    const std::unique_ptr<QStringList> table = LoadLangTable();
    ASSERT_TRUE(table);
    EXPECT_EQ(*table, expected);
    EXPECT_EQ(table->size(), 34);
}

TEST(LangText, LooksUpTheLoadedTable) {
    const std::unique_ptr<QStringList> table = LoadLangTable();
    const struct {
        const char* key;
        QString expected;
    } cases[] = {
        {"00000001", "拍照[F8]"},
        {"00000014", "未发现可以使用的视频捕获设备!"},
        {"00000017", "勾选 延时  ,将在点击拍照后5秒自动拍照."},
        {"00000022", "您拍摄的影像已经保存至 "},
        {"00000045", "停止录像[F8]"},
        {"00000046", "开始录像[F8]"},
        {"00000047", ""},  // no such key
        {"00000121", ""},  // not in the built-in table
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(LangText(*table, c.key), c.expected);
    }
}

TEST(LangText, SplitsAtFirstEqualsAndComparesKeysWithoutCase) {
    const QStringList table = {"no equals sign", "abc=first", "ABC=second", "k=a=b",
                               "blank= x ",      "empty=",    " spaced=1"};
    const struct {
        const char* key;
        QString expected;
    } cases[] = {
        {"ABC", "first"},       {"aBc", "first"}, {"k", "a=b"},     {"blank", " x "}, {"empty", ""},
        {"no equals sign", ""}, {"spaced", ""},   {" spaced", "1"}, {"missing", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(LangText(table, c.key), c.expected);
    }
    EXPECT_EQ(LangText(QStringList(), "00000001"), "");
}

class ExportTest : public testing::Test {
  protected:
    QString file(const char* name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

TEST_F(ExportTest, WritesTheThreeFilesInTheirEncodings) {
    QString error;
    ASSERT_TRUE(ExportLangFiles(&error, dir_.path())) << error.toStdString();

    const struct {
        const char* name;
        const char* encoding;
        const char* MessageEntry::*text;
        QByteArray firstLine;
        int lines;
    } files[] = {
        {"chn.lan", "GBK", &MessageEntry::simplified, "00000001=\xC5\xC4\xD5\xD5[F8]\r\n", 100},
        {"cht.lan", "BIG5", &MessageEntry::traditional, "00000001=\xA9\xE7\xB7\xD3(F8)\r\n", 18},
        {"eng.lan", "ASCII", &MessageEntry::english, "00000001=Snapshot(F8)\r\n", 100},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const QByteArray bytes = ReadBytes(file(f.name));
        EXPECT_TRUE(bytes.startsWith(f.firstLine));
        ExpectCrLfLines(bytes);
        const QStringList lines = SplitCrLf(Decode(bytes, f.encoding));
        EXPECT_EQ(lines, ExpectedLines(f.text));
        EXPECT_EQ(lines.size(), f.lines);
    }

    const QByteArray chn = ReadBytes(file("chn.lan"));
    const QByteArray eng = ReadBytes(file("eng.lan"));
    EXPECT_TRUE(chn.contains("\r\n00000115= \xC3\xEB\r\n"));  // " 秒", the blank kept
    EXPECT_TRUE(eng.contains("\r\n00000115= Sec\r\n"));
    EXPECT_TRUE(eng.contains("\r\n00000022=Your photograph has been saved to \r\n"));
    EXPECT_TRUE(chn.contains("\r\n00000045=\xCD\xA3\xD6\xB9\xC2\xBC\xCF\xF1\r\n"));  // 停止录像
    EXPECT_TRUE(eng.endsWith("\r\n00000124=Constratulations: Photo has copied to clipboard.\r\n"));
}

TEST_F(ExportTest, RepeatedExportReplacesFilesWithIdenticalBytes) {
    ASSERT_TRUE(ExportLangFiles(nullptr, dir_.path()));
    QByteArray first[3];
    const char* names[] = {"chn.lan", "cht.lan", "eng.lan"};
    for (int i = 0; i < 3; ++i) {
        first[i] = ReadBytes(file(names[i]));
        // A longer file of the same name must be replaced entirely, not overwritten in part.
        QFile f(file(names[i]));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray(first[i].size() * 2, 'J'));
    }
    ASSERT_TRUE(ExportLangFiles(nullptr, dir_.path()));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadBytes(file(names[i])), first[i]) << names[i];
    }
}

TEST_F(ExportTest, FileThatCannotBeCreatedEndsTheExportThere) {
    // cht.lan is a folder: chn.lan is written, the export stops at cht.lan, eng.lan never comes.
    ASSERT_TRUE(QDir(dir_.path()).mkdir("cht.lan"));
    QString error;
    EXPECT_FALSE(ExportLangFiles(&error, dir_.path()));
    EXPECT_EQ(error, "Cannot create file \"" + file("cht.lan") + "\". Is a directory");
    EXPECT_GT(QFileInfo(file("chn.lan")).size(), 0);
    EXPECT_FALSE(QFile::exists(file("eng.lan")));

    const QString missing = dir_.filePath("missing");
    EXPECT_FALSE(ExportLangFiles(&error, missing));
    EXPECT_EQ(error, "Cannot create file \"" + missing + "/chn.lan\". No such file or directory");
    EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST(EncodeExactly, RefusesWhatTheEncodingCannotHold) {
    const struct {
        QString text;
        const char* encoding;
        std::optional<QByteArray> expected;
    } cases[] = {
        {"拍照", "GBK", QByteArray("\xC5\xC4\xD5\xD5")},
        {"拍照", "BIG5", QByteArray("\xA9\xE7\xB7\xD3")},
        {"简", "BIG5", std::nullopt},  // simplified only
        {"é", "ASCII", std::nullopt},
        {"😀", "GBK", std::nullopt},
        {"x", "NO-SUCH-ENCODING", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding);
        EXPECT_EQ(EncodeExactly(c.text, c.encoding), c.expected);
    }
}

// What else may have a language file's name: a link is replaced, and whatever it points to stays
// untouched; a pipe neither blocks the export nor is written, and ends the export there.
TEST_F(ExportTest, LinkIsReplacedAndPipeIsRefusedWithoutWaiting) {
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("precious.txt");
    WriteBytes(target, "keep me");
    ASSERT_TRUE(QFile::link(target, file("chn.lan")));
    ASSERT_TRUE(QFile::link(elsewhere.filePath("gone"), file("cht.lan")));
    ASSERT_TRUE(ExportLangFiles(nullptr, dir_.path()));
    EXPECT_FALSE(QFileInfo(file("chn.lan")).isSymLink());
    EXPECT_FALSE(QFileInfo(file("cht.lan")).isSymLink());
    EXPECT_TRUE(ReadBytes(file("chn.lan")).startsWith("00000001="));
    EXPECT_EQ(ReadBytes(target), "keep me");
    EXPECT_EQ(EntriesOf(elsewhere.path()), QStringList{"precious.txt"});

    ASSERT_TRUE(QFile::remove(file("cht.lan")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(file("cht.lan")).constData(), 0600), 0);
    QString error;
    EXPECT_FALSE(ExportLangFiles(&error, dir_.path()));
    EXPECT_EQ(error, "Cannot create file \"" + file("cht.lan") + "\". Not a regular file");
    EXPECT_TRUE(QFileInfo(file("cht.lan")).exists());
    EXPECT_FALSE(QFileInfo(file("cht.lan")).isFile()) << "the pipe is left as it was";
    EXPECT_EQ(EntriesOf(dir_.path()), (QStringList{"chn.lan", "cht.lan", "eng.lan"}));
}

}  // namespace
