// Photo files by content, decoded defensively.
#include "photocut/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QPainter>

namespace ImageFile {

namespace {

// A progressive stream may hold any number of scans and each one costs a pass over the
// whole coefficient buffer; real encoders write a dozen at most.
constexpr int kMaxJpegScans = 1000;

QString TooLarge(qint64 width, qint64 height) {
    return QStringLiteral("图片尺寸 %1 x %2 过大, 解码需要超过 256 MB 内存.")
        .arg(width)
        .arg(height);
}

QString ZeroSize() {
    return QStringLiteral("图片的宽度或高度为零.");
}

bool FitsInMemory(qint64 width, qint64 height, int bytesPerPixel) {
    return width * height * bytesPerPixel <= kMaxBytes;
}

// --- JPEG ------------------------------------------------------------------------------

struct TJpegErrors {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
    info->err->format_message(info, errors->Message);
    std::longjmp(errors->Jump, 1);
}

// Level -1 is a warning: corrupt data or a premature end of the stream, after which
// libjpeg would carry on with grey rows. A picture with made-up rows is not the user's
// photo, so a warning ends the decoding like an error. Trace messages are ignored.
void JpegEmitMessage(j_common_ptr info, int level) {
    if (level < 0) {
        JpegErrorExit(info);
    }
}

void JpegSilence(j_common_ptr) {}

struct TJpegJob {
    jpeg_decompress_struct Info;
    TJpegErrors Errors;
    jpeg_progress_mgr Progress;
    const QByteArray* Data = nullptr;
    QImage Picture;
    bool Oversize = false;
    bool OutOfMemory = false;
};

void JpegProgress(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxJpegScans) {
        auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
        std::snprintf(errors->Message, sizeof errors->Message, "more than %d scans", kMaxJpegScans);
        std::longjmp(errors->Jump, 1);
    }
}

// Kept out of RunDecompress so that no object with a destructor lives in the frame
// that longjmp returns to.
bool AllocatePicture(TJpegJob& job, int width, int height) {
    job.Picture = QImage(width, height, QImage::Format_BGR888);
    job.OutOfMemory = job.Picture.isNull();
    return !job.OutOfMemory;
}

// Adobe writes CMYK inverted (255 = no ink); others write it plain.
void CmykRowToBgr(const JSAMPLE* cmyk, uchar* bgr, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[0] = uchar(y * k / 255);
        bgr[1] = uchar(m * k / 255);
        bgr[2] = uchar(c * k / 255);
    }
}

bool RunDecompress(TJpegJob& job) {
    if (setjmp(job.Errors.Jump)) {
        return false;
    }
    jpeg_decompress_struct& info = job.Info;
    jpeg_create_decompress(&info);
    // Without a backing store, libjpeg refuses work arrays beyond this instead of
    // allocating them (a progressive stream keeps all its coefficients).
    info.mem->max_memory_to_use = long(kMaxBytes);
    info.progress = &job.Progress;
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(job.Data->constData()),
                 static_cast<unsigned long>(job.Data->size()));
    jpeg_read_header(&info, TRUE);
    if (!FitsInMemory(info.image_width, info.image_height, 3)) {
        job.Oversize = true;
        return false;
    }
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    if (!AllocatePicture(job, int(info.output_width), int(info.output_height))) {
        return false;
    }
    // Freed with the decompressor.
    JSAMPARRAY cmykRow = cmyk ? (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info),
                                                          JPOOL_IMAGE, info.output_width * 4, 1)
                              : nullptr;
    while (info.output_scanline < info.output_height) {
        uchar* line = job.Picture.scanLine(int(info.output_scanline));
        if (cmyk) {
            jpeg_read_scanlines(&info, cmykRow, 1);
            CmykRowToBgr(cmykRow[0], line, info.output_width, info.saw_Adobe_marker);
        } else {
            JSAMPROW row = line;
            jpeg_read_scanlines(&info, &row, 1);
        }
    }
    jpeg_finish_decompress(&info);
    return true;
}

// --- BMP and PNG ----------------------------------------------------------------------

quint32 Le32(const QByteArray& d, int at) {
    const auto* p = reinterpret_cast<const uchar*>(d.constData()) + at;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 Le16(const QByteArray& d, int at) {
    const auto* p = reinterpret_cast<const uchar*>(d.constData()) + at;
    return quint16(p[0] | p[1] << 8);
}

quint32 Be32(const QByteArray& d, qsizetype at) {
    const auto* p = reinterpret_cast<const uchar*>(d.constData()) + at;
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

// Turns whatever Qt decoded into the frame's one format; transparent parts become white,
// as they would print.
QImage ToBgr888(const QImage& image) {
    if (!image.hasAlphaChannel()) {
        return image.convertToFormat(QImage::Format_BGR888);
    }
    QImage flat(image.size(), QImage::Format_RGB32);
    if (flat.isNull()) {
        return flat;
    }
    flat.fill(Qt::white);
    {
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
    }
    return flat.convertToFormat(QImage::Format_BGR888);
}

TDecoded ReadWithQt(const QByteArray& data, const char* format) {
    QByteArray copy = data;  // shares the bytes; QBuffer wants a non-const array
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoTransform(false);
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        return {QImage(), QStringLiteral("无法解码图片 (%1).").arg(reader.errorString())};
    }
    QImage picture = ToBgr888(image);
    if (picture.isNull()) {
        return {QImage(), QStringLiteral("内存不足, 无法解码图片.")};
    }
    return {picture, QString()};
}

}  // namespace

TKind KindOf(const QByteArray& head) {
    if (head.startsWith("\xFF\xD8\xFF")) {
        return TKind::Jpeg;
    }
    if (head.startsWith("\x89PNG\r\n\x1A\n")) {
        return TKind::Png;
    }
    if (head.startsWith("BM")) {
        return TKind::Bmp;
    }
    return TKind::Unknown;
}

TDecoded DecodeJpeg(const QByteArray& data) {
    auto job = std::make_unique<TJpegJob>();
    std::memset(&job->Info, 0, sizeof job->Info);
    job->Info.err = jpeg_std_error(&job->Errors.Pub);
    job->Errors.Pub.error_exit = JpegErrorExit;
    job->Errors.Pub.emit_message = JpegEmitMessage;
    job->Errors.Pub.output_message = JpegSilence;
    job->Errors.Message[0] = '\0';
    job->Progress.progress_monitor = JpegProgress;
    job->Data = &data;

    const bool ok = RunDecompress(*job);
    const int code = job->Errors.Pub.msg_code;
    const qint64 width = job->Info.image_width;
    const qint64 height = job->Info.image_height;
    jpeg_destroy_decompress(&job->Info);
    if (ok) {
        return {std::move(job->Picture), QString()};
    }
    if (job->Oversize) {
        return {QImage(), TooLarge(width, height)};
    }
    if (job->OutOfMemory) {
        return {QImage(), QStringLiteral("内存不足, 无法解码图片.")};
    }
    if (code == JERR_EMPTY_IMAGE) {
        return {QImage(), ZeroSize()};
    }
    if (code == JWRN_JPEG_EOF) {
        return {QImage(), QStringLiteral("JPEG 数据不完整, 文件被截断.")};
    }
    return {QImage(),
            QStringLiteral("JPEG 数据损坏 (%1).").arg(QString::fromLocal8Bit(job->Errors.Message))};
}

TDecoded DecodeBmp(const QByteArray& data) {
    const QString lying = QStringLiteral("BMP 文件头与文件内容不符 (文件被截断或文件头有误).");
    if (data.size() < 26 || !data.startsWith("BM")) {
        return {QImage(), lying};
    }
    const quint32 offBits = Le32(data, 10);
    const quint32 headerSize = Le32(data, 14);
    qint64 width = 0;
    qint64 height = 0;
    int bitCount = 0;
    quint32 compression = 0;
    if (headerSize == 12) {  // OS/2 core header: unsigned 16-bit sizes
        width = Le16(data, 18);
        height = Le16(data, 20);
        bitCount = Le16(data, 24);
    } else if (headerSize >= 40 && headerSize <= 124 && data.size() >= 14 + 40) {
        width = qint32(Le32(data, 18));
        height = qint32(Le32(data, 22));  // negative: rows top-down
        bitCount = Le16(data, 28);
        compression = Le32(data, 30);
    } else {
        return {QImage(), lying};
    }
    if (width == 0 || height == 0) {
        return {QImage(), ZeroSize()};
    }
    if (width < 0 || offBits > quint32(data.size())) {
        return {QImage(), lying};
    }
    height = qAbs(height);
    if (!FitsInMemory(width, height, 4)) {  // Qt decodes into 32-bit pixels
        return {QImage(), TooLarge(width, height)};
    }
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
    if (uncompressed) {
        const qint64 stride = (width * bitCount + 31) / 32 * 4;
        if (bitCount == 0 || qint64(offBits) + stride * height > data.size()) {
            return {QImage(), lying};
        }
    }
    return ReadWithQt(data, "bmp");
}

TDecoded DecodePng(const QByteArray& data) {
    const QString truncated = QStringLiteral("PNG 数据不完整, 文件被截断.");
    // Walk the chunks to the end marker first, so that a cut-off file is called what it
    // is rather than whatever the decoder makes of the missing data.
    constexpr qsizetype kSignature = 8;
    qsizetype at = kSignature;
    bool sawEnd = false;
    while (at + 8 <= data.size()) {
        const qint64 length = Be32(data, at);
        const QByteArray type = data.mid(at + 4, 4);
        at += 12 + length;
        if (at > data.size()) {
            break;
        }
        if (type == "IEND") {
            sawEnd = true;
            break;
        }
    }
    if (!sawEnd) {
        return {QImage(), truncated};
    }
    if (data.size() < 24 || data.mid(12, 4) != "IHDR") {
        return {QImage(), QStringLiteral("PNG 文件头有误.")};
    }
    const qint64 width = Be32(data, 16);
    const qint64 height = Be32(data, 20);
    if (width == 0 || height == 0) {
        return {QImage(), ZeroSize()};
    }
    if (!FitsInMemory(width, height, 8)) {  // up to 16 bits per channel with alpha
        return {QImage(), TooLarge(width, height)};
    }
    return ReadWithQt(data, "png");
}

TDecoded Load(const QString& path) {
    auto failed = [&path](const QString& why) {
        return TDecoded{QImage(), QStringLiteral("无法读取照片文件 \"%1\":\n%2")
                                      .arg(QDir::toNativeSeparators(path), why)};
    };
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so that a FIFO or a device cannot hold the window.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return failed(qt_error_string(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return failed(qt_error_string(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return failed(QStringLiteral("这不是一个普通文件."));
    }
    if (st.st_size == 0) {
        return failed(QStringLiteral("文件是空的."));
    }
    if (st.st_size > kMaxBytes) {
        return failed(QStringLiteral("文件大于 256 MB."));
    }
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return failed(qt_error_string(errno));
        }
        if (n == 0) {
            break;  // shrank while being read: decode what is there, the decoder judges it
        }
        got += n;
    }
    data.truncate(got);

    TDecoded decoded;
    switch (KindOf(data)) {
        case TKind::Jpeg:
            decoded = DecodeJpeg(data);
            break;
        case TKind::Bmp:
            decoded = DecodeBmp(data);
            break;
        case TKind::Png:
            decoded = DecodePng(data);
            break;
        case TKind::Unknown:
            return failed(QStringLiteral("文件内容不是 JPEG、BMP 或 PNG 图片."));
    }
    if (!decoded.Error.isEmpty()) {
        return failed(decoded.Error);
    }
    return decoded;
}

}  // namespace ImageFile
