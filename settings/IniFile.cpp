// Reading and writing single values of an INI settings file, one call opening the file each time.
//
// The rules are those of the classic private-profile functions:
//  - a section line is "[name]"; a value line is "key=value"; a line whose first non-blank
//    character is ";" is a comment; any other line is ignored by the reader and kept by the writer;
//  - section and key names match without regard to letter case;
//  - blanks around names and values are dropped (Ctrl-Z, the old end-of-file mark that editors
//    on Windows leave at the end, counts as a blank), and a value in matching double or single
//    quotes is returned without them;
//  - the first matching section wins (later sections of the same name are not searched), and
//    within it the first matching key wins;
//  - a value is cut to 2047 characters.
// Lines may end in CR LF, LF or a lone CR, the last line may lack its line end, and a UTF-8
// byte-order mark at the start is skipped; the writer keeps all of these as found. Lines are
// UTF-8; a line that is not valid UTF-8 is read as GBK, the code page in which Windows writes
// this program's settings for its users. The writer changes only its own line and writes it in
// UTF-8; every other byte is written back untouched.
//
// The file is read only when it is a plain file of at most 1 MB, opened without blocking: a pipe
// or a device (a link to /dev/zero) in its place is unreadable, as is a file of any other kind.
#include "settings/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include "photo/SafeWrite.h"

namespace {

constexpr qsizetype kMaxValueLength = 2047;
constexpr qint64 kMaxFileSize = 1024 * 1024;
constexpr char kCtrlZ = 0x1A;
const QByteArray kUtf8Bom("\xEF\xBB\xBF");

struct RawLine {
    QByteArray text;  // without its line end
    QByteArray end;   // "\r\n", "\n", or empty for a last line without newline
};

struct IniText {
    QByteArray bom;
    std::vector<RawLine> lines;
};

IniText Split(const QByteArray& bytes) {
    IniText ini;
    qsizetype pos = 0;
    if (bytes.startsWith(kUtf8Bom)) {
        ini.bom = kUtf8Bom;
        pos = kUtf8Bom.size();
    }
    while (pos < bytes.size()) {
        qsizetype end = pos;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') {
            ++end;
        }
        RawLine line;
        line.text = bytes.mid(pos, end - pos);
        if (end < bytes.size()) {
            const bool crLf =
                bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n';
            line.end = crLf ? "\r\n" : bytes.mid(end, 1);
        }
        pos = end + line.end.size();
        ini.lines.push_back(std::move(line));
    }
    return ini;
}

QByteArray Join(const IniText& ini) {
    QByteArray out = ini.bom;
    for (const RawLine& line : ini.lines) {
        out += line.text;
        out += line.end;
    }
    return out;
}

enum class LineKind { Other, Comment, Section, Value };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    QString name;   // section or key name, blanks dropped
    QString value;  // for a value line: blanks dropped, unquoted
};

bool IsBlank(QChar c) {
    return c.isSpace() || c == QLatin1Char(kCtrlZ);
}

QString Trim(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.mid(begin, end - begin);
}

bool IsBlankLine(const QByteArray& raw) {
    for (const char c : raw) {
        if (c != ' ' && c != '\t' && c != kCtrlZ) {
            return false;
        }
    }
    return true;
}

QString DecodeLine(const QByteArray& raw) {
    if (QByteArrayView(raw).isValidUtf8()) {
        return QString::fromUtf8(raw);
    }
    QStringDecoder gbk("GBK");
    return gbk.isValid() ? gbk.decode(raw) : QString::fromUtf8(raw);
}

QString Unquote(const QString& text) {
    if (text.size() >= 2 && text.front() == text.back() &&
        (text.front() == QLatin1Char('"') || text.front() == QLatin1Char('\''))) {
        return text.mid(1, text.size() - 2);
    }
    return text;
}

ParsedLine Parse(const QByteArray& raw) {
    ParsedLine parsed;
    const QString line = Trim(DecodeLine(raw));
    if (line.startsWith(QLatin1Char(';'))) {
        parsed.kind = LineKind::Comment;
    } else if (line.startsWith(QLatin1Char('['))) {
        const qsizetype close = line.lastIndexOf(QLatin1Char(']'));
        if (close > 0) {
            parsed.kind = LineKind::Section;
            parsed.name = Trim(line.mid(1, close - 1));
        }
    } else if (const qsizetype eq = line.indexOf(QLatin1Char('=')); eq >= 0) {
        parsed.kind = LineKind::Value;
        parsed.name = Trim(line.left(eq));
        parsed.value = Unquote(Trim(line.mid(eq + 1)));
    }
    return parsed;
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where a section and a key stand in a file; -1 where absent.
struct Location {
    qsizetype section = -1;    // header line of the first matching section
    qsizetype lastValue = -1;  // last value line of that section
    qsizetype key = -1;        // first line of the key in that section
    QString keyName;           // the key as spelled in the file
    QString value;
};

Location Find(const IniText& ini, const QString& section, const QString& key) {
    Location at;
    const QString wantedSection = section.trimmed();
    const QString wantedKey = key.trimmed();
    for (qsizetype i = 0; i < qsizetype(ini.lines.size()); ++i) {
        const ParsedLine parsed = Parse(ini.lines[i].text);
        if (parsed.kind == LineKind::Section) {
            if (at.section >= 0) {
                break;  // the first matching section has ended
            }
            if (SameName(parsed.name, wantedSection)) {
                at.section = i;
            }
        } else if (parsed.kind == LineKind::Value && at.section >= 0) {
            at.lastValue = i;
            if (at.key < 0 && SameName(parsed.name, wantedKey)) {
                at.key = i;
                at.keyName = parsed.name;
                at.value = parsed.value;
            }
        }
    }
    return at;
}

QString CapLength(QString value) {
    if (value.size() > kMaxValueLength) {
        qsizetype length = kMaxValueLength;
        if (value.at(length - 1).isHighSurrogate()) {
            --length;  // never split a character in two
        }
        value.truncate(length);
    }
    return value;
}

// The text to put after "=" so that the reader returns exactly `value`: a value that the reader
// would alter (surrounding blanks, or surrounding matching quotes) is wrapped in double quotes.
QString EncodeValue(const QString& value) {
    return Unquote(value.trimmed()) == value ? value : QLatin1Char('"') + value + QLatin1Char('"');
}

bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) ||
           text.contains(QChar(0));
}

// A name or value that would read back as something else (or split the line) is refused rather
// than stored in a form that corrupts the file.
bool CanStore(const QString& section, const QString& key, const QString& value) {
    const QString s = section.trimmed();
    const QString k = key.trimmed();
    return !s.isEmpty() && !k.isEmpty() && !HasLineBreak(section) && !HasLineBreak(key) &&
           !HasLineBreak(value) && !s.contains(QLatin1Char(']')) && !k.contains(QLatin1Char('=')) &&
           !k.startsWith(QLatin1Char(';')) && !k.startsWith(QLatin1Char('['));
}

QByteArray LineEndOf(const IniText& ini) {
    for (const RawLine& line : ini.lines) {
        if (!line.end.isEmpty()) {
            return line.end;
        }
    }
    return "\n";
}

void Insert(IniText& ini, qsizetype at, QByteArray text, const QByteArray& end) {
    if (at > 0 && ini.lines[at - 1].end.isEmpty()) {
        ini.lines[at - 1].end = end;  // the old last line had no newline
    }
    ini.lines.insert(ini.lines.begin() + at, RawLine{std::move(text), end});
}

// The file's bytes; empty for a missing file, nullopt when it exists and cannot be read. Opened
// without blocking, so a pipe in the file's place cannot hold the program up, and read only when
// it is a plain file within the size cap, so a device cannot fill the memory.
std::optional<QByteArray> ReadFile(const QString& fileName) {
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return QByteArray();  // missing (a dangling link too)
        }
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
        ::close(fd);
        return std::nullopt;
    }
    // The size may change while the file is read; the cap holds whatever it reads. One byte more
    // than the size tells whether the end has been reached.
    QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype total = 0;
    for (;;) {
        if (total == bytes.size()) {
            if (total > kMaxFileSize) {
                break;
            }
            bytes.resize(qMin(total * 2, kMaxFileSize + 1));
        }
        const ssize_t n = ::read(fd, bytes.data() + total, size_t(bytes.size() - total));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            total = -1;
        }
        if (n <= 0) {
            break;
        }
        total += n;
    }
    ::close(fd);
    if (total < 0 || total > kMaxFileSize) {
        return std::nullopt;
    }
    bytes.truncate(total);
    return bytes;
}

}  // namespace

EIniWriteError::EIniWriteError(const QString& fileName)
    : std::runtime_error(
          (QStringLiteral("Unable to write to ") + QFileInfo(fileName).absoluteFilePath())
              .toStdString()) {}

QString EIniWriteError::message() const {
    return QString::fromUtf8(what());
}

std::optional<QString> TryReadIniValue(const QString& FileName, const QString& Section,
                                       const QString& Key, const QString& Default) {
    const std::optional<QByteArray> bytes = ReadFile(FileName);
    if (!bytes) {
        return std::nullopt;
    }
    const Location at = Find(Split(*bytes), Section, Key);
    return CapLength(at.key >= 0 ? at.value : Default);
}

QString ReadIniValue(const QString& FileName, const QString& Section, const QString& Key,
                     const QString& Default) {
    return TryReadIniValue(FileName, Section, Key, Default).value_or(CapLength(Default));
}

bool WriteIniValue(const QString& FileName, const QString& Section, const QString& Key,
                   const QString& Value) {
    if (!CanStore(Section, Key, Value)) {
        throw EIniWriteError(FileName);
    }
    // A file that exists but cannot be read is not rewritten: its other lines would be lost.
    const std::optional<QByteArray> old = ReadFile(FileName);
    if (!old) {
        throw EIniWriteError(FileName);
    }

    IniText ini = Split(*old);
    const QByteArray end = LineEndOf(ini);
    const Location at = Find(ini, Section, Key);
    const QString encoded = EncodeValue(Value);
    if (at.key >= 0) {
        ini.lines[at.key].text = (at.keyName + QLatin1Char('=') + encoded).toUtf8();
    } else if (at.section >= 0) {
        const qsizetype after = at.lastValue >= 0 ? at.lastValue : at.section;
        Insert(ini, after + 1, (Key.trimmed() + QLatin1Char('=') + encoded).toUtf8(), end);
    } else {
        qsizetype count = ini.lines.size();
        if (count > 0 && !IsBlankLine(ini.lines.back().text)) {
            Insert(ini, count++, QByteArray(), end);  // a blank line before the new section
        }
        Insert(ini, count, (QLatin1Char('[') + Section.trimmed() + QLatin1Char(']')).toUtf8(), end);
        Insert(ini, count + 1, (Key.trimmed() + QLatin1Char('=') + encoded).toUtf8(), end);
    }

    // Replaced in one step, so the old file stays whole on any failure (a full disk), and a link
    // in its place is replaced rather than written through.
    if (ReplaceFileContents(FileName, Join(ini))) {
        throw EIniWriteError(FileName);
    }
    return true;
}

bool CopyIniFile(const QString& From, const QString& To) {
    const std::optional<QByteArray> bytes = ReadFile(From);
    return bytes && !ReplaceFileContents(To, *bytes);
}
