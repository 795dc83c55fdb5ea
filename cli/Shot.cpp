// snapix-shot's work: choose the camera and folder, start the live stream, wait for its
// first picture, then take the photographs on their deadlines.
#include "cli/Shot.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include <sys/stat.h>

#include <linux/videodev2.h>

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include "capture/CaptureOptions.h"
#include "capture/DirectShowException.h"
#include "capture/FilterGraph.h"
#include "capture/FrameSink.h"
#include "capture/Snapixture.h"
#include "capture/StreamFormat.h"
#include "capture/SysDevEnum.h"
#include "cli/IdPhotoShot.h"
#include "cli/StopSignal.h"
#include "photo/Names.h"
#include "photocut/ImageFile.h"
#include "photo/Caption.h"
#include "photo/PictureMemory.h"
#include "photo/TempFile.h"
#include "settings/AppPaths.h"
#include "settings/SettingsStore.h"
#include "settings/Startup.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// How long a camera may take to send its first picture once it streams. USB cameras
// settle their exposure first and can take a second or two.
constexpr int kFirstFrameTimeoutMs = 10000;
// The picture has settled when its mean brightness moved less than this many levels
// over the last this many milliseconds.
constexpr double kSettleWindowMs = 300;
constexpr double kSettledLevels = 1.5;

QString SystemError(int negativeErrno) {
    return qt_error_string(-negativeErrno);
}

QString SizeText(int width, int height) {
    return QStringLiteral("%1x%2").arg(width).arg(height);
}

QString SizeText(const QSize& size) {
    return SizeText(size.width(), size.height());
}

QString SecondsText(double ms) {
    return QString::number(ms / 1000.0, 'g', 3) + QStringLiteral(" s");
}

// What the camera bound to `filter` offers: first its sizes ("160x120 320x240 640x480*",
// the current one marked), then one line per size with its formats and their frame
// rates ("\t640x480\tYUYV 30* 20 15 10 5 fps, MJPEG 30 20 15 10 5 fps", the format and
// rate it runs at now marked), each line after the first starting with a tab.
QStringList OffersText(const TFilter& filter) {
    std::vector<TStreamOffer> offers;
    if (const int listed = ListStreamOffers(filter, offers); listed < 0 || offers.empty()) {
        return {listed < 0 ? QStringLiteral("(sizes not listed: %1)").arg(SystemError(listed))
                           : QStringLiteral("(no format this program can show)")};
    }
    TStreamFormat now;
    CurrentStreamFormat(filter, now);
    std::vector<QSize> sizes;
    for (const TStreamOffer& offer : offers) {
        if (std::find(sizes.begin(), sizes.end(), offer.Size) == sizes.end()) {
            sizes.push_back(offer.Size);
        }
    }
    std::stable_sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) {
        return int64_t(a.width()) * a.height() < int64_t(b.width()) * b.height();
    });
    QStringList first, lines;
    for (const QSize size : sizes) {
        const QString mark = size == now.Size ? QStringLiteral("*") : QString();
        first << SizeText(size) + mark;
        QStringList formats;
        for (const TStreamOffer& offer : offers) {
            if (offer.Size != size) {
                continue;
            }
            QString text = FourccName(offer.PixelFormat);
            const bool current = size == now.Size && offer.PixelFormat == now.PixelFormat;
            for (const double fps : offer.Fps) {
                text += QLatin1Char(' ') + QString::number(fps, 'g', 4);
                if (current && std::abs(fps - now.Fps()) < 0.01) {
                    text += QLatin1Char('*');
                }
            }
            text += offer.Fps.empty() ? (current ? QStringLiteral("*") : QString())
                                      : QStringLiteral(" fps");
            formats << text;
        }
        lines << QLatin1Char('\t') + SizeText(size) + QLatin1Char('\t') +
                     formats.join(QStringLiteral(", "));
    }
    return QStringList{first.join(QLatin1Char(' '))} + lines;
}

QString ErrorOf(const std::exception& e) {
    const auto* device = dynamic_cast<const EDirectShowException*>(&e);
    return device ? device->Message() : QString::fromLocal8Bit(e.what());
}

// Rings on the GUI thread when the camera has sent a frame, so that a wait for the
// first picture ends as the picture arrives rather than at its next look. At most one
// ring is on its way at a time.
class TFrameBell : public QObject, public IFrameSink {
  public:
    explicit TFrameBell(std::function<void()> ring) : FRing(std::move(ring)) {}

    void FrameArrived(const TNativeFrame&) override {  // streaming thread
        if (!FPending.exchange(true)) {
            // Queued to this object: a ring still on its way when the bell goes is dropped.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    FPending = false;
                    FRing();
                },
                Qt::QueuedConnection);
        }
    }
    void FrameGone() override {}

  private:
    const std::function<void()> FRing;
    std::atomic<bool> FPending{false};
};

class TShotRun {
  public:
    TShotRun(const TShotOptions& options, FILE* out, FILE* err,
             std::function<void()> startApplication)
        : FOptions(options), FOut(out), FErr(err), FStartApplication(std::move(startApplication)) {}

    int List(const QString& executableFolder);
    int Shoot(const QString& executableFolder);
    // --id-photo --from FILE...: one identity photo per file, no camera.
    int IdPhotosFromFiles(const QString& folder);

  private:
    void Say(const QString& text) { PrintLine(FErr, QStringLiteral("snapix-shot: ") + text); }
    // A line of the tool's result on standard output. The first failure is said and
    // ends the run after the current photograph: a script would miss what follows.
    bool Out(const QString& line) {
        QString why;
        if (FOutLost || !PrintLine(FOut, line, &why)) {
            if (!FOutLost) {
                FOutLost = true;
                Say(QStringLiteral("cannot write to standard output: %1").arg(why));
            }
            return false;
        }
        return true;
    }
    int Fail(const QString& text) {
        Say(text);
        return kExitFailed;
    }
    void StartApplication() {
        if (FStartApplication) {
            std::exchange(FStartApplication, nullptr)();
        }
    }

    // The listed camera the options name, or -1 with the reason.
    int ChooseDevice(QString& why) const;
    // The folder photographs go to, ending with "/", or empty with the reason.
    QString ChooseFolder(QString& why);
    // The picture SNAPIX_VIRTUAL_CAMERA_PICTURE names, read and handed to the virtual
    // cameras. Empty, or why it cannot be shown.
    QString ShowVirtualCameraPicture();
    // Opens the camera, sets its size and controls and starts the stream. Empty, or why not.
    QString StartCamera();
    QString ApplyControl(const TShotControl& control);
    QString BusyText() const {
        return QStringLiteral("%1 is busy: another program is using it").arg(FCameraName);
    }
    // Opens the caption's font and renders its glyphs once on a scrap picture.
    void WarmUpCaption(const QString& folder);
    // Runs the event loop until done() holds, the time is up, the stream is lost or a
    // stop is requested. done is asked when LookNow is called and every 10 ms; nullptr
    // waits out the time.
    void Wait(Clock::time_point until, const std::function<bool()>& done = nullptr);
    // Ends the wait in progress at once if what it waits for has come.
    void LookNow();
    // Waits for the camera's first picture, and meanwhile makes ready what the first
    // photograph would otherwise begin with; then lets the frames --skip names go by,
    // or waits until the picture's brightness stops changing. false: none came.
    bool WaitForFirstPicture(const QString& folder, uint32_t counter);
    // After the first picture: true once the exposure looks settled (or the wait is
    // long enough), as far as the newest frame shows.
    bool Settled(std::vector<std::pair<double, double>>& means, uint64_t& looked);

    const TShotOptions& FOptions;
    FILE* FOut;
    FILE* FErr;
    std::function<void()> FStartApplication;  // until called
    TStartup FStartup;
    std::unique_ptr<TSnapixture> FCamera;
    QString FCameraName;
    std::unique_ptr<TStopSignal> FStop;
    QEventLoop* FWaiting = nullptr;                    // the wait in progress, if any
    const std::function<bool()>* FWaitDone = nullptr;  // what it waits for, if anything
    bool FLost = false;  // the stream ended for good (camera unplugged)
    Clock::time_point FSettleStart;
    bool FOutLost = false;  // standard output failed; later lines are not tried
};

void TShotRun::Wait(Clock::time_point until, const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    const auto left = std::chrono::ceil<Ms>(until - Clock::now()).count();
    if (left <= 0 || (done && done()) || FLost || (FStop && FStop->Requested())) {
        return;
    }
    deadline.start(static_cast<int>(std::min<int64_t>(left, INT32_MAX)));
    if (done) {
        // Only a net: what the wait is for usually says so itself (LookNow).
        poll.start(10);
        FWaitDone = &done;
    }
    FWaiting = &loop;
    loop.exec();
    FWaiting = nullptr;
    FWaitDone = nullptr;
}

void TShotRun::LookNow() {
    if (FWaiting && FWaitDone && (*FWaitDone)()) {
        FWaiting->quit();
    }
}

bool TShotRun::WaitForFirstPicture(const QString& folder, uint32_t counter) {
    TFrameBell bell([this] { LookNow(); });
    TFilterGraph* graph = FCamera->FilterGraph();
    graph->AddSink(&bell);

    // The camera's first picture takes a frame period or more. Meanwhile the caption's
    // font is opened here, and the memory of the first photograph's pictures is brought
    // in on the other core: a fresh process would otherwise have the system zero it,
    // page by page, inside the photograph.
    ApplyCaptureOptions(CaptureOptionsFor(FOptions, folder, counter), *FCamera);
    // Two pictures: the frame decoded at the live size, and the photograph when it is
    // made at another size.
    const QSize live(FCamera->SampleWidth, FCamera->SampleHeight);
    const QSize photograph = FCamera->NextPhotographSize();
    std::thread memory;
    try {
        memory = std::thread([live, photograph] {
            PhotoPipeline::PrepareBgrPicture(live.width(), live.height());
            if (photograph != live) {
                PhotoPipeline::PrepareBgrPicture(photograph.width(), photograph.height());
            }
        });
    } catch (const std::system_error&) {
        // No second thread now: the photograph brings its memory in itself.
    }
    WarmUpCaption(folder);

    TSampleGrabber& grabber = *FCamera->SampleGrabber();
    Wait(Clock::now() + Ms(kFirstFrameTimeoutMs), [&grabber] { return grabber.FramesArrived() > 0; });
    const bool came = grabber.FramesArrived() > 0;
    if (came && FOptions.Skip) {
        // A fixed rule: the N+1st frame.
        const uint64_t wanted = uint64_t(*FOptions.Skip) + 1;
        Wait(Clock::now() + Ms(kFirstFrameTimeoutMs),
             [&grabber, wanted] { return grabber.FramesArrived() >= wanted; });
    } else if (came) {
        // A camera starts dark and brightens while its automatic exposure settles: the
        // first photograph waits for the brightness to stop changing, at most a bound.
        std::vector<std::pair<double, double>> means;
        uint64_t looked = 0;
        FSettleStart = Clock::now();
        Wait(FSettleStart + Ms(kSettleLimitMs), [&] { return Settled(means, looked); });
    }
    graph->RemoveSink(&bell);
    if (memory.joinable()) {
        memory.join();
    }
    return came && grabber.FramesArrived() > 0;
}

bool TShotRun::Settled(std::vector<std::pair<double, double>>& means, uint64_t& looked) {
    // The picture's mean brightness over the last kSettleWindowMs moved by less than
    // kSettledLevels (of 255): the exposure has stopped changing. Each new frame is
    // looked at once, small (a Motion-JPEG frame decoded at an eighth).
    TSampleGrabber& grabber = *FCamera->SampleGrabber();
    const uint64_t arrived = grabber.FramesArrived();
    if (arrived == looked) {
        return false;
    }
    looked = arrived;
    QImage picture;
    if (grabber.GrabPreview(picture, QSize(64, 48)) != 0) {
        return false;
    }
    double sum = 0;
    for (int y = 0; y < picture.height(); ++y) {
        const uint8_t* p = picture.constScanLine(y);
        for (int x = 0; x < picture.width(); ++x, p += 3) {
            sum += 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
        }
    }
    const double now = std::chrono::duration<double, std::milli>(Clock::now() - FSettleStart).count();
    means.emplace_back(now, sum / std::max(1, picture.width() * picture.height()));
    return ExposureSettled(means, now);
}

int TShotRun::ChooseDevice(QString& why) const {
    const TSysDevEnum& devices = *FStartup.Devices;
    const int count = devices.DeviceCount();
    if (count == 0) {
        why = QStringLiteral(
            "no camera found (no video device that can capture); "
            "--virtual-camera uses the built-in test camera");
        return -1;
    }
    const QString& wanted = FOptions.Device;
    if (wanted.isEmpty()) {
        if (FOptions.VirtualCamera) {
            for (int i = 0; i < count; ++i) {
                if (devices.DeviceMoniker(i).path.startsWith(QLatin1String("virtual:"))) {
                    return i;
                }
            }
        }
        return 0;
    }
    bool isNumber = false;
    const int index = wanted.toInt(&isNumber);
    if (isNumber && !wanted.startsWith(QLatin1Char('+')) && !wanted.startsWith(QLatin1Char('-'))) {
        if (index >= count) {
            why = QStringLiteral(
                      "there is no camera %1: the cameras are numbered 0 to %2 "
                      "(see --list)")
                      .arg(wanted)
                      .arg(count - 1);
            return -1;
        }
        return index;
    }
    // A node path, also by one of its other names (/dev/v4l/by-id/...).
    const QString canonical = QFileInfo(wanted).canonicalFilePath();
    for (int i = 0; i < count; ++i) {
        const QString path = devices.DeviceMoniker(i).path;
        if (path == wanted || (!canonical.isEmpty() && canonical == path)) {
            return i;
        }
    }
    why = QFileInfo::exists(wanted)
              ? QStringLiteral("%1 is not a camera that can capture video (see --list)").arg(wanted)
              : QStringLiteral("there is no camera %1 (see --list)").arg(wanted);
    return -1;
}

QString TShotRun::ChooseFolder(QString& why) {
    QString folder;
    if (FOptions.Output.isEmpty()) {
        // The window's rule: the stored photo folder, created one level deep when
        // missing; while it cannot be used, the program's folder stands in.
        if (const std::optional<TSavePathFallback> fallback = LoadSavePathAtShow()) {
            Say(QStringLiteral("the photo folder %1 cannot be used; photographs go to %2")
                    .arg(fallback->Unusable, fallback->UsedInstead));
        }
        MakeDefaultSavePath();
        folder = ::SavePath;
    } else {
        folder = FOptions.Output;
        const QFileInfo info(folder);
        if (info.exists() && !info.isDir()) {
            why = QStringLiteral("%1 is a file, not a folder").arg(folder);
            return {};
        }
        if (!info.exists()) {
            // One level, as the window creates its folder: a mistyped parent is not built.
            if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0) {
                why = QStringLiteral("cannot create the folder %1: %2")
                          .arg(folder, qt_error_string(errno));
                return {};
            }
        }
        if (!folder.endsWith(QLatin1Char('/'))) {
            folder += QLatin1Char('/');
        }
    }
    // Asked before the camera starts, with the temporary file a photograph begins as.
    PhotoPipeline::TTempFile probe;
    if (const int error = probe.Open(QFile::encodeName(folder)); error != 0) {
        why = QStringLiteral("cannot store photographs in %1: %2")
                  .arg(folder, qt_error_string(error));
        return {};
    }
    return folder;
}

QString TShotRun::ApplyControl(const TShotControl& control) {
    const TFilter& filter = *FCamera->Filter();
    v4l2_queryctrl query{};
    query.id = control.Id;
    int result = filter.Ioctl(VIDIOC_QUERYCTRL, &query);
    // A setting the camera's automatic twin makes inactive (the white balance
    // temperature while automatic white balance is on, the gain under automatic
    // gain) is asked for by hand: the automatic one is switched off first.
    static constexpr std::pair<uint32_t, uint32_t> kAutomatic[] = {
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE},
        {V4L2_CID_GAIN, V4L2_CID_AUTOGAIN},
    };
    for (const auto& [manual, automatic] : kAutomatic) {
        if (result == 0 && control.Id == manual && (query.flags & V4L2_CTRL_FLAG_INACTIVE)) {
            v4l2_control off{automatic, 0};
            filter.Ioctl(VIDIOC_S_CTRL, &off);
            result = filter.Ioctl(VIDIOC_QUERYCTRL, &query);
        }
    }
    if (result == -EINVAL && control.Id == V4L2_CID_COLOR_KILLER) {
        // A USB camera has no colour killer: colour off is its saturation at its
        // minimum, colour on its saturation at its default, as in the window.
        query = v4l2_queryctrl{};
        query.id = V4L2_CID_SATURATION;
        result = filter.Ioctl(VIDIOC_QUERYCTRL, &query);
    }
    if (result == -EINVAL || (result == 0 && (query.flags & V4L2_CTRL_FLAG_DISABLED))) {
        return QStringLiteral("%1 has no %2 control").arg(FCameraName, control.Name);
    }
    if (result < 0) {
        return QStringLiteral("cannot read the %1 control: %2")
            .arg(control.Name, SystemError(result));
    }
    if (query.flags & V4L2_CTRL_FLAG_READ_ONLY) {
        return QStringLiteral("the %1 control of %2 cannot be changed")
            .arg(control.Name, FCameraName);
    }
    const int32_t value = control.Inverted ? 1 - control.Value : control.Value;
    const bool saturation = query.id == V4L2_CID_SATURATION && control.Id != V4L2_CID_SATURATION;
    const auto outside = [&] {
        return QStringLiteral("%1 %2 is outside the camera's range %3 to %4")
            .arg(control.Name)
            .arg(control.Value)
            .arg(query.minimum)
            .arg(query.maximum);
    };
    if (!saturation && (value < query.minimum || value > query.maximum)) {
        return outside();
    }
    v4l2_control set{};
    set.id = query.id;
    set.value = !saturation        ? value
                : control.Value == 0 ? query.minimum
                : query.default_value > query.minimum ? query.default_value
                                                      : query.maximum;
    result = filter.Ioctl(VIDIOC_S_CTRL, &set);
    if (result == -ERANGE) {
        return outside();
    }
    if (result < 0) {
        return QStringLiteral("cannot set %1 to %2: %3")
            .arg(control.Name)
            .arg(control.Value)
            .arg(SystemError(result));
    }
    return {};
}

QString TShotRun::ShowVirtualCameraPicture() {
    const QString path = TSysDevEnum::VirtualCameraPicture();
    if (path.isEmpty()) {
        return {};
    }
    // The cutting panel's loader, as for --from.
    const ImageFile::TDecoded decoded = ImageFile::LoadImageFile(path);
    if (!decoded.Loaded()) {
        return QStringLiteral("SNAPIX_VIRTUAL_CAMERA_PICTURE: ") + decoded.Error;
    }
    if (!TSysDevEnum::ShowOnVirtualCameras(decoded.Picture)) {
        return QStringLiteral("SNAPIX_VIRTUAL_CAMERA_PICTURE: no memory for the picture");
    }
    return {};
}

QString TShotRun::StartCamera() {
    if (FCamera->Connect() != 0 || !FCamera->Filter()->HasDevice()) {
        return QStringLiteral("cannot open %1: %2").arg(FCameraName, FCamera->LastError());
    }
    TFilter& filter = *FCamera->Filter();
    if (FOptions.Size) {
        // The format with the highest frame rate at that size, as the window takes it.
        TStreamFormat format;
        int result = ChooseStreamFormat(filter, *FOptions.Size, format);
        if (result == 0 && format.Size == *FOptions.Size) {
            result = ApplyStreamFormat(filter, format);
        }
        if (result == -EBUSY) {
            return BusyText();
        }
        if (result < 0) {
            return QStringLiteral("%1 refuses the size %2: %3")
                .arg(FCameraName, SizeText(*FOptions.Size), SystemError(result));
        }
        if (format.Size != *FOptions.Size) {
            return QStringLiteral(
                       "%1 does not deliver %2 (the nearest it offers is %3; "
                       "see --list)")
                .arg(FCameraName, SizeText(*FOptions.Size), SizeText(format.Size));
        }
    }
    if (!FOptions.IdPhoto.isEmpty() && !FOptions.Size) {
        // An identity photo is cut from the camera's largest picture that is still live,
        // in its fastest format there.
        const QSize largest = LargestLiveSize(filter, TSnapixture::kLiveFrameRate);
        TStreamFormat format;
        if (largest.isValid() && ChooseStreamFormat(filter, largest, format) == 0 &&
            ApplyStreamFormat(filter, format) == -EBUSY) {
            return BusyText();
        }
    }
    for (const TShotControl& control : FOptions.Controls) {
        const QString why = ApplyControl(control);
        if (!why.isEmpty()) {
            return why;
        }
    }
    // The device keeps the format set above: index 4 asks for no size of its own.
    FCamera->SetInputResolution(4);
    int previewed = 1;
    try {
        previewed = FCamera->Preview();
    } catch (const EDirectShowException& e) {
        if (e.Code() == EBUSY) {
            return BusyText();
        }
        return QStringLiteral("cannot start %1: %2").arg(FCameraName, e.Message());
    } catch (const std::exception& e) {
        return QStringLiteral("cannot start %1: %2").arg(FCameraName, ErrorOf(e));
    }
    if (previewed != 0) {
        const QString why = FCamera->LastError();
        return QStringLiteral("cannot start %1%2")
            .arg(FCameraName, why.isEmpty() ? QString() : QStringLiteral(": ") + why);
    }
    return {};
}

void TShotRun::WarmUpCaption(const QString& folder) {
    const TCaptureOptions options = CaptureOptionsFor(FOptions, folder, 0);
    const TRecTitle& t = options.Title;
    const bool drawsText = options.PrintDate || options.PrintTime ||
                           !(t.Line1 + t.Line2 + t.Line3 + t.Line4 + t.Line5).isEmpty();
    if (!drawsText || FCamera->SampleWidth <= 0 || FCamera->SampleHeight <= 0) {
        return;
    }
    // The caption's layout, and so its font size, follow the live picture's width.
    QImage scrap(FCamera->SampleWidth, FCamera->SampleHeight, QImage::Format_BGR888);
    scrap.fill(Qt::white);
    PhotoPipeline::DrawCaption(scrap, {t.Line1, t.Line2, t.Line3, t.Line4, t.Line5},
                               options.PrintDate, options.PrintTime, options.FontColor,
                               QDateTime::currentDateTime());
}

int TShotRun::List(const QString& executableFolder) {
    StartApplication();
    FStartup = StartUp(executableFolder);
    const TSysDevEnum& devices = *FStartup.Devices;
    if (devices.DeviceCount() == 0) {
        return Fail(
            QStringLiteral("no camera found (no video device that can capture); "
                           "--virtual-camera adds the built-in test camera"));
    }
    for (int i = 0; i < devices.DeviceCount(); ++i) {
        TSnapixture camera;
        camera.SetMoniker(devices.DeviceMoniker(i));
        const QStringList offers =
            camera.Connect() == 0 && camera.Filter()->HasDevice()
                ? OffersText(*camera.Filter())
                : QStringList{QStringLiteral("(cannot open: %1)").arg(camera.LastError())};
        camera.Stop();
        if (!Out(QStringLiteral("%1\t%2\t%3\t%4")
                     .arg(i)
                     .arg(devices.DeviceName(i), devices.DeviceMoniker(i).path, offers.first()))) {
            return kExitFailed;
        }
        for (qsizetype line = 1; line < offers.size(); ++line) {
            if (!Out(offers[line])) {
                return kExitFailed;
            }
        }
    }
    return kExitStored;
}

int TShotRun::Shoot(const QString& executableFolder) {
    FStartup = StartUp(executableFolder);
    QString why;
    if (!FOptions.From.isEmpty()) {
        const QString folder = ChooseFolder(why);
        return folder.isEmpty() ? Fail(why) : IdPhotosFromFiles(folder);
    }
    const int device = ChooseDevice(why);
    if (device < 0) {
        return Fail(why);
    }
    const QString folder = ChooseFolder(why);
    if (folder.isEmpty()) {
        return Fail(why);
    }
    if (FStartup.Devices->DeviceMoniker(device).path.startsWith(QLatin1String("virtual:"))) {
        why = ShowVirtualCameraPicture();
        if (!why.isEmpty()) {
            return Fail(why);
        }
    }
    // As the window does at its start: what killed runs left behind goes.
    RemoveLeftoverTempFiles(folder);
    FCameraName = QStringLiteral("%1 (%2)").arg(FStartup.Devices->DeviceName(device),
                                                FStartup.Devices->DeviceMoniker(device).path);

    FCamera = std::make_unique<TSnapixture>();
    FCamera->SetMoniker(FStartup.Devices->DeviceMoniker(device));
    FCamera->OnDeviceLost = [this](QObject*) {
        FLost = true;
        if (FWaiting) {
            FWaiting->quit();
        }
    };
    why = StartCamera();
    if (!why.isEmpty()) {
        FCamera->Stop();
        return Fail(why);
    }
    // The camera's first picture is a frame period or more away: the application starts
    // meanwhile, and with it the event loop that Ctrl-C is heard in. (Until here Ctrl-C
    // ends the tool at once, before anything is written.)
    StartApplication();
    FStop = std::make_unique<TStopSignal>();
    FStop->OnRequested = [this] {
        Say(QStringLiteral("stopping after the current photograph (Ctrl-C again ends at once)"));
        if (FWaiting) {
            FWaiting->quit();
        }
    };

    uint32_t counter = FOptions.Serial ? LoadFileNo(0) : 0;
    // The first picture must have arrived before the first photograph can be taken
    // (and, unless --skip says which, the exposure settled). A stop or a lost camera
    // meanwhile ends the run before any photograph.
    if (!WaitForFirstPicture(folder, counter) || FStop->Requested() || FLost) {
        FCamera->Stop();
        if (FLost) {
            return Fail(FCamera->LastError());
        }
        if (FStop->Requested()) {
            return Fail(QStringLiteral("stopped before the first photograph"));
        }
        return Fail(QStringLiteral("%1 sent no picture within %2 seconds")
                        .arg(FCameraName)
                        .arg(kFirstFrameTimeoutMs / 1000));
    }
    Say(QStringLiteral("%1 at %2").arg(FCameraName, FCamera->StreamText()));

    if (!FOptions.IdPhoto.isEmpty()) {
        Wait(Clock::now() + Ms(FOptions.DelayMs));
        QImage frame;
        if (FStop->Requested() || FLost || FCamera->SampleGrabber()->GrabBitmap(frame) != 0) {
            FCamera->Stop();
            return Fail(FLost ? FCamera->LastError() : QStringLiteral("no photograph taken"));
        }
        FCamera->Stop();
        const QString base =
            FOptions.Prefix + PhotoPipeline::DateTimeName(QDateTime::currentDateTime());
        const QString stored =
            StoreIdPhoto(frame, IdPhotoRequestFor(FOptions), folder, base, FCameraName, FErr);
        return !stored.isEmpty() && Out(stored) ? kExitStored : kExitFailed;
    }
    const int count = FOptions.Count;
    const auto interval = Ms(FOptions.IntervalMs);
    if (FOptions.DelayMs > 0) {
        Say(QStringLiteral("first photograph in %1").arg(SecondsText(FOptions.DelayMs)));
    }
    // Photograph k starts at start + slot * interval on the monotonic clock, so the
    // series keeps its pace whatever each photograph takes; one that overruns its
    // turn lets the missed turns go.
    const Clock::time_point start = Clock::now() + Ms(FOptions.DelayMs);
    int64_t slot = 0;
    int taken = 0, stored = 0, overLimit = 0;
    while (taken < count && !FStop->Requested() && !FLost && !FOutLost) {
        if (taken > 0) {
            Wait(start + slot * interval);
            if (FStop->Requested() || FLost) {
                break;
            }
        }
        TCaptureOptions capture = CaptureOptionsFor(FOptions, folder, counter);
        capture.Delay = taken == 0 && FOptions.DelayMs > 0;
        ApplyCaptureOptions(capture, *FCamera);
        int result = 1;
        QString reason;
        try {
            result = FCamera->Capture();
        } catch (const std::exception& e) {
            reason = ErrorOf(e);
        }
        ++taken;
        if (FOptions.Serial) {
            // A serial number once used stays used, also by a photograph that failed.
            counter = FCamera->MaxNo;
            StoreFileNo(counter);
        }
        if (result == 0) {
            ++stored;
            if (!Out(FCamera->FileName())) {
                Say(QStringLiteral("stopping; %1 photograph(s) stored in %2 stay there")
                        .arg(stored)
                        .arg(folder));
                break;
            }
            if (!FCamera->WithinSizeLimit()) {
                // Stored all the same (the smallest there is), but not what was asked.
                ++overLimit;
                Say(QStringLiteral("photograph %1 of %2 is %3 KB: not even its smallest size "
                                   "keeps it within %4 KB")
                        .arg(taken)
                        .arg(count)
                        .arg((FCamera->AJpeg().size() + 1023) / 1024)
                        .arg(std::min(*FOptions.MaxKb, 500)));
            }
        } else {
            if (reason.isEmpty()) {
                reason = FCamera->LastError();
            }
            Say(QStringLiteral("photograph %1 of %2 not stored: %3")
                    .arg(taken)
                    .arg(count)
                    .arg(reason.isEmpty() ? QStringLiteral("no reason given") : reason));
        }
        if (taken == count || interval.count() == 0) {
            ++slot;
            continue;
        }
        // The next turn that has not begun yet.
        const auto late = Clock::now() - start;
        const int64_t next =
            std::max<int64_t>(slot + 1, (late + interval - std::chrono::nanoseconds(1)) / interval);
        if (next > slot + 1) {
            Say(QStringLiteral("photograph %1 took longer than the interval; %2 turn(s) skipped")
                    .arg(taken)
                    .arg(next - slot - 1));
        }
        slot = next;
    }
    FCamera->Stop();

    if (FLost && taken < count) {
        Say(FCamera->LastError());
    }
    if (taken < count) {
        Say(QStringLiteral("%1 of %2 photographs taken").arg(taken).arg(count));
    } else if (count > 1 && stored < taken) {
        Say(QStringLiteral("%1 of %2 photographs not stored").arg(taken - stored).arg(count));
    }
    if (taken == 0 || stored < taken || overLimit > 0 || (FLost && taken < count) || FOutLost) {
        return kExitFailed;
    }
    return kExitStored;
}

int TShotRun::IdPhotosFromFiles(const QString& folder) {
    StartApplication();
    const TIdPhotoRequest request = IdPhotoRequestFor(FOptions);
    int stored = 0;
    for (const QString& path : FOptions.From) {
        // The cutting panel's loader: content decides the format, hostile files are
        // refused with their reason.
        ImageFile::TDecoded decoded = ImageFile::LoadImageFile(path);
        if (!decoded.Error.isEmpty()) {
            Say(decoded.Error + QStringLiteral(", nothing stored"));
            continue;
        }
        const QString made = StoreIdPhoto(decoded.Picture, request, folder,
                                          FOptions.Prefix + QFileInfo(path).completeBaseName(),
                                          path, FErr);
        if (!made.isEmpty() && Out(made)) {
            ++stored;
        }
        if (FOutLost) {
            break;
        }
    }
    if (FOptions.From.size() > 1 && stored < FOptions.From.size()) {
        Say(QStringLiteral("%1 of %2 identity photos not stored")
                .arg(FOptions.From.size() - stored)
                .arg(FOptions.From.size()));
    }
    return stored == FOptions.From.size() ? kExitStored : kExitFailed;
}

}  // namespace

bool ExposureSettled(const std::vector<std::pair<double, double>>& means, double now) {
    if (means.empty() || now < kSettleWindowMs) {
        return false;
    }
    // From the last look at or before the window's start on: on a busy machine that looks
    // at few frames, a single look inside the window would pass for a steady picture.
    std::size_t first = 0;
    while (first + 1 < means.size() && means[first + 1].first <= now - kSettleWindowMs) {
        ++first;
    }
    double low = 255, high = 0;
    for (std::size_t i = first; i < means.size(); ++i) {
        low = std::min(low, means[i].second);
        high = std::max(high, means[i].second);
    }
    return high - low < kSettledLevels;
}

bool PrintLine(FILE* stream, const QString& text, QString* why) {
    if (!stream) {
        if (why) {
            *why = QStringLiteral("it is closed");
        }
        return false;
    }
    const QByteArray bytes = text.toUtf8() + '\n';
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) ==
                         size_t(bytes.size());
    const bool flushed = std::fflush(stream) == 0;
    if (written && flushed && !std::ferror(stream)) {
        return true;
    }
    if (why) {
        *why = qt_error_string(errno != 0 ? errno : EIO);
    }
    std::clearerr(stream);
    return false;
}

int RunShot(const TShotOptions& options, const QString& executableFolder, FILE* out, FILE* err,
            const std::function<void()>& startApplication) {
    if (options.VirtualCamera && !TSysDevEnum::VirtualCameraEnabled()) {
        // The same switch the window reads: the device list offers the test camera
        // (the 1080p one, unless the switch names others already).
        qputenv("SNAPIX_VIRTUAL_CAMERA", "1");
    }
    if (options.Action == TShotAction::ListIdPhotos) {
        PrintIdPhotoStandards(out);
        return kExitStored;
    }
    TShotRun run(options, out, err, startApplication);
    return options.Action == TShotAction::List ? run.List(executableFolder)
                                               : run.Shoot(executableFolder);
}
