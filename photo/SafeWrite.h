// Replacing a small file whole (settings, language files), so that it is never
// seen half-written and a link in its place is never written through.
#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

// Where a replacement failed: before any byte was written (the name cannot be
// taken: a missing folder, a folder or pipe of that name, no permission), or
// while writing (a full disk).
enum class TWriteStage { Create, Write };

struct TWriteFailure {
    TWriteStage Stage;
    QString Reason;  // the system's error text, or why the name cannot be taken
};

// Makes `path` a plain file holding exactly `bytes`. The bytes go to an unnamed
// (or, where the file system has none, a hidden) temporary file in the same
// folder, reach the disk, and then take the name in one rename. A link at
// `path` is replaced by the file, never followed, so nothing outside the folder
// is written; a folder, pipe, device or socket at `path` is refused and left
// alone, and so is a file this process may not write. An existing file keeps
// its permission bits. On failure `path` is as it was and no temporary file
// remains.
std::optional<TWriteFailure> ReplaceFileContents(const QString& path, const QByteArray& bytes);
