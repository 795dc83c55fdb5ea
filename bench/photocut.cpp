// Cutting frame: re-rendering the view for one zoom step from a 3876x2584 photo, and
// choosing a 4000x3000 JPEG file up to its first rendered view, against libjpeg alone
// decoding the same file in the same run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include <QApplication>
#include <QFile>
#include <QSlider>
#include <QTemporaryDir>

#include "photo/Jpeg.h"
#include "photocut/PhotoShopDialogs.h"
#include "photocut/PhotoView.h"
#include "photocut/fraPhotoShop.h"
#include "bench/BenchSupport.h"

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
    void ShowMessage(QWidget*, const QString&) override {}
    void ShowError(QWidget*, const QString& text) override {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
};

// A photo-like picture: smooth gradients with fine texture, so that the JPEG has a
// camera photo's size rather than a flat picture's.
QImage Scene(int width, int height) {
    QImage picture(width, height, QImage::Format_BGR888);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        uchar* p = picture.scanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 28) - 8;
            p[0] = uchar(qBound(0, 40 + 180 * y / height + grain, 255));
            p[1] = uchar(qBound(0, 60 + 120 * x / width + grain, 255));
            p[2] = uchar(qBound(0, 220 - 160 * (x + y) / (width + height) + grain, 255));
        }
    }
    return picture;
}

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
    frame.NewPhoto(Scene(3876, 2584));
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
        if (!PhotoPipeline::EncodeJpeg(Scene(4000, 3000), 90, jpeg, why)) {
            std::fprintf(stderr, "cannot make the test JPEG: %s\n", qPrintable(why));
            return 1;
        }
        QFile file(choice->path);
        file.open(QIODevice::WriteOnly);
        file.write(jpeg);
    }
    std::vector<double> plain;
    std::vector<double> load;
    for (int i = 0; i < 7; ++i) {
        plain.push_back(PlainDecodeMs(choice->path));
        const auto start = Clock::now();
        frame.bsSkinButton1Click();
        frame.ImgSource->repaint();
        load.push_back(MsSince(start));
        if (frame.ImgSave().size() != QSize(4000, 3000)) {
            std::fprintf(stderr, "the file did not load\n");
            return 1;
        }
    }

    const double loadMs = Median(load);
    const double plainMs = Median(plain);
    std::printf("cut_render_ms %.3f ms\n", Median(render));
    std::printf("load_12mp_jpeg_ms %.1f ms\n", loadMs);
    std::printf("plain_decode_12mp_jpeg_ms %.1f ms\n", plainMs);
    std::printf("load_to_plain_decode_ratio %.3f\n", plainMs > 0 ? loadMs / plainMs : 0.0);
    return 0;
}
