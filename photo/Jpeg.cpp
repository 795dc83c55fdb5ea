// JPEG encoding of a photograph through libjpeg, with hooks for work done alongside.
#include "photo/Jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>

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

struct TJpegJob {
    jpeg_compress_struct Info;
    TJpegErrors Errors;
    TJpegDestination Destination;
    QByteArray Data;
    const QImage* Photo;
    int Quality;
    const TJpegHooks* Hooks;
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

void PrepareRows(const TJpegHooks& hooks, int first, int count) noexcept {
    if (hooks.PrepareRows) {
        try {
            hooks.PrepareRows(first, count);
        } catch (...) {
        }
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
    jpeg_start_compress(&info, TRUE);
    JSAMPROW rows[16];
    while (info.next_scanline < info.image_height) {
        const JDIMENSION first = info.next_scanline;
        const JDIMENSION count = qMin<JDIMENSION>(16, info.image_height - first);
        PrepareRows(*job.Hooks, int(first), int(count));
        for (JDIMENSION i = 0; i < count; ++i) {
            // libjpeg only reads the rows it is given.
            rows[i] = const_cast<JSAMPROW>(job.Photo->constScanLine(int(first + i)));
        }
        jpeg_write_scanlines(&info, rows, count);
    }
    jpeg_finish_compress(&info);
    return true;
}

}  // namespace

bool EncodeJpeg(const QImage& photo, int quality, QByteArray& out, QString& error,
                const TJpegHooks& hooks) {
    if (!photo.isNull() && photo.format() != QImage::Format_BGR888) {
        error = QStringLiteral("照片不是 24 位 BGR 格式");
        return false;
    }
    auto job = std::make_unique<TJpegJob>();
    std::memset(&job->Info, 0, sizeof job->Info);
    job->Info.err = jpeg_std_error(&job->Errors.Pub);
    job->Errors.Pub.error_exit = JpegErrorExit;
    job->Errors.Pub.output_message = JpegSilence;
    job->Errors.Message[0] = '\0';
    job->Destination.Pub.init_destination = DestinationInit;
    job->Destination.Pub.empty_output_buffer = DestinationEmpty;
    job->Destination.Pub.term_destination = DestinationTerm;
    job->Destination.Data = &job->Data;
    job->Destination.Hooks = &hooks;
    job->Destination.Passed = 0;
    job->Destination.WindowStart = 0;
    job->Destination.WindowSize = 0;
    job->Hooks = &hooks;
    job->Photo = &photo;
    job->Quality = quality;

    const bool ok = RunCompress(*job);
    jpeg_destroy_compress(&job->Info);
    if (!ok) {
        error = QString::fromLocal8Bit(job->Errors.Message);
        return false;
    }
    out = std::move(job->Data);
    return true;
}

}  // namespace PhotoPipeline
