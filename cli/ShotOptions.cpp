// The command line of snapix-shot: parsing and the photograph it describes.
#include "cli/ShotOptions.h"

#include <cmath>

#include <linux/videodev2.h>

#include <QRegularExpression>

#include "photo/SizeRule.h"
#include "photocut/IdBackground.h"
#include "photocut/IdPhotoStandard.h"

namespace {

enum class TOpt {
    Help,
    Version,
    List,
    Device,
    Size,
    Output,
    Prefix,
    Serial,
    Bmp,
    Quality,
    MaxKb,
    OutputSize,
    Bw,
    Caption,
    Date,
    Time,
    Delay,
    Count,
    Interval,
    Control,
    VirtualCamera,
    Skip,
    IdPhoto,
    ListIdPhotos,
    Background,
    Kb,
    From,
};

struct TOptionSpec {
    const char* Long;
    char Short;  // 0: none
    bool TakesValue;
    TOpt Id;
};

constexpr TOptionSpec kOptions[] = {
    {"help", 'h', false, TOpt::Help},
    {"version", 'V', false, TOpt::Version},
    {"list", 'l', false, TOpt::List},
    {"device", 'd', true, TOpt::Device},
    {"size", 0, true, TOpt::Size},
    {"output", 'o', true, TOpt::Output},
    {"prefix", 0, true, TOpt::Prefix},
    {"serial", 0, false, TOpt::Serial},
    {"bmp", 0, false, TOpt::Bmp},
    {"quality", 0, true, TOpt::Quality},
    {"max-kb", 0, true, TOpt::MaxKb},
    {"output-size", 0, true, TOpt::OutputSize},
    {"bw", 0, false, TOpt::Bw},
    {"caption", 0, true, TOpt::Caption},
    {"date", 0, false, TOpt::Date},
    {"time", 0, false, TOpt::Time},
    {"delay", 0, true, TOpt::Delay},
    {"count", 'n', true, TOpt::Count},
    {"interval", 0, true, TOpt::Interval},
    {"control", 0, true, TOpt::Control},
    {"virtual-camera", 0, false, TOpt::VirtualCamera},
    {"skip", 0, true, TOpt::Skip},
    {"id-photo", 0, true, TOpt::IdPhoto},
    {"list-id-photos", 0, false, TOpt::ListIdPhotos},
    {"background", 0, true, TOpt::Background},
    {"kb", 0, true, TOpt::Kb},
    {"from", 0, true, TOpt::From},
};

struct TControlSpec {
    const char* Name;
    uint32_t Id;
    bool Inverted;
};

// The picture controls by the names users know them; colour on/off is the device's
// colour killer the other way round.
constexpr TControlSpec kControls[] = {
    {"brightness", V4L2_CID_BRIGHTNESS, false},
    {"contrast", V4L2_CID_CONTRAST, false},
    {"hue", V4L2_CID_HUE, false},
    {"saturation", V4L2_CID_SATURATION, false},
    {"colour", V4L2_CID_COLOR_KILLER, true},
    {"color", V4L2_CID_COLOR_KILLER, true},
    {"sharpness", V4L2_CID_SHARPNESS, false},
    {"gamma", V4L2_CID_GAMMA, false},
    {"gain", V4L2_CID_GAIN, false},
    {"white-balance", V4L2_CID_WHITE_BALANCE_TEMPERATURE, false},
    {"backlight-compensation", V4L2_CID_BACKLIGHT_COMPENSATION, false},
};

// Why `prefix` cannot start a file name, or empty. The name is what scripts read back
// from standard output, one per line, so it holds no line break or other control
// character; "." and ".." alone would name folders; and bytes that are not UTF-8 would
// come back as U+FFFD, naming a file the user never asked for.
QString PrefixFault(const QString& prefix) {
    if (prefix.contains(QLatin1Char('/'))) {
        return QStringLiteral(
            "--prefix is the start of a file name and cannot hold '/' "
            "(use --output for the folder)");
    }
    if (prefix == QLatin1String(".") || prefix == QLatin1String("..")) {
        return QStringLiteral("--prefix cannot be %1 alone: that names a folder, not a file")
            .arg(prefix);
    }
    for (const QChar c : prefix) {
        if (c.category() == QChar::Other_Control) {
            return QStringLiteral(
                       "--prefix cannot hold a line break or other control character "
                       "(U+%1): every file name is a line of the output")
                .arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
        if (c == QChar::ReplacementCharacter) {
            return QStringLiteral("--prefix is not valid UTF-8 text");
        }
    }
    return {};
}

QString Quoted(const QString& text) {
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

QString ControlNames() {
    QStringList names;
    uint32_t previous = 0;
    for (const TControlSpec& c : kControls) {
        if (c.Id != previous) {  // an alias follows the name it stands for
            names << QString::fromLatin1(c.Name);
        }
        previous = c.Id;
    }
    return names.join(QStringLiteral(", "));
}

QString SizeText(const QSize& size) {
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QString OutputSizeNames() {
    QStringList names;
    for (const QSize& size : ShotOutputSizes()) {
        names << SizeText(size);
    }
    return names.join(QStringLiteral(", "));
}

// A whole number in minimum..maximum, written as plain decimal digits (a sign only
// where negative values make sense).
QString ParseWhole(const QString& option, const QString& text, qint64 minimum, qint64 maximum,
                   qint64& value) {
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
    const QString range = QStringLiteral("%1 must be a whole number from %2 to %3")
                              .arg(option)
                              .arg(minimum)
                              .arg(maximum);
    if (!digits.match(text).hasMatch()) {
        return range + QStringLiteral(", not ") + Quoted(text);
    }
    bool ok = false;
    value = text.toLongLong(&ok);
    if (!ok || value < minimum || value > maximum) {
        return range + QStringLiteral(" (got ") + text + QLatin1Char(')');
    }
    return {};
}

// Seconds as decimal text ("5", "0.5", "2.25") into whole milliseconds.
QString ParseSeconds(const QString& option, const QString& text, uint32_t maximumMs, uint32_t& ms) {
    static const QRegularExpression seconds(QStringLiteral("^([0-9]+(\\.[0-9]*)?|\\.[0-9]+)$"));
    const QString range =
        QStringLiteral("%1 takes seconds from 0 to %2").arg(option).arg(maximumMs / 1000);
    if (!seconds.match(text).hasMatch()) {
        return range + QStringLiteral(" (like 5 or 0.5), not ") + Quoted(text);
    }
    const double value = text.toDouble() * 1000.0;
    if (!std::isfinite(value) || value > maximumMs) {
        return range + QStringLiteral(" (got ") + text + QLatin1Char(')');
    }
    ms = static_cast<uint32_t>(std::llround(value));
    return {};
}

// "WxH" with both sides in 1..65535.
std::optional<QSize> ParseSize(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,5})[xX]([0-9]{1,5})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    if (width < 1 || height < 1 || width > 65535 || height > 65535) {
        return std::nullopt;
    }
    return QSize(width, height);
}

QString ParseControl(const QString& text, TShotControl& control) {
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    if (equals <= 0) {
        return QStringLiteral("--control takes NAME=VALUE, not %1 (names: %2)")
            .arg(Quoted(text), ControlNames());
    }
    const QString name = text.left(equals).toLower();
    const QString value = text.mid(equals + 1);
    const TControlSpec* spec = nullptr;
    for (const TControlSpec& c : kControls) {
        if (name == QLatin1String(c.Name)) {
            spec = &c;
        }
    }
    if (!spec) {
        return QStringLiteral("unknown camera control %1 (known: %2)")
            .arg(Quoted(text.left(equals)), ControlNames());
    }
    control.Name = QString::fromLatin1(spec->Name);
    control.Id = spec->Id;
    control.Inverted = spec->Inverted;
    if (spec->Inverted) {
        const QString v = value.toLower();
        if (v == QLatin1String("on") || v == QLatin1String("1")) {
            control.Value = 1;
        } else if (v == QLatin1String("off") || v == QLatin1String("0")) {
            control.Value = 0;
        } else {
            return QStringLiteral("--control %1 takes on or off, not %2")
                .arg(control.Name, Quoted(value));
        }
        return {};
    }
    qint64 number = 0;
    const QString error = ParseWhole(QStringLiteral("--control ") + control.Name, value, INT32_MIN,
                                     INT32_MAX, number);
    control.Value = static_cast<int32_t>(number);
    return error;
}

// The long option a name stands for: itself, or the one option it abbreviates.
const TOptionSpec* FindLong(const QString& name, QString& error) {
    std::vector<const TOptionSpec*> candidates;
    for (const TOptionSpec& spec : kOptions) {
        const QString full = QString::fromLatin1(spec.Long);
        if (full == name) {
            return &spec;
        }
        if (!name.isEmpty() && full.startsWith(name)) {
            candidates.push_back(&spec);
        }
    }
    if (candidates.size() == 1) {
        return candidates.front();
    }
    if (candidates.empty()) {
        error = QStringLiteral("unrecognized option '--%1'").arg(name);
    } else {
        QStringList names;
        for (const TOptionSpec* spec : candidates) {
            names << QStringLiteral("'--%1'").arg(QString::fromLatin1(spec->Long));
        }
        error = QStringLiteral("option '--%1' is ambiguous; possibilities: %2")
                    .arg(name, names.join(QLatin1Char(' ')));
    }
    return nullptr;
}

const TOptionSpec* FindShort(QChar letter) {
    for (const TOptionSpec& spec : kOptions) {
        if (spec.Short != 0 && letter == QLatin1Char(spec.Short)) {
            return &spec;
        }
    }
    return nullptr;
}

// Applies one option to the options; returns the error, or an empty text.
QString Apply(TOpt id, const QString& value, TShotOptions& o) {
    qint64 number = 0;
    QString error;
    switch (id) {
        case TOpt::Help:
            o.Action = TShotAction::Help;
            return {};
        case TOpt::Version:
            o.Action = TShotAction::Version;
            return {};
        case TOpt::List:
            o.Action = TShotAction::List;
            return {};
        case TOpt::Device:
            if (value.isEmpty()) {
                return QStringLiteral("--device needs a camera number or a device path");
            }
            o.Device = value;
            return {};
        case TOpt::Size:
            if (value == QLatin1String("default")) {
                o.Size.reset();
                return {};
            }
            o.Size = ParseSize(value);
            if (!o.Size) {
                return QStringLiteral("--size takes WIDTHxHEIGHT (like 640x480) or default, not %1")
                    .arg(Quoted(value));
            }
            return {};
        case TOpt::Output:
            if (value.isEmpty()) {
                return QStringLiteral("--output needs a folder");
            }
            o.Output = value;
            return {};
        case TOpt::Prefix:
            if (const QString why = PrefixFault(value); !why.isEmpty()) {
                return why;
            }
            o.Prefix = value;
            return {};
        case TOpt::Serial:
            o.Serial = true;
            return {};
        case TOpt::Bmp:
            o.Bmp = true;
            return {};
        case TOpt::Quality:
            error = ParseWhole(QStringLiteral("--quality"), value, 1, 100, number);
            o.Quality = static_cast<int>(number);
            return error;
        case TOpt::MaxKb:
            error = ParseWhole(QStringLiteral("--max-kb"), value, 1, 65535, number);
            o.MaxKb = static_cast<int>(number);
            return error;
        case TOpt::OutputSize: {
            const std::optional<QSize> size = ParseSize(value);
            const auto& sizes = ShotOutputSizes();
            for (size_t i = 0; size && i < sizes.size(); ++i) {
                if (sizes[i] == *size) {
                    o.OutputSize = static_cast<int>(i);
                    return {};
                }
            }
            return QStringLiteral("--output-size takes one of %1, not %2")
                .arg(OutputSizeNames(), Quoted(value));
        }
        case TOpt::Bw:
            o.Bw = true;
            return {};
        case TOpt::Caption:
            if (o.Captions.size() >= kMaxCaptions) {
                return QStringLiteral("at most %1 --caption lines fit on a photograph")
                    .arg(kMaxCaptions);
            }
            o.Captions << value;
            return {};
        case TOpt::Date:
            o.Date = true;
            return {};
        case TOpt::Time:
            o.Time = true;
            return {};
        case TOpt::Delay:
            return ParseSeconds(QStringLiteral("--delay"), value, kMaxSecondsMs, o.DelayMs);
        case TOpt::Count:
            error = ParseWhole(QStringLiteral("--count"), value, 1, kMaxCount, number);
            o.Count = static_cast<int>(number);
            return error;
        case TOpt::Interval:
            return ParseSeconds(QStringLiteral("--interval"), value, kMaxSecondsMs, o.IntervalMs);
        case TOpt::Control: {
            TShotControl control;
            error = ParseControl(value, control);
            if (error.isEmpty()) {
                o.Controls.push_back(control);
            }
            return error;
        }
        case TOpt::VirtualCamera:
            o.VirtualCamera = true;
            return {};
        case TOpt::Skip:
            error = ParseWhole(QStringLiteral("--skip"), value, 0, kMaxSkip, number);
            o.Skip = static_cast<int>(number);
            return error;
        case TOpt::IdPhoto:
            if (!IdPhotoStandards::Find(value, &error)) {
                return QStringLiteral("--id-photo: ") + error;
            }
            o.IdPhoto = value;
            return {};
        case TOpt::ListIdPhotos:
            o.Action = TShotAction::ListIdPhotos;
            return {};
        case TOpt::Background: {
            static const QRegularExpression hex(QStringLiteral("^#?[0-9A-Fa-f]{6}$"));
            const QString v = value.toLower();
            if (v == QLatin1String("white")) {
                o.Background = IdBackground::kWhite;
            } else if (v == QLatin1String("blue")) {
                o.Background = IdBackground::kBlue;
            } else if (v == QLatin1String("red")) {
                o.Background = IdBackground::kRed;
            } else if (hex.match(v).hasMatch()) {
                o.Background = 0xFF000000u | v.right(6).toUInt(nullptr, 16);
            } else {
                return QStringLiteral("--background takes white, blue, red or RRGGBB, not %1")
                    .arg(Quoted(value));
            }
            return {};
        }
        case TOpt::Kb:
            if (!IdPhotoStandards::ParseKbRange(value, o.MinKb, o.MaxKbOfRange)) {
                return QStringLiteral(
                           "--kb takes MIN-MAX in kilobytes (like 14-20, 30-100, -20 or 20-), "
                           "not %1")
                    .arg(Quoted(value));
            }
            o.Kb = true;
            return {};
        case TOpt::From:
            if (value.isEmpty()) {
                return QStringLiteral("--from needs a picture file");
            }
            o.From << value;
            return {};
    }
    return {};
}

// Options that contradict each other, found once everything is read.
QString CheckCombination(const TShotOptions& o) {
    if (o.IdPhoto.isEmpty()) {
        if (o.Background || o.Kb || !o.From.isEmpty()) {
            return QStringLiteral("--background, --kb and --from belong to --id-photo");
        }
    } else if (o.Bmp || o.Quality || o.MaxKb || o.OutputSize || o.Bw || !o.Captions.isEmpty() ||
               o.Date || o.Time || o.Serial || o.Count != 1) {
        return QStringLiteral(
            "--id-photo makes one JPEG of the standard's size from each picture; leave out "
            "--bmp, --quality, --max-kb, --output-size, --bw, --caption, --date, --time, "
            "--serial and --count (--kb sets the file size)");
    }
    if (o.MaxKb) {
        if (o.Bmp) {
            return QStringLiteral("--max-kb makes a JPEG; it cannot be combined with --bmp");
        }
        if (o.Quality) {
            return QStringLiteral("--max-kb chooses the quality itself; leave out --quality");
        }
        if (o.OutputSize) {
            return QStringLiteral(
                "--max-kb chooses the output size itself; leave out "
                "--output-size");
        }
    }
    if (o.Bmp && o.Quality) {
        return QStringLiteral("--quality is for JPEG; a --bmp file has none");
    }
    return {};
}

}  // namespace

const std::vector<QSize>& ShotOutputSizes() {
    static const std::vector<QSize> sizes(PhotoPipeline::OutputSizes().begin(),
                                          PhotoPipeline::OutputSizes().end());
    return sizes;
}

TShotParse ParseShotOptions(const QStringList& arguments) {
    TShotParse result;
    TShotOptions& o = result.Options;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (!o.From.isEmpty() && (optionsEnded || !arg.startsWith(QLatin1Char('-')))) {
            o.From << arg;  // --from FILE...: the files that follow it
            continue;
        }
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            result.Error =
                QStringLiteral("unexpected argument %1 (options start with -)").arg(Quoted(arg));
            return result;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString error;
        if (arg.startsWith(QLatin1String("--"))) {
            const QString body = arg.mid(2);
            const qsizetype equals = body.indexOf(QLatin1Char('='));
            const QString name = equals < 0 ? body : body.left(equals);
            const TOptionSpec* spec = FindLong(name, error);
            if (!spec) {
                result.Error = error;
                return result;
            }
            const QString longName = QStringLiteral("--") + QString::fromLatin1(spec->Long);
            QString value;
            if (spec->TakesValue) {
                if (equals >= 0) {
                    value = body.mid(equals + 1);
                } else if (i + 1 < arguments.size()) {
                    value = arguments[++i];
                } else {
                    result.Error = QStringLiteral("option '%1' requires an argument").arg(longName);
                    return result;
                }
            } else if (equals >= 0) {
                result.Error =
                    QStringLiteral("option '%1' doesn't allow an argument").arg(longName);
                return result;
            }
            error = Apply(spec->Id, value, o);
        } else {
            // A cluster of short options; one that takes a value takes the rest of the
            // cluster, or else the next argument.
            for (qsizetype j = 1; j < arg.size() && error.isEmpty(); ++j) {
                const TOptionSpec* spec = FindShort(arg[j]);
                if (!spec) {
                    result.Error = QStringLiteral("invalid option -- '%1'").arg(arg[j]);
                    return result;
                }
                if (!spec->TakesValue) {
                    error = Apply(spec->Id, QString(), o);
                    if (o.Action == TShotAction::Help || o.Action == TShotAction::Version) {
                        return result;
                    }
                    continue;
                }
                QString value = arg.mid(j + 1);
                if (value.isEmpty()) {
                    if (i + 1 >= arguments.size()) {
                        result.Error =
                            QStringLiteral("option requires an argument -- '%1'").arg(arg[j]);
                        return result;
                    }
                    value = arguments[++i];
                }
                error = Apply(spec->Id, value, o);
                break;
            }
        }
        if (!error.isEmpty()) {
            result.Error = error;
            return result;
        }
        if (o.Action == TShotAction::Help || o.Action == TShotAction::Version) {
            return result;
        }
    }
    result.Error = CheckCombination(o);
    return result;
}

TCaptureOptions CaptureOptionsFor(const TShotOptions& options, const QString& savePath,
                                  uint32_t maxNo) {
    TCaptureOptions c;
    c.CompressionQuality = static_cast<uint8_t>(options.Quality.value_or(kDefaultQuality));
    c.PhotoStyle = options.Bw ? 1 : 0;
    c.PhotoSize = options.MaxKb ? 1 : 0;
    c.PhotoSize2 = static_cast<uint16_t>(options.MaxKb.value_or(0));
    c.FileFormat = options.Bmp ? 1 : 0;
    c.FileHeader = options.Prefix;
    c.FileNameType = options.Serial ? 1 : 0;
    c.MaxNo = maxNo;
    // A size limit chooses the output size itself, as the window's does with its output
    // size ticked.
    c.UseOutputResolution = options.OutputSize.has_value() || options.MaxKb.has_value();
    c.OutputResolution = options.OutputSize.value_or(0);
    c.Delay = false;
    c.DelayTime = options.DelayMs;
    const QStringList& lines = options.Captions;
    c.Title = CaptionTitle(lines.value(0), lines.value(1), lines.value(2));
    c.PrintDate = options.Date;
    c.PrintTime = options.Time;
    c.SavePath = savePath;
    return c;
}

QString ShotVersionText() {
    return QStringLiteral("snapix-shot (Snapix) %1\n").arg(QStringLiteral(SNAPIX_VERSION));
}

QString ShotHelpText() {
    return QStringLiteral(
               "Usage: snapix-shot [OPTION]...\n"
               "Take photographs from a camera without a display, through the same steps and\n"
               "into the same files as the Snapix window. Each stored file's path is printed\n"
               "on standard output; progress and reasons go to standard error.\n"
               "\n"
               "Camera:\n"
               "  -l, --list               list the cameras (number, name, node, sizes) and, per\n"
               "                           size, its formats and frame rates; then exit\n"
               "  -d, --device=N|PATH      the camera by its number in --list or its node\n"
               "                           (default: the first camera)\n"
               "      --size=WxH|default   the size the camera delivers (default: its own)\n"
               "      --control=NAME=VALUE set a picture control first, may be repeated;\n"
               "                           NAME: brightness, contrast, hue, saturation,\n"
               "                           colour (on or off), sharpness, gamma, gain,\n"
               "                           white-balance, backlight-compensation\n"
               "      --virtual-camera     use the built-in test camera (also lists it); it shows\n"
               "                           SNAPIX_VIRTUAL_CAMERA_PICTURE in place of its pattern\n"
               "      --skip=N             photograph the camera's N+1st picture (default:\n"
               "                           wait until the picture's brightness stops changing\n"
               "                           while the camera settles, at most %4 s)\n"
               "\n"
               "Photograph:\n"
               "  -o, --output=DIR         folder for the files (default: the photo folder of\n"
               "                           snapix.ini, as the window uses)\n"
               "      --prefix=TEXT        start of every file name\n"
               "      --serial             name by serial number (the counter of snapix.ini)\n"
               "                           instead of date and time\n"
               "      --bmp                store BMP instead of JPEG\n"
               "      --quality=1..100     JPEG quality (default %1)\n"
               "      --max-kb=KB          keep each file within KB kilobytes (above 500: 500);\n"
               "                           output size and quality go down until it fits\n"
               "      --output-size=WxH    scale to 1600x1200, 2048x1536, 2580x1936,\n"
               "                           2816x2112, 3264x2448 or 3876x2584\n"
               "      --bw                 black and white\n"
               "      --caption=TEXT       a caption line; up to %2 of them\n"
               "      --date, --time       stamp the date, the time\n"
               "\n"
               "Timing:\n"
               "      --delay=S            wait S seconds before the first photograph\n"
               "  -n, --count=N            take N photographs (default 1, at most %3)\n"
               "      --interval=S         seconds from one photograph's start to the next's\n"
               "                           (default 1); a photograph that takes longer skips\n"
               "                           the missed turns. Ctrl-C stops after the current one.\n"
               "\n"
               "Identity photos:\n"
               "      --id-photo=NAME      store the identity photo of the standard NAME,\n"
               "                           framed from the face (see --list-id-photos, or\n"
               "                           custom:WxH[mm][@DPI])\n"
               "      --background=COLOUR  white, blue, red or RRGGBB behind a plain wall\n"
               "      --kb=MIN-MAX         the file's size in KB (like 14-20 or -240)\n"
               "      --from FILE...       make them from picture files instead of the camera\n"
               "      --list-id-photos     list the standards with their sizes and rules\n"
               "\n"
               "  -h, --help               show this help and exit\n"
               "  -V, --version            show the version and exit\n"
               "\n"
               "Exit status: 0 when every photograph was stored, 1 when any was not or is\n"
               "larger than --max-kb (the reason is printed), 2 when the command line is\n"
               "wrong.\n")
        .arg(QString::number(kDefaultQuality), QString::number(kMaxCaptions),
             QString::number(kMaxCount), QString::number(kSettleLimitMs / 1000.0));
}
