// Reading and writing single values of an INI settings file, one call opening the file each time.
#pragma once

#include <optional>
#include <stdexcept>

#include <QString>

// Raised by WriteIniValue when the value could not be stored; the file is then left as it was.
class EIniWriteError : public std::runtime_error {
  public:
    explicit EIniWriteError(const QString& fileName);
    // "Unable to write to <full file name>", the same text as what() (which is UTF-8).
    QString message() const;
};

// The value of Key in Section of FileName, or Default when the file, the section or the key is
// missing or the file cannot be read (also when it is no plain file or is over 1 MB). Never
// blocks, never creates the file. At most 2047 characters are returned.
QString ReadIniValue(const QString& FileName, const QString& Section, const QString& Key,
                     const QString& Default);

// As ReadIniValue, but empty when the file exists and cannot be read, so a caller can tell a
// missing value (Default) from an unreadable one.
std::optional<QString> TryReadIniValue(const QString& FileName, const QString& Section,
                                       const QString& Key, const QString& Default);

// Stores Value under Section and Key, creating the file, section or key as needed and keeping every
// other line as it was. The file is replaced in one step (temporary file, then rename), so it is
// never left half-written, and a link in its place is replaced rather than written through. A
// file that cannot be read is not rewritten. Returns true; throws EIniWriteError on any failure.
bool WriteIniValue(const QString& FileName, const QString& Section, const QString& Key,
                   const QString& Value);

// Writes a copy of the settings file From as To, replacing To in one step. False when From cannot
// be read as ReadIniValue reads it (no plain file, over 1 MB) or To cannot be written.
bool CopyIniFile(const QString& From, const QString& To);
