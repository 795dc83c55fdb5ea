// The command line of snapix-shot as one plain value, its parser, and what it means for
// the capture component's options.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QRgb>
#include <QSize>
#include <QString>
#include <QStringList>

#include "capture/CaptureOptions.h"

enum class TShotAction { Shoot, List, ListIdPhotos, Help, Version };

// A camera picture control set before the first photograph.
struct TShotControl {
    QString Name;           // as the help text spells it: "brightness", "colour", ...
    uint32_t Id = 0;        // the V4L2 control
    bool Inverted = false;  // the device's control means the opposite (colour: colour killer)
    int32_t Value = 0;      // what the user asked for, before any inversion
};

struct TShotOptions {
    TShotAction Action = TShotAction::Shoot;
    QString Device;             // list index or node path; empty: the default camera
    std::optional<QSize> Size;  // empty: the device's own size
    QString Output;             // empty: the photo folder of snapix.ini
    QString Prefix;
    bool Serial = false;
    bool Bmp = false;
    std::optional<int> Quality;     // 1..100
    std::optional<int> MaxKb;       // 1..65535
    std::optional<int> OutputSize;  // index into ShotOutputSizes()
    bool Bw = false;
    QStringList Captions;  // at most kMaxCaptions
    bool Date = false;
    bool Time = false;
    uint32_t DelayMs = 0;
    int Count = 1;
    uint32_t IntervalMs = 1000;
    std::vector<TShotControl> Controls;
    bool VirtualCamera = false;
    // Frames to let go by before the first photograph; empty: wait until the picture's
    // brightness stops changing (the camera's exposure has settled).
    std::optional<int> Skip;
    // Identity photos: the standard's name, the background, the KB range, and picture
    // files to make them from instead of the camera.
    QString IdPhoto;
    std::optional<QRgb> Background;
    int MinKb = 0;
    int MaxKbOfRange = 0;
    bool Kb = false;
    QStringList From;
};

inline constexpr int kMaxCaptions = 3;
inline constexpr int kMaxCount = 1000000;
inline constexpr uint32_t kMaxSecondsMs = 86400 * 1000;  // --delay and --interval: a day
inline constexpr int kDefaultQuality = 80;               // what the window uses
inline constexpr int kMaxSkip = 10000;
// The longest wait for the picture to settle, from the camera's first picture.
inline constexpr int kSettleLimitMs = 1500;

struct TShotParse {
    TShotOptions Options;
    QString Error;  // empty when the command line was understood
    bool Ok() const { return Error.isEmpty(); }
};

// Parses the arguments after the program name, GNU style: --name VALUE, --name=VALUE,
// unambiguous abbreviations of long names, short options (clustered, values attached
// or following), "--" ending the options. --help and --version win as soon as they
// are read.
TShotParse ParseShotOptions(const QStringList& arguments);

// The output sizes a photograph can be scaled to, in the component's index order.
const std::vector<QSize>& ShotOutputSizes();

// The photograph the options describe, stored into savePath (ends with "/"), with the
// serial counter at maxNo. Delay stays off: the caller asks for it per photograph.
TCaptureOptions CaptureOptionsFor(const TShotOptions& options, const QString& savePath,
                                  uint32_t maxNo);

QString ShotHelpText();
QString ShotVersionText();
