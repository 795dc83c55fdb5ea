// snapix-shot's identity photos: the standards list, and storing the identity photo made
// from a camera picture or a picture file through the same steps as the cutting panel.
#pragma once

#include <cstdio>

#include <QImage>
#include <QString>

#include "cli/ShotOptions.h"
#include "photocut/IdPhoto.h"

// The request the options make: the standard, its background and KB range unless the
// options give their own.
TIdPhotoRequest IdPhotoRequestFor(const TShotOptions& options);

// One line per standard: name, alias, sizes and rules.
void PrintIdPhotoStandards(FILE* out);

// Makes the identity photo of `photo` and stores it as folder + baseName + "_" + the
// standard's name + ".jpg" (or "_1", "_2"... before ".jpg" when taken), never replacing a
// file. Says on `err` what the user should know (several faces, enlargement, a background
// left as it was, size and quality) or why nothing was stored, each line starting with
// `source`. Returns the stored file's path, or empty.
QString StoreIdPhoto(const QImage& photo, const TIdPhotoRequest& request, const QString& folder,
                     const QString& baseName, const QString& source, FILE* err);
