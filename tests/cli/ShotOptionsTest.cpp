// The command line of snapix-shot: what each spelling means, and what is refused.
#include "cli/ShotOptions.h"

#include <functional>

#include <linux/videodev2.h>

#include <gtest/gtest.h>

namespace {

QStringList Args(std::initializer_list<const char*> list) {
    QStringList args;
    for (const char* a : list) {
        args << QString::fromUtf8(a);
    }
    return args;
}

struct Accepted {
    std::initializer_list<const char*> Args;
    std::function<bool(const TShotOptions&)> Holds;
};

TEST(ShotOptions, UnderstandsEverySpelling) {
    const Accepted cases[] = {
        {{}, [](auto& o) { return o.Action == TShotAction::Shoot && o.Count == 1 && !o.Size; }},
        {{"--list"}, [](auto& o) { return o.Action == TShotAction::List; }},
        {{"-l", "--virtual-camera"},
         [](auto& o) { return o.Action == TShotAction::List && o.VirtualCamera; }},
        // --help wins where it is read, even before something wrong.
        {{"--help", "--count=zero"}, [](auto& o) { return o.Action == TShotAction::Help; }},
        {{"-V"}, [](auto& o) { return o.Action == TShotAction::Version; }},
        {{"--device", "2"}, [](auto& o) { return o.Device == "2"; }},
        {{"-d/dev/video4"}, [](auto& o) { return o.Device == "/dev/video4"; }},
        {{"--dev=virtual:0"}, [](auto& o) { return o.Device == "virtual:0"; }},
        {{"--size=1280X720"}, [](auto& o) { return o.Size == QSize(1280, 720); }},
        {{"--size", "640x480", "--size", "default"}, [](auto& o) { return !o.Size; }},
        {{"-o", "/tmp/x"}, [](auto& o) { return o.Output == "/tmp/x"; }},
        {{"--output", "-dash"}, [](auto& o) { return o.Output == "-dash"; }},
        {{"--prefix=cam_", "--serial"}, [](auto& o) { return o.Prefix == "cam_" && o.Serial; }},
        {{"--bmp", "--bw"}, [](auto& o) { return o.Bmp && o.Bw; }},
        {{"--quality=100"}, [](auto& o) { return o.Quality == 100; }},
        {{"--max-kb", "300"}, [](auto& o) { return o.MaxKb == 300; }},
        {{"--output-size", "3876x2584"}, [](auto& o) { return o.OutputSize == 5; }},
        {{"--output-size=1600x1200"}, [](auto& o) { return o.OutputSize == 0; }},
        {{"--caption", "一", "--caption=", "--caption", "three"},
         [](auto& o) {
             return o.Captions == QStringList{"一", "", "three"};
         }},
        {{"--date", "--time"}, [](auto& o) { return o.Date && o.Time; }},
        {{"--delay=2.5"}, [](auto& o) { return o.DelayMs == 2500u; }},
        {{"--delay", ".25"}, [](auto& o) { return o.DelayMs == 250u; }},
        {{"-n3", "--interval", "0"}, [](auto& o) { return o.Count == 3 && o.IntervalMs == 0u; }},
        {{"--count=1000000"}, [](auto& o) { return o.Count == kMaxCount; }},
        {{"--control", "brightness=-20", "--control=Hue=+30"},
         [](auto& o) {
             return o.Controls.size() == 2 && o.Controls[0].Id == V4L2_CID_BRIGHTNESS &&
                    o.Controls[0].Value == -20 && o.Controls[1].Id == V4L2_CID_HUE &&
                    o.Controls[1].Value == 30;
         }},
        {{"--control=colour=off"},
         [](auto& o) {
             return o.Controls.size() == 1 && o.Controls[0].Id == V4L2_CID_COLOR_KILLER &&
                    o.Controls[0].Inverted && o.Controls[0].Value == 0;
         }},
        {{"-lh"}, [](auto& o) { return o.Action == TShotAction::Help; }},
        {{
             "--",
         },
         [](auto& o) { return o.Action == TShotAction::Shoot; }},
    };
    for (const Accepted& c : cases) {
        const QStringList args = Args(c.Args);
        const TShotParse parsed = ParseShotOptions(args);
        EXPECT_TRUE(parsed.Ok()) << args.join(' ').toStdString() << ": "
                                 << parsed.Error.toStdString();
        EXPECT_TRUE(c.Holds(parsed.Options)) << args.join(' ').toStdString();
    }
}

struct Refused {
    std::initializer_list<const char*> Args;
    const char* Says;  // a part of the message that names the fault
};

TEST(ShotOptions, RefusesWithAMessageThatNamesTheFault) {
    const Refused cases[] = {
        {{"--frobnicate"}, "unrecognized option '--frobnicate'"},
        {{"--out=/tmp"}, "ambiguous"},
        {{"-x"}, "invalid option -- 'x'"},
        {{"photo.jpg"}, "unexpected argument 'photo.jpg'"},
        {{"--", "--bw"}, "unexpected argument '--bw'"},
        {{"--device"}, "option '--device' requires an argument"},
        {{"-o"}, "option requires an argument -- 'o'"},
        {{"--bw=yes"}, "option '--bw' doesn't allow an argument"},
        {{"--device="}, "--device needs"},
        {{"--output="}, "--output needs a folder"},
        {{"--size=640"}, "--size takes WIDTHxHEIGHT"},
        {{"--size=0x480"}, "--size takes WIDTHxHEIGHT"},
        {{"--output-size=640x480"},
         "1600x1200, 2048x1536, 2580x1936, 2816x2112, 3264x2448, 3876x2584"},
        {{"--quality=0"}, "--quality must be a whole number from 1 to 100"},
        {{"--quality=high"}, "not 'high'"},
        {{"--quality=80.5"}, "--quality must be a whole number"},
        {{"--max-kb=70000"}, "--max-kb must be a whole number from 1 to 65535"},
        {{"--count=0"}, "--count must be a whole number from 1 to 1000000"},
        {{"--count=-3"}, "(got -3)"},
        {{"--count=99999999999999999999999"}, "--count must be a whole number from 1 to 1000000"},
        {{"--count= 3"}, "--count must be"},
        {{"--interval=-1"}, "--interval takes seconds"},
        {{"--interval=1e3"}, "--interval takes seconds"},
        {{"--delay=nan"}, "--delay takes seconds"},
        {{"--delay=86401"}, "--delay takes seconds from 0 to 86400"},
        {{"--caption=a", "--caption=b", "--caption=c", "--caption=d"}, "at most 3 --caption"},
        {{"--prefix=a/b"}, "cannot hold '/'"},
        {{"--prefix=a\nb"}, "line break or other control character (U+000a)"},
        {{"--prefix=a\tb"}, "(U+0009)"},
        {{"--prefix=\x7f"}, "(U+007f)"},
        {{"--prefix=."}, "cannot be . alone"},
        {{"--prefix=.."}, "cannot be .. alone"},
        // Bytes that are not UTF-8, decoded as main() decodes arguments.
        {{"--prefix=caf\xE9"}, "not valid UTF-8"},
        {{"--control=zoom=3"}, "unknown camera control 'zoom'"},
        {{"--control=brightness"}, "NAME=VALUE"},
        {{"--control=brightness=bright"}, "--control brightness must be a whole number"},
        {{"--control=colour=2"}, "on or off"},
        {{"--max-kb=100", "--bmp"}, "--bmp"},
        {{"--max-kb=100", "--quality=90"}, "--quality"},
        {{"--max-kb=100", "--output-size=1600x1200"}, "--output-size"},
        {{"--bmp", "--quality=90"}, "JPEG"},
    };
    for (const Refused& c : cases) {
        const QStringList args = Args(c.Args);
        const TShotParse parsed = ParseShotOptions(args);
        EXPECT_TRUE(parsed.Error.contains(QString::fromUtf8(c.Says)))
            << args.join(' ').toStdString() << " said: " << parsed.Error.toStdString();
    }
}

TEST(ShotOptions, DescribeThePhotographTheWindowWouldTake) {
    const TShotParse parsed = ParseShotOptions(
        Args({"--prefix=p", "--serial", "--quality=95", "--output-size=2816x2112", "--bw",
              "--caption=one", "--caption=two", "--caption=three", "--date", "--delay=3"}));
    ASSERT_TRUE(parsed.Ok()) << parsed.Error.toStdString();
    const TCaptureOptions c = CaptureOptionsFor(parsed.Options, "/photos/", 41);
    EXPECT_EQ(c.CompressionQuality, 95);
    EXPECT_EQ(c.PhotoStyle, 1);
    EXPECT_EQ(c.PhotoSize, 0);
    EXPECT_EQ(c.FileFormat, 0);
    EXPECT_EQ(c.FileHeader, "p");
    EXPECT_EQ(c.FileNameType, 1);
    EXPECT_EQ(c.MaxNo, 41u);
    EXPECT_TRUE(c.UseOutputResolution);
    EXPECT_EQ(c.OutputResolution, 3);
    EXPECT_FALSE(c.Delay);
    EXPECT_EQ(c.DelayTime, 3000u);
    // As the window: a 160-wide picture, whose only line is Line2, shows none.
    EXPECT_EQ(c.Title.Line1, "one");
    EXPECT_EQ(c.Title.Line2, "");
    EXPECT_EQ(c.Title.Line3, "two");
    EXPECT_EQ(c.Title.Line4, "three");
    EXPECT_TRUE(c.PrintDate);
    EXPECT_FALSE(c.PrintTime);
    EXPECT_EQ(c.SavePath, "/photos/");

    const TCaptureOptions plain = CaptureOptionsFor(ParseShotOptions({}).Options, "/p/", 0);
    EXPECT_EQ(plain.CompressionQuality, kDefaultQuality);
    EXPECT_EQ(plain.FileNameType, 0);
    EXPECT_FALSE(plain.UseOutputResolution);

    const TCaptureOptions limited =
        CaptureOptionsFor(ParseShotOptions(Args({"--max-kb=300"})).Options, "/p/", 0);
    EXPECT_EQ(limited.PhotoSize, 1);
    EXPECT_EQ(limited.PhotoSize2, 300);
    EXPECT_TRUE(limited.UseOutputResolution) << "the size limit chooses the output size";
}

}  // namespace
