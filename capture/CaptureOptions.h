// The options of a photograph as one plain value, and the one place that hands them
// to the capture component: the window's settings and the command-line tool both
// describe a photograph this way.
#pragma once

#include <cstdint>

#include <QString>

#include "capture/Snapixture.h"

struct TCaptureOptions {
    uint8_t CompressionQuality = 80;  // JPEG quality 0..100 (0 acts as 1)
    uint8_t PhotoStyle = 0;           // 1: black and white
    uint8_t PhotoSize = 0;            // 1: a size limit decides output size and quality
    uint16_t PhotoSize2 = 0;          // the size limit in kilobytes
    uint8_t FileFormat = 0;           // 0 JPEG, 1 BMP
    QString FileHeader;               // file-name prefix
    uint8_t FileNameType = 0;         // 0 date-time, 1 serial number, 2 prefix only
    uint32_t MaxNo = 0;               // last serial number used
    bool UseOutputResolution = false;
    int32_t OutputResolution = 0;  // 0..5: 1600*1200 .. 3876*2584
    bool Delay = false;
    uint32_t DelayTime = 5000;  // milliseconds
    TRecTitle Title;            // caption lines; empty lines draw nothing
    bool PrintDate = false;
    bool PrintTime = false;
    uint32_t FontColor = 0;  // 0x00BBGGRR
    QString SavePath;        // photo folder, ends with "/"
};

// The three caption lines of the settings panel and of snapix-shot, where the photograph
// draws them one below the other: Line1, Line3, Line4. A 160-pixel-wide picture draws only
// Line2, which stays empty: it shows no caption lines, as the panel's hint says, only the
// date and time.
TRecTitle CaptionTitle(const QString& first, const QString& second, const QString& third);

// Copies every option into the component, the output size through its setter.
void ApplyCaptureOptions(const TCaptureOptions& options, TSnapixture& camera);
