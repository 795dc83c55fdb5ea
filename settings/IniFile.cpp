// Reading and writing single values of an INI settings file, one call opening the file each time.
//
// The rules are those of the classic private-profile functions:
//  - a section line is "[name]"; a value line is "key=value"; a line whose first non-blank
//    character is ";" is a comment; any other line is ignored by the reader and kept by the writer;
//  - section and key names match without regard to letter case;
//  - blanks around names and values are dropped, and a value in matching double or single quotes
//    is returned without them;
//  - the first matching section wins (later sections of the same name are not searched), and
//    within it the first matching key wins;
//  - a value is cut to 2047 characters.
// Lines may end in CR LF or LF, the last line may lack its newline, and a UTF-8 byte-order mark at
// the start is skipped; the writer keeps all of these as found. The file is UTF-8 text; bytes that
// are not valid UTF-8 do not stop the reader and are written back untouched.
#include "settings/IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <vector>

namespace {

constexpr qsizetype kMaxValueLength = 2047;
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
        const qsizetype lf = bytes.indexOf('\n', pos);
        RawLine line;
        if (lf < 0) {
            line.text = bytes.mid(pos);
            pos = bytes.size();
        } else {
            line.text = bytes.mid(pos, lf - pos);
            line.end = "\n";
            pos = lf + 1;
        }
        if (line.text.endsWith('\r') && !line.end.isEmpty()) {
            line.text.chop(1);
            line.end = "\r\n";
        }
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

QString Unquote(const QString& text) {
    if (text.size() >= 2 && text.front() == text.back() &&
        (text.front() == QLatin1Char('"') || text.front() == QLatin1Char('\''))) {
        return text.mid(1, text.size() - 2);
    }
    return text;
}

ParsedLine Parse(const QByteArray& raw) {
    ParsedLine parsed;
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.startsWith(QLatin1Char(';'))) {
        parsed.kind = LineKind::Comment;
    } else if (line.startsWith(QLatin1Char('['))) {
        const qsizetype close = line.lastIndexOf(QLatin1Char(']'));
        if (close > 0) {
            parsed.kind = LineKind::Section;
            parsed.name = line.mid(1, close - 1).trimmed();
        }
    } else if (const qsizetype eq = line.indexOf(QLatin1Char('=')); eq >= 0) {
        parsed.kind = LineKind::Value;
        parsed.name = line.left(eq).trimmed();
        parsed.value = Unquote(line.mid(eq + 1).trimmed());
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

// The file's bytes; empty for a missing file, nullopt when it exists and cannot be read.
std::optional<QByteArray> ReadFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.exists()) {
        return QByteArray();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
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
        if (count > 0 && !ini.lines.back().text.trimmed().isEmpty()) {
            Insert(ini, count++, QByteArray(), end);  // a blank line before the new section
        }
        Insert(ini, count, (QLatin1Char('[') + Section.trimmed() + QLatin1Char(']')).toUtf8(), end);
        Insert(ini, count + 1, (Key.trimmed() + QLatin1Char('=') + encoded).toUtf8(), end);
    }

    // QSaveFile writes a temporary file beside the target and renames it over the target on
    // commit; a QSaveFile destroyed without commit removes its temporary file, so the old file
    // stays untouched on any failure. Unbuffered, because a buffered QSaveFile flushes only at
    // commit and does not notice when that flush falls short (a full disk): it would rename a
    // truncated file over the good one.
    QSaveFile file(FileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        throw EIniWriteError(FileName);
    }
    const QByteArray bytes = Join(ini);
    if (file.write(bytes) != bytes.size() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        throw EIniWriteError(FileName);
    }
    if (!file.commit()) {
        throw EIniWriteError(FileName);
    }
    return true;
}
