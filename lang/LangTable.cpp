// The loaded message table, lookup of a text by message key, and the language-file export.
#include "lang/LangTable.h"

#include <iconv.h>

#include <iterator>

#include <QDir>
#include <QFile>

#include "lang/MessageTable.h"
#include "photo/SafeWrite.h"

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

struct LangFile {
    const char* name;
    const char* encoding;  // iconv name
    // The text of an entry in this file; an entry whose text is nullptr has no line here.
    const char* MessageEntry::*text;
};

// In the order of writing.
const LangFile kLangFiles[] = {
    {"chn.lan", "GBK", &MessageEntry::simplified},
    {"cht.lan", "BIG5", &MessageEntry::traditional},
    {"eng.lan", "ASCII", &MessageEntry::english},
};

class Iconv {
  public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid()) {
            iconv_close(cd_);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

// Replaces the file in one step (a link in its place is replaced, not followed; a pipe or folder
// is refused); on failure returns the message for the user.
bool WriteFile(const QString& path, const QByteArray& bytes, QString* errorMessage) {
    const std::optional<TWriteFailure> failure = ReplaceFileContents(path, bytes);
    if (!failure) {
        return true;
    }
    const QString what = failure->Stage == TWriteStage::Create
                             ? QStringLiteral("Cannot create file \"%1\". %2")
                             : QStringLiteral("Cannot write file \"%1\". %2");
    *errorMessage = what.arg(path, failure->Reason);
    return false;
}

// The bytes of one language file, every line key "=" text CR LF; nothing, with *errorMessage
// set, when a text has no exact form in the file's encoding.
std::optional<QByteArray> LangFileBytes(const LangFile& file, QString* errorMessage) {
    QByteArray bytes;
    for (const MessageEntry& entry : MessageEntries()) {
        const char* text = entry.*file.text;
        if (!text) {
            continue;
        }
        const QString line =
            QLatin1String(entry.key) + QLatin1Char('=') + QString::fromUtf8(text) + kLineEnd;
        const std::optional<QByteArray> encoded = EncodeExactly(line, file.encoding);
        if (!encoded) {
            *errorMessage = QStringLiteral("The text of message %1 cannot be written in %2 to %3.")
                                .arg(QLatin1String(entry.key), QLatin1String(file.encoding),
                                     QLatin1String(file.name));
            return std::nullopt;
        }
        bytes += *encoded;
    }
    return bytes;
}

}  // namespace

std::unique_ptr<QStringList> LoadLangTable() {
    auto table = std::make_unique<QStringList>();
    QFile resource(QStringLiteral(":/resources/mylang.txt"));
    if (!resource.open(QIODevice::ReadOnly)) {
        return table;  // every lookup then yields an empty text, as for a missing key
    }
    QString text = QString::fromUtf8(resource.readAll());
    // The last line ends with CR LF as well; that end does not start another line.
    if (text.endsWith(kLineEnd)) {
        text.chop(kLineEnd.size());
    }
    if (!text.isEmpty()) {
        *table = text.split(kLineEnd);
    }
    return table;
}

QString LangText(const QStringList& table, const QString& key) {
    for (const QString& line : table) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && QStringView(line).left(eq).compare(key, Qt::CaseInsensitive) == 0) {
            return line.mid(eq + 1);
        }
    }
    return QString();
}

std::optional<QByteArray> EncodeExactly(const QString& text, const char* encoding) {
    // Without //TRANSLIT or //IGNORE, iconv stops with EILSEQ at a character the target cannot
    // hold, so no character is ever replaced by "?".
    const Iconv cd(encoding, "UTF-8");
    if (!cd.valid()) {
        return std::nullopt;
    }
    QByteArray utf8 = text.toUtf8();
    QByteArray out(utf8.size() * 4 + 16, Qt::Uninitialized);
    char* in = utf8.data();
    size_t inLeft = utf8.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    if (iconv(cd.get(), &in, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1) ||
        iconv(cd.get(), nullptr, nullptr, &dst, &outLeft) == static_cast<size_t>(-1)) {
        return std::nullopt;
    }
    out.resize(dst - out.data());
    return out;
}

bool ExportLangFiles(QString* errorMessage, const QString& folder) {
    QString ignored;
    QString& message = errorMessage ? *errorMessage : ignored;
    const QDir dir(folder);

    // Every file is converted before any is written, so a text that cannot be converted leaves
    // all three files as they were.
    std::optional<QByteArray> contents[std::size(kLangFiles)];
    for (size_t i = 0; i < std::size(kLangFiles); ++i) {
        contents[i] = LangFileBytes(kLangFiles[i], &message);
        if (!contents[i]) {
            return false;
        }
    }
    for (size_t i = 0; i < std::size(kLangFiles); ++i) {
        const QString path = dir.absoluteFilePath(QString::fromLatin1(kLangFiles[i].name));
        if (!WriteFile(path, *contents[i], &message)) {
            return false;
        }
    }
    return true;
}
