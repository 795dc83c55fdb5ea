// JPEG encoding of a photograph through libjpeg, streamed as it is compressed.
#include "photo/Jpeg.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include <jpeglib.h>
#include <jerror.h>

#include "photo/Grey.h"
#include "photo/PictureMemory.h"
#include "photo/Simd.h"

namespace PhotoPipeline {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps
// back to the setjmp in RunCompress. Everything the jump crosses is plain C state.
struct TJpegErrors {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

// Compressed bytes go straight into a QByteArray. With an Output hook, libjpeg is
// handed at most one window at a time, so that each finished window can be passed on
// while the rest is still being compressed.
//
// libjpeg's contract: when it calls empty_output_buffer the whole window it was given
// is full, whatever next_output_byte and free_in_buffer say (its entropy coder keeps
// private copies of them and does not write them back). So the destination remembers
// each window it exposes and trusts only that.
struct TJpegDestination {
    jpeg_destination_mgr Pub;
    QByteArray* Data;
    const TJpegHooks* Hooks;
    qsizetype Passed;       // bytes already handed to Hooks->Output
    qsizetype WindowStart;  // offset of the window libjpeg is filling
    qsizetype WindowSize;   // its size in bytes
};

constexpr qsizetype OutputWindow = 1 << 20;

// 4:2:0 from the defaults: libjpeg takes 16 luma rows (two rows of blocks) at a time.
constexpr int BandRows = 16;

struct TJpegJob {
    jpeg_compress_struct Info;
    TJpegErrors Errors;
    TJpegDestination Destination;
    QByteArray Data;
    // The source: B, G, R rows of Photo, or, when BlackAndWhite, Photo turned grey band by
    // band with its grey values in Luma (16 rows of LumaStride bytes) and Neutral (enough
    // 128s for the widest chroma row) as both chroma planes.
    const QImage* Photo;
    bool BlackAndWhite;
    int GreyedTo;  // rows of Photo already grey
    TPictureMemory Luma{nullptr, {0}};
    size_t LumaStride;
    std::unique_ptr<uint8_t[]> Neutral;
    int Quality;
    const TJpegHooks* Hooks;
    // With a maker the photo's bands are made on a second thread (MakeBands), which in
    // black and white also turns each band grey, its luma going to Luma, which then holds
    // every band. Made counts the bands finished. The maker never waits for libjpeg: a
    // handshake per band cost more than the second thread gained.
    const TMakeRows* Maker = nullptr;
    uint8_t* Bits = nullptr;  // the photo's rows, for the maker's thread
    qsizetype Stride = 0;
    int Width = 0, Height = 0;
    std::atomic<int> Made{0};
};

void JpegErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->Message);
    std::longjmp(errors->Jump, 1);
}

void JpegSilence(j_common_ptr) {
    // Warnings do not fail a photograph and nothing is logged.
}

// Resizes without letting an exception reach libjpeg's C frames.
bool TryResize(QByteArray& data, qsizetype size) {
    try {
        data.resize(size);
        return data.size() == size;
    } catch (...) {
        return false;
    }
}

// Hands [Passed, end) to the Output hook; a hook must not throw into libjpeg.
void PassOn(TJpegDestination& dest, qsizetype end) {
    if (dest.Hooks->Output && end > dest.Passed) {
        try {
            dest.Hooks->Output(dest.Data->constData() + dest.Passed, size_t(end - dest.Passed));
        } catch (...) {
        }
    }
    dest.Passed = end;
}

// Makes room after `used` bytes and exposes the next window of it to libjpeg.
bool Expose(TJpegDestination& dest, qsizetype used) {
    const qsizetype want = dest.Hooks->Output ? OutputWindow : qMax<qsizetype>(used, 64 * 1024);
    if (dest.Data->size() - used < want &&
        !TryResize(*dest.Data, qMax(dest.Data->size() * 2, used + want))) {
        return false;
    }
    dest.WindowStart = used;
    dest.WindowSize = dest.Hooks->Output ? want : dest.Data->size() - used;
    dest.Pub.next_output_byte = reinterpret_cast<JOCTET*>(dest.Data->data() + used);
    dest.Pub.free_in_buffer = size_t(dest.WindowSize);
    return true;
}

void DestinationInit(j_compress_ptr info) {
    auto* dest = reinterpret_cast<TJpegDestination*>(info->dest);
    // Room for a typical encoding at once: pages never written are never touched.
    const qsizetype initial =
        qMax<qsizetype>(64 * 1024, qsizetype(info->image_width) * info->image_height / 2);
    if (!TryResize(*dest->Data, initial) || !Expose(*dest, 0)) {
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    }
}

boolean DestinationEmpty(j_compress_ptr info) {
    auto* dest = reinterpret_cast<TJpegDestination*>(info->dest);
    const qsizetype used = dest->WindowStart + dest->WindowSize;  // the whole window is full
    PassOn(*dest, used);
    if (!Expose(*dest, used)) {
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 1);
    }
    return TRUE;
}

void DestinationTerm(j_compress_ptr info) {
    // Here, unlike in DestinationEmpty, free_in_buffer is up to date.
    auto* dest = reinterpret_cast<TJpegDestination*>(info->dest);
    const qsizetype used =
        dest->WindowStart + dest->WindowSize - qsizetype(dest->Pub.free_in_buffer);
    PassOn(*dest, used);
    dest->Data->resize(used);
}

// The padding libjpeg would add itself: each row's last pixel repeated up to whole
// 8-pixel blocks, and rows below the picture repeating its last row.
void PadLumaBand(uint8_t* const* luma, int count, int width) {
    const int padded = (width + 7) & ~7;
    for (int i = 0; i < count; ++i) {
        std::memset(luma[i] + width, luma[i][width - 1], size_t(padded - width));
    }
    for (int i = count; i < BandRows; ++i) {
        std::memcpy(luma[i], luma[count - 1], size_t(padded));
    }
}

// The luma rows of `band` in a Luma that holds every band.
void LumaBandRows(TJpegJob& job, int band, uint8_t** rows) {
    uint8_t* first = &job.Luma[size_t(band) * BandRows * job.LumaStride];
    for (int i = 0; i < BandRows; ++i) {
        rows[i] = first + size_t(i) * job.LumaStride;
    }
}

// The maker's thread: every band of the photo, top to bottom, whatever becomes of the
// encoding (the photo is complete afterwards).
void MakeBands(TJpegJob& job) {
    const int bands = (job.Height + BandRows - 1) / BandRows;
    for (int band = 0; band < bands; ++band) {
        const int first = band * BandRows, count = qMin(BandRows, job.Height - first);
        (*job.Maker)(first, count);
        if (job.BlackAndWhite) {
            uint8_t* luma[BandRows];
            LumaBandRows(job, band, luma);
            GreyPixelRows(job.Bits, job.Stride, job.Width, first, count, luma);
            PadLumaBand(luma, count, job.Width);
        }
        job.Made.store(band + 1, std::memory_order_release);
        job.Made.notify_one();
    }
}

// libjpeg's thread: returns once the maker has finished `band`.
void AwaitBand(TJpegJob& job, int band) {
    for (int made = job.Made.load(std::memory_order_acquire); made <= band;
         made = job.Made.load(std::memory_order_acquire)) {
        job.Made.wait(made, std::memory_order_acquire);
    }
}

void WriteRows(TJpegJob& job) {
    jpeg_compress_struct& info = job.Info;
    JSAMPROW rows[BandRows];
    while (info.next_scanline < info.image_height) {
        const JDIMENSION first = info.next_scanline;
        const JDIMENSION count = qMin<JDIMENSION>(BandRows, info.image_height - first);
        if (job.Maker) {
            AwaitBand(job, int(first) / BandRows);
        }
        for (JDIMENSION i = 0; i < count; ++i) {
            // libjpeg only reads the rows it is given.
            rows[i] = const_cast<JSAMPROW>(job.Photo->constScanLine(int(first + i)));
        }
        jpeg_write_scanlines(&info, rows, count);
    }
}

// One iMCU row (16 luma rows, 8 of each chroma) per call: the band is turned grey in
// place, its grey values going to Luma in the same pass, while libjpeg is about to read
// them (or, with a maker, the maker's thread has done that into Luma).
void WriteBlackAndWhiteBands(TJpegJob& job) {
    jpeg_compress_struct& info = job.Info;
    // 4:2:0 from the defaults: two luma rows of blocks, one of each chroma, per band.
    const JDIMENSION band = JDIMENSION(info.max_v_samp_factor * DCTSIZE);
    if (band != 16 || info.comp_info[1].v_samp_factor != 1 ||
        info.comp_info[2].v_samp_factor != 1) {
        ERREXIT(&info, JERR_BAD_SAMPLING);
    }
    QImage& photo = *const_cast<QImage*>(job.Photo);
    JSAMPROW luma[BandRows], chroma[8];
    for (JDIMENSION i = 0; i < band; ++i) {
        luma[i] = &job.Luma[i * job.LumaStride];
    }
    for (JSAMPROW& row : chroma) {
        row = job.Neutral.get();
    }
    JSAMPARRAY planes[3] = {luma, chroma, chroma};
    while (info.next_scanline < info.image_height) {
        const int first = int(info.next_scanline);
        const int count = qMin(int(band), photo.height() - first);
        if (job.Maker) {
            AwaitBand(job, first / BandRows);
            LumaBandRows(job, first / BandRows, luma);
        } else {
            GreyRows(photo, first, count, luma);
            job.GreyedTo = first + count;
            PadLumaBand(luma, count, photo.width());
        }
        jpeg_write_raw_data(&info, planes, band);
    }
}

bool RunCompress(TJpegJob& job) {
    // No object with a destructor may live in this frame: longjmp lands here.
    if (setjmp(job.Errors.Jump)) {
        return false;
    }
    jpeg_compress_struct& info = job.Info;
    jpeg_create_compress(&info);
    info.dest = &job.Destination.Pub;
    info.image_width = JDIMENSION(job.Photo->width());
    info.image_height = JDIMENSION(job.Photo->height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;  // the photo's own byte order: no conversion copy
    jpeg_set_defaults(&info);           // JFIF, YCbCr 4:2:0, standard tables, integer DCT
    jpeg_set_quality(&info, job.Quality, TRUE);
    if (const int dpi = job.Hooks->Dpi; dpi > 0) {
        info.density_unit = 1;  // dots per inch
        info.X_density = info.Y_density = UINT16(std::min(dpi, 0xFFFF));
    }
    // Same components, sampling and tables either way; only the input differs.
    info.raw_data_in = job.BlackAndWhite ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);  // writes SOI and the JFIF header
    if (const QByteArray& exif = job.Hooks->Exif; !exif.isEmpty()) {
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(exif.constData()),
                          unsigned(exif.size()));
    }
    if (job.BlackAndWhite) {
        WriteBlackAndWhiteBands(job);
    } else {
        WriteRows(job);
    }
    jpeg_finish_compress(&info);
    return true;
}

bool Encode(TJpegJob& job, QByteArray& out, QString& error) {
    std::memset(&job.Info, 0, sizeof job.Info);
    job.Info.err = jpeg_std_error(&job.Errors.Pub);
    job.Errors.Pub.error_exit = JpegErrorExit;
    job.Errors.Pub.output_message = JpegSilence;
    job.Errors.Message[0] = '\0';
    job.Destination.Pub.init_destination = DestinationInit;
    job.Destination.Pub.empty_output_buffer = DestinationEmpty;
    job.Destination.Pub.term_destination = DestinationTerm;
    job.Destination.Data = &job.Data;
    job.Destination.Hooks = job.Hooks;
    job.Destination.Passed = 0;
    job.Destination.WindowStart = 0;
    job.Destination.WindowSize = 0;

    // libjpeg-turbo's entropy coder is SSE2 code: entered with dirty upper vector halves,
    // a grainy photograph took 7% longer.
    ClearUpperVectorState();
    std::thread maker;
    if (job.Maker) {
        try {
            maker = std::thread([&job] { MakeBands(job); });
        } catch (...) {
            // No second thread: the photo is made whole first, then encoded as usual.
            (*job.Maker)(0, job.Height);
            job.Maker = nullptr;
        }
    }
    const bool ok = RunCompress(job);
    if (maker.joinable()) {
        maker.join();  // also after a failure: the photo is made whole
    }
    jpeg_destroy_compress(&job.Info);
    if (!ok) {
        error = QString::fromLocal8Bit(job.Errors.Message);
        return false;
    }
    out = std::move(job.Data);
    return true;
}

// A job for `photo`, or none (with `error` set) when it is not in B, G, R rows.
std::unique_ptr<TJpegJob> NewJob(const QImage& photo, int quality, const TJpegHooks& hooks,
                                 bool blackAndWhite, QString& error) {
    if (!photo.isNull() && photo.format() != QImage::Format_BGR888) {
        error = QStringLiteral("照片不是 24 位 BGR 格式");
        return nullptr;
    }
    auto job = std::make_unique<TJpegJob>();
    job->Photo = &photo;
    job->BlackAndWhite = blackAndWhite;
    job->GreyedTo = 0;
    job->Hooks = &hooks;
    job->Quality = quality;
    return job;
}

// Luma rows of whole blocks for `bands` bands, and the widest chroma row (whole blocks
// over half the width) of 128s. false when memory is short.
bool AllocateLuma(TJpegJob& job, int bands) {
    const size_t width = size_t(job.Photo->width());
    job.LumaStride = (width + 7 + 63) & ~size_t(63);
    const size_t neutral = width / 2 + 16;
    // Every band of a large photo is some 10 MB: memory that is reused, not faulted in
    // afresh for each photograph.
    job.Luma = AllocatePictureMemory(size_t(bands) * BandRows * job.LumaStride);
    job.Neutral.reset(new (std::nothrow) uint8_t[neutral]);
    if (!job.Luma || !job.Neutral) {
        return false;
    }
    std::memset(job.Neutral.get(), 128, neutral);
    return true;
}

}  // namespace

bool EncodeJpeg(const QImage& photo, int quality, QByteArray& out, QString& error,
                const TJpegHooks& hooks) {
    const auto job = NewJob(photo, quality, hooks, false, error);
    return job && Encode(*job, out, error);
}

bool EncodeBlackAndWhiteJpeg(QImage& photo, int quality, QByteArray& out, QString& error,
                             const TJpegHooks& hooks) {
    const auto job = NewJob(photo, quality, hooks, true, error);
    if (!job) {
        return false;
    }
    if (!photo.isNull() && !AllocateLuma(*job, 1)) {
        ToGrey(photo);
        error = QStringLiteral("内存不足");
        return false;
    }
    const bool ok = Encode(*job, out, error);
    GreyRows(photo, job->GreyedTo, photo.height() - job->GreyedTo);  // rows not reached
    return ok;
}

bool EncodeJpegWhileMaking(QImage& photo, bool blackAndWhite, int quality,
                           const TMakeRows& makeRows, QByteArray& out, QString& error,
                           const TJpegHooks& hooks) {
    // The maker writes the rows it is given through its own pointer: a shared picture
    // would be copied by the first write here, and libjpeg would read the copy.
    if (!photo.isDetached() || !makeRows || photo.format() != QImage::Format_BGR888) {
        if (makeRows) {
            makeRows(0, photo.height());
        }
        return blackAndWhite ? EncodeBlackAndWhiteJpeg(photo, quality, out, error, hooks)
                             : EncodeJpeg(photo, quality, out, error, hooks);
    }
    const auto job = NewJob(photo, quality, hooks, blackAndWhite, error);
    if (!job) {
        makeRows(0, photo.height());
        return false;
    }
    if (blackAndWhite && !photo.isNull() &&
        !AllocateLuma(*job, (photo.height() + BandRows - 1) / BandRows)) {
        makeRows(0, photo.height());
        ToGrey(photo);
        error = QStringLiteral("内存不足");
        return false;
    }
    job->Maker = &makeRows;
    job->Bits = photo.bits();  // not shared: no copy
    job->Stride = photo.bytesPerLine();
    job->Width = photo.width();
    job->Height = photo.height();
    const bool ok = Encode(*job, out, error);
    if (!job->Maker && blackAndWhite) {
        // Made whole without a second thread: grey like EncodeBlackAndWhiteJpeg.
        GreyRows(photo, job->GreyedTo, photo.height() - job->GreyedTo);
    }
    return ok;
}

}  // namespace PhotoPipeline
