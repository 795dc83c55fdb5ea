// The options of a photograph handed to the capture component.
#include "capture/CaptureOptions.h"

TRecTitle CaptionTitle(const QString& first, const QString& second, const QString& third) {
    return TRecTitle{first, QString(), second, third, QString()};
}

void ApplyCaptureOptions(const TCaptureOptions& options, TSnapixture& camera) {
    camera.CompressionQuality = options.CompressionQuality;
    camera.PhotoStyle = options.PhotoStyle;
    camera.PhotoSize = options.PhotoSize;
    camera.PhotoSize2 = options.PhotoSize2;
    camera.FileFormat = options.FileFormat;
    camera.FileHeader = options.FileHeader;
    camera.FileNameType = options.FileNameType;
    camera.MaxNo = options.MaxNo;
    camera.UseOutputResolution = options.UseOutputResolution;
    camera.SetOutputResolution(options.OutputResolution);
    camera.Delay = options.Delay;
    camera.DelayTime = options.DelayTime;
    camera.Title = options.Title;
    camera.PrintDate = options.PrintDate;
    camera.PrintTime = options.PrintTime;
    camera.FontColor = options.FontColor;
    camera.SavePath = options.SavePath;
}
