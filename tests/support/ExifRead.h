// EXIF blocks read back by a reader we did not write: the exiv2 program.
#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

// The EXIF tags of a file as exiv2 reads them, key ("Exif.Image.Model") to value, a value
// of several lines joined by "\n". Any complaint of exiv2 (a warning on its error output,
// a failed run) fails the calling test.
inline QMap<QString, QString> ExifTags(const QString& file) {
    QProcess exiv2;
    exiv2.start(QStringLiteral("exiv2"), {QStringLiteral("-Pkv"), file});
    QMap<QString, QString> tags;
    const bool finished = exiv2.waitForFinished(30000);
    EXPECT_TRUE(finished && exiv2.exitStatus() == QProcess::NormalExit && exiv2.exitCode() == 0)
        << "exiv2 on " << file.toStdString() << ": " << exiv2.errorString().toStdString()
        << " (scripts/setup.sh installs it)";
    const QString complaints = QString::fromUtf8(exiv2.readAllStandardError());
    EXPECT_TRUE(complaints.isEmpty()) << complaints.toStdString();
    QString key;
    for (const QString& line : QString::fromUtf8(exiv2.readAllStandardOutput()).split('\n')) {
        if (line.startsWith(QLatin1String("Exif."))) {
            const qsizetype gap = line.indexOf(QLatin1Char(' '));
            key = line.left(gap);
            tags[key] = gap < 0 ? QString() : line.mid(gap).trimmed();
        } else if (!key.isEmpty() && !line.isEmpty()) {
            tags[key] += QLatin1Char('\n') + line;
        }
    }
    return tags;
}
