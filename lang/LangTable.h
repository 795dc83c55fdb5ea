// The loaded message table, lookup of a text by message key, and the language-file export.
#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>

// A new table of the built-in lines (key "=" text), in order; the caller owns it.
std::unique_ptr<QStringList> LoadLangTable();

// The text after the first "=" of the first line whose key equals `key` without regard to letter
// case, blanks kept; empty when no line has the key.
QString LangText(const QStringList& table, const QString& key);

// Writes chn.lan (GBK), cht.lan (Big5) and eng.lan (ASCII) into `folder` (the program folder), in
// that order, each replacing any file or link of that name in one step (a link is replaced, never
// written through). A file that cannot be written, or a name held by a folder, pipe or device,
// ends the export there: returns false and sets *errorMessage (when given) to a text naming the
// full path and the reason; files written before it stay.
bool ExportLangFiles(QString* errorMessage, const QString& folder);

// `text` in the iconv encoding `encoding`, converted exactly: nothing when a character has no
// form there (never a "?" in its place) or the encoding is unknown.
std::optional<QByteArray> EncodeExactly(const QString& text, const char* encoding);
