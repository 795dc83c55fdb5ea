// Cutting frame: re-rendering the view for one zoom step from a 3876x2584 photo;
// choosing a 4000x3000 JPEG file up to its first rendered view, against libjpeg alone
// decoding the same file in the same run; and the GUI thread's longest stall while the
// panel loads a scan bomb (883 scans, 9459x9459) and the costliest progressive file the budget allows.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include "photo/Jpeg.h"
#include "photocut/PhotoShopDialogs.h"
#include "photocut/PhotoView.h"
#include "photocut/fraPhotoShop.h"
#include "bench/BenchSupport.h"
#include "tests/support/HostileImages.h"

namespace {

using bench::Median;
using bench::MsSince;

using bench::Clock;

// Answers the open dialog with one file; everything else is declined.
struct FileChoice final : TPhotoShopDialogs {
    QString path;
    QString OpenFileName(QWidget*, const QString&) override { return path; }
    TSaveChoice SaveFileName(QWidget*, const QString&) override { return {}; }
    bool ConfirmPrintSheet(QWidget*, const QImage&, int) override { return false; }
    std::optional<QString> CustomSize(QWidget*, const QString&) override { return {}; }
    std::optional<QRgb> BackgroundColour(QWidget*, QRgb) override { return {}; }
    void ShowMessage(QWidget*, const QString&) override {}
    void ShowError(QWidget*, const QString& text) override {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
};

// The reference: libjpeg alone reading the file into memory and decoding it at full size.
double PlainDecodeMs(const QString& path) {
    const auto start = Clock::now();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray data = file.readAll();
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    std::vector<unsigned char> pixels(size_t(info.output_width) * info.output_height *
                                      info.output_components);
    const size_t stride = size_t(info.output_width) * info.output_components;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return MsSince(start);
}

// Chooses `path` in the panel and runs the event loop until it is loaded or refused,
// ticking a 1 ms timer on the GUI thread: returns the longest gap between two ticks
// (the longest the window could not answer), and the time to the end in `total`.
double LongestStallMs(TfraPhotoShop& frame, FileChoice& choice, const QString& path,
                      double& total, bool& loaded) {
    choice.path = path;
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    double longest = 0;
    auto last = Clock::now();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    });
    QObject::connect(&frame, &TfraPhotoShop::LoadFinished, &loop, [&](bool ok) {
        loaded = ok;
        loop.quit();
    });
    const auto start = Clock::now();
    tick.start(1);
    last = Clock::now();
    frame.bsSkinButton1Click();  // the click itself is part of the stall
    loop.exec();
    total = MsSince(start);
    const auto now = Clock::now();
    return std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    TfraPhotoShop frame;
    auto owned = std::make_unique<FileChoice>();
    FileChoice* choice = owned.get();
    frame.SetDialogs(std::move(owned));
    frame.show();

    // One zoom step, 100 <-> 99, re-rendered and painted.
    frame.NewPhoto(hostile::Scene(3876, 2584));
    std::vector<double> render;
    for (int i = 0; i < 60; ++i) {
        const auto start = Clock::now();
        frame.TrackBar->setValue(i % 2 == 0 ? 99 : 100);
        frame.ImgSource->repaint();
        render.push_back(MsSince(start));
    }

    QTemporaryDir folder;
    choice->path = folder.filePath("12mp.jpg");
    {
        QByteArray jpeg;
        QString why;
        if (!PhotoPipeline::EncodeJpeg(hostile::Scene(4000, 3000), 90, jpeg, why)) {
            std::fprintf(stderr, "cannot make the test JPEG: %s\n", qPrintable(why));
            return 1;
        }
        QFile file(choice->path);
        file.open(QIODevice::WriteOnly);
        file.write(jpeg);
    }
    const QString twelve = choice->path;
    std::vector<double> plain;
    std::vector<double> load;
    for (int i = 0; i < 7; ++i) {
        plain.push_back(PlainDecodeMs(twelve));
        double total = 0;
        bool loaded = false;
        LongestStallMs(frame, *choice, twelve, total, loaded);
        const auto start = Clock::now();
        frame.ImgSource->repaint();
        load.push_back(total + MsSince(start));
        if (!loaded || frame.ImgSave().size() != QSize(4000, 3000)) {
            std::fprintf(stderr, "the file did not load\n");
            return 1;
        }
    }

    // The GUI thread while hostile or slow files load.
    const QString bomb = folder.filePath("bomb.jpg");
    const QString slow = folder.filePath("slow.jpg");
    for (const auto& [path, bytes] :
         {std::pair{bomb, hostile::ProgressiveScanBomb(9459, 9459)},
          std::pair{slow, hostile::ProgressiveScanBomb(9459, 9459, 15, 1)}}) {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
    double bombTotal = 0, slowTotal = 0, twelveTotal = 0;
    bool bombLoaded = true, slowLoaded = false, twelveLoaded = false;
    const double bombStall = LongestStallMs(frame, *choice, bomb, bombTotal, bombLoaded);
    const double slowStall = LongestStallMs(frame, *choice, slow, slowTotal, slowLoaded);
    const double twelveStall = LongestStallMs(frame, *choice, twelve, twelveTotal, twelveLoaded);
    if (bombLoaded || !slowLoaded || !twelveLoaded) {
        std::fprintf(stderr, "unexpected outcome: bomb %d slow %d 12mp %d\n", bombLoaded,
                     slowLoaded, twelveLoaded);
        return 1;
    }

    const double loadMs = Median(load);
    const double plainMs = Median(plain);
    std::printf("cut_render_ms %.3f ms\n", Median(render));
    std::printf("load_12mp_jpeg_ms %.1f ms\n", loadMs);
    std::printf("plain_decode_12mp_jpeg_ms %.1f ms\n", plainMs);
    std::printf("load_to_plain_decode_ratio %.3f\n", plainMs > 0 ? loadMs / plainMs : 0.0);
    std::printf("scan_bomb_gui_stall_ms %.1f ms\n", bombStall);
    std::printf("scan_bomb_refused_after_ms %.1f ms\n", bombTotal);
    std::printf("budget_edge_9459_16_scans_gui_stall_ms %.1f ms\n", slowStall);
    std::printf("budget_edge_9459_16_scans_load_ms %.1f ms\n", slowTotal);
    std::printf("load_12mp_gui_stall_ms %.1f ms\n", twelveStall);
    return 0;
}
