// Picture files by content, decoded strictly and within a budget.
#include "photocut/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QTransform>

namespace ImageFile {

namespace {

// --- Sizes and the budget -------------------------------------------------------------

// a x b in 64 bits, or -1 when either is negative or the product does not fit.
qint64 Times(qint64 a, qint64 b) {
    qint64 product = 0;
    if (a < 0 || b < 0 || __builtin_mul_overflow(a, b, &product)) {
        return -1;
    }
    return product;
}

// The bytes of a width x height picture at bytesPerPixel, or -1 beyond 64 bits.
qint64 PictureBytes(qint64 width, qint64 height, qint64 bytesPerPixel) {
    return Times(Times(width, height), bytesPerPixel);
}

bool Within(qint64 amount, qint64 limit) {
    return amount >= 0 && amount <= limit;
}

QString Megabytes(qint64 bytes) {
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

QString TooLarge(qint64 width, qint64 height, qint64 bytes, const TBudget& budget) {
    return QStringLiteral("图片尺寸 %1 x %2 过大, 解码需要 %3 内存, 超过 %4 MB 的上限.")
        .arg(width)
        .arg(height)
        .arg(bytes < 0 ? QStringLiteral("远超 16 EB 的") : Megabytes(bytes) + QStringLiteral(" MB"))
        .arg(Megabytes(budget.Bytes));
}

QString ZeroSize() {
    return QStringLiteral("图片的宽度或高度为零.");
}

QString OutOfMemory() {
    return QStringLiteral("内存不足, 无法解码图片.");
}

bool IsCancelled(const TCancelFlag* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

TDecoded Cancelled() {
    TDecoded decoded;
    decoded.Cancelled = true;
    return decoded;
}

TDecoded Refused(const QString& why) {
    TDecoded decoded;
    decoded.Error = why;
    return decoded;
}

// --- JPEG structure -------------------------------------------------------------------

// What the markers of a JPEG say, read before libjpeg sees the data: the frame's size
// and how many scans the decoder will make over it.
struct TJpegLayout {
    qint64 Width = 0;
    qint64 Height = 0;
    qint64 Scans = 0;
    bool HasFrame = false;
    bool Ended = false;  // an end marker follows the last scan
    int Orientation = 1;  // the EXIF orientation, 1 (as stored) to 8
};

// The orientation tag (0x0112) of IFD0 in an APP1 segment's body ("Exif\0\0", then a
// TIFF structure), or 1 when there is none or anything about it is out of place: a
// photograph is never refused for its metadata. Every offset is checked against the
// segment before it is read.
int ExifOrientation(const uchar* body, qint64 length) {
    if (length < 6 + 8 || std::memcmp(body, "Exif\0\0", 6) != 0) {
        return 1;
    }
    const uchar* tiff = body + 6;
    const qint64 size = length - 6;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) {
        return 1;
    }
    auto u16 = [&](qint64 at) {
        return little ? uint32_t(tiff[at]) | uint32_t(tiff[at + 1]) << 8
                      : uint32_t(tiff[at]) << 8 | uint32_t(tiff[at + 1]);
    };
    auto u32 = [&](qint64 at) {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    if (u16(2) != 42) {
        return 1;
    }
    const qint64 ifd = u32(4);
    if (ifd < 8 || ifd + 2 > size) {
        return 1;
    }
    const qint64 entries = u16(ifd);
    if (ifd + 2 + 12 * entries > size) {
        return 1;  // a directory that does not fit is not believed in any part
    }
    for (qint64 i = 0; i < entries; ++i) {
        const qint64 entry = ifd + 2 + 12 * i;
        // A SHORT, one of it, its value in the entry itself.
        if (u16(entry) == 0x0112) {
            const uint32_t value = u16(entry + 8);
            return u16(entry + 2) == 3 && u32(entry + 4) == 1 && value >= 1 && value <= 8
                       ? int(value)
                       : 1;
        }
    }
    return 1;
}

// The picture as the camera that took it was held: the EXIF orientation undone.
QImage Oriented(QImage picture, int orientation) {
    QTransform turn;
    switch (orientation) {
        case 2:
            return picture.mirrored(true, false);
        case 3:
            return picture.mirrored(true, true);
        case 4:
            return picture.mirrored(false, true);
        case 5:  // stored transposed
            return picture.transformed(turn.rotate(90)).mirrored(true, false);
        case 6:
            return picture.transformed(turn.rotate(90));
        case 7:  // stored transposed the other way
            return picture.transformed(turn.rotate(90)).mirrored(false, true);
        case 8:
            return picture.transformed(turn.rotate(270));
        default:
            return picture;
    }
}

bool IsFrameMarker(uchar marker) {
    // SOF0..SOF15, except DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
           marker != 0xCC;
}

// Walks the marker segments and skips each scan's entropy-coded data (which ends at the
// first 0xFF that is neither stuffing, a fill byte nor a restart marker). Returns empty,
// or why the structure is broken.
QString WalkJpeg(const QByteArray& data, TJpegLayout& layout) {
    const auto* p = reinterpret_cast<const uchar*>(data.constData());
    const qint64 size = data.size();
    const QString broken = QStringLiteral("JPEG 文件结构有误.");
    qint64 at = 2;  // after SOI
    while (at < size) {
        if (p[at] != 0xFF) {
            return broken;
        }
        while (at < size && p[at] == 0xFF) {  // fill bytes
            ++at;
        }
        if (at >= size) {
            break;
        }
        const uchar marker = p[at++];
        if (marker == 0xD9) {
            layout.Ended = true;
            return {};
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            continue;  // no length follows
        }
        if (marker == 0xD8 || marker == 0x00) {
            return broken;
        }
        if (at + 2 > size) {
            break;
        }
        const qint64 length = qint64(p[at]) << 8 | p[at + 1];
        if (length < 2) {
            return broken;
        }
        const qint64 body = at + 2;
        at += length;
        if (at > size) {
            break;
        }
        // The first EXIF block is the one that counts, as every reader takes it.
        if (marker == 0xE1 && !layout.HasFrame && layout.Orientation == 1) {
            layout.Orientation = ExifOrientation(p + body, length - 2);
        }
        if (IsFrameMarker(marker) && !layout.HasFrame) {
            if (length < 8) {
                return broken;
            }
            layout.HasFrame = true;
            layout.Height = qint64(p[body + 1]) << 8 | p[body + 2];
            layout.Width = qint64(p[body + 3]) << 8 | p[body + 4];
        }
        if (marker != 0xDA) {
            continue;
        }
        ++layout.Scans;
        // Entropy-coded data up to the next real marker.
        for (;;) {
            const void* ff = std::memchr(p + at, 0xFF, size_t(size - at));
            if (!ff) {
                at = size;
                break;
            }
            at = static_cast<const uchar*>(ff) - p;
            qint64 next = at + 1;
            while (next < size && p[next] == 0xFF) {
                ++next;
            }
            if (next >= size) {
                at = size;
                break;
            }
            if (p[next] == 0x00 || (p[next] >= 0xD0 && p[next] <= 0xD7)) {
                at = next + 1;
                continue;
            }
            at = next - 1;  // the 0xFF before the marker
            break;
        }
    }
    return {};  // no end marker: the file was cut
}

// --- JPEG decoding --------------------------------------------------------------------

// The largest piece of the file libjpeg sees at once. libjpeg-turbo's sequential Huffman
// decoder takes a fast path while at least 512 bytes per block of an MCU are buffered,
// and that path reads a corrupt code as "nothing" without a warning; below it, every
// code is checked and a corrupt one is reported.
constexpr size_t kSourceWindow = 256;

struct TJpegSource {
    jpeg_source_mgr Pub;
    const JOCTET* Data;
    size_t Size;
    size_t Next;  // first byte not yet handed to libjpeg
};

struct TJpegErrors {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

// Why a decoding stopped, beyond what libjpeg says itself.
enum class TJpegStop { None, Cancelled, OverBudget, OutOfMemory, Incomplete, Broken };

struct TJpegJob {
    jpeg_decompress_struct Info;
    TJpegErrors Errors;
    TJpegSource Source;
    const TJpegLayout* Layout = nullptr;
    const TBudget* Budget = nullptr;
    const TCancelFlag* Cancel = nullptr;
    QImage Picture;
    TJpegStop Stop = TJpegStop::None;
    qint64 StopBytes = 0;  // OverBudget: what was asked for
    int StopScan = 0;      // Incomplete: the scan and its row where the data ended
    qint64 StopRow = 0;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
    info->err->format_message(info, errors->Message);
    std::longjmp(errors->Jump, 1);
}

// Level -1 is a warning: corrupt data, a premature end of a scan or of the file, after
// which libjpeg would carry on with made-up rows. A made-up row is not the user's photo,
// so a warning ends the decoding like an error. Trace messages are ignored.
void JpegEmitMessage(j_common_ptr info, int level) {
    if (level < 0) {
        JpegErrorExit(info);
    }
}

void JpegSilence(j_common_ptr) {}

void SourceInit(j_decompress_ptr) {}

boolean SourceFill(j_decompress_ptr info) {
    auto* source = reinterpret_cast<TJpegSource*>(info->src);
    if (source->Next >= source->Size) {
        // The file ends without an end marker: a warning, and so an error here.
        WARNMS(info, JWRN_JPEG_EOF);
        static const JOCTET kEnd[2] = {0xFF, JPEG_EOI};
        source->Pub.next_input_byte = kEnd;
        source->Pub.bytes_in_buffer = 2;
        return TRUE;
    }
    const size_t n = std::min(kSourceWindow, source->Size - source->Next);
    source->Pub.next_input_byte = source->Data + source->Next;
    source->Pub.bytes_in_buffer = n;
    source->Next += n;
    return TRUE;
}

void SourceSkip(j_decompress_ptr info, long count) {
    auto* source = reinterpret_cast<TJpegSource*>(info->src);
    if (count <= 0) {
        return;
    }
    const size_t skip = size_t(count);
    if (skip <= source->Pub.bytes_in_buffer) {
        source->Pub.next_input_byte += skip;
        source->Pub.bytes_in_buffer -= skip;
        return;
    }
    const size_t beyond = skip - source->Pub.bytes_in_buffer;
    source->Pub.bytes_in_buffer = 0;
    source->Next = beyond <= source->Size - source->Next ? source->Next + beyond : source->Size;
    SourceFill(info);
}

void SourceTerm(j_decompress_ptr) {}

// Kept out of RunDecompress so that no object with a destructor lives in the frame
// that longjmp returns to.
bool AllocatePicture(TJpegJob& job, int width, int height) {
    job.Picture = QImage(width, height, QImage::Format_BGR888);
    if (job.Picture.isNull()) {
        job.Stop = TJpegStop::OutOfMemory;
        return false;
    }
    return true;
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

// The coefficient buffer a multi-scan decoding keeps: every block of every component,
// 64 coefficients of 2 bytes, the blocks rounded up to whole MCUs as libjpeg does.
qint64 CoefficientBytes(const jpeg_decompress_struct& info) {
    qint64 total = 0;
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        const qint64 h = component.h_samp_factor, v = component.v_samp_factor;
        const qint64 across = (qint64(component.width_in_blocks) + h - 1) / h * h;
        const qint64 down = (qint64(component.height_in_blocks) + v - 1) / v * v;
        const qint64 bytes = Times(Times(across, down), DCTSIZE2 * qint64(sizeof(JCOEF)));
        if (bytes < 0 || __builtin_add_overflow(total, bytes, &total)) {
            return -1;
        }
    }
    return total;
}

bool IsRestartMarker(int marker) {
    return marker >= JPEG_RST0 && marker <= JPEG_RST0 + 7;
}

// Reads the output rows of the current output pass into the picture.
bool ReadRows(TJpegJob& job, bool cmyk, JSAMPARRAY cmykRow) {
    jpeg_decompress_struct& info = job.Info;
    while (info.output_scanline < info.output_height) {
        if (IsCancelled(job.Cancel)) {
            job.Stop = TJpegStop::Cancelled;
            return false;
        }
        uchar* line = job.Picture.scanLine(int(info.output_scanline));
        if (cmyk) {
            jpeg_read_scanlines(&info, cmykRow, 1);
            CmykRowToBgr(cmykRow[0], line, info.output_width, info.saw_Adobe_marker);
        } else {
            JSAMPROW row = line;
            jpeg_read_scanlines(&info, &row, 1);
        }
    }
    return true;
}

bool ScanHoldsFirstComponent(const jpeg_decompress_struct& info) {
    for (int i = 0; i < info.comps_in_scan; ++i) {
        if (info.cur_comp_info[i]->component_index == 0) {
            return true;
        }
    }
    return false;
}

// Reads every scan into the coefficient buffer, one MCU row at a time, watching that
// each scan's data lasts to its last row and that the walk's count of scans holds.
bool ConsumeAllScans(TJpegJob& job, uint32_t& componentsSeen) {
    jpeg_decompress_struct& info = job.Info;
    for (;;) {
        if (IsCancelled(job.Cancel)) {
            job.Stop = TJpegStop::Cancelled;
            return false;
        }
        const int step = jpeg_consume_input(&info);
        if (step == JPEG_REACHED_EOI) {
            return true;
        }
        if (step == JPEG_SUSPENDED || info.input_scan_number > job.Layout->Scans) {
            job.Stop = TJpegStop::Broken;
            return false;
        }
        if (step == JPEG_REACHED_SOS) {
            for (int i = 0; i < info.comps_in_scan; ++i) {
                componentsSeen |= 1u << info.cur_comp_info[i]->component_index;
            }
        }
        // Arithmetic-coded data carries no end of its own: once it reaches the next
        // marker the decoder reads zeros and still finds symbols in them, so a scan cut
        // short would be completed with made-up rows. A sequential scan that holds the
        // first (luminance) component must therefore have data into its last MCU row;
        // only a picture whose bottom rows are one flat colour codes them in nothing.
        // Progressive scans may genuinely end early (a colour or refinement scan of a
        // smooth picture holds almost nothing); a file cut between them is caught by
        // the completeness check after the last scan. (Huffman-coded data needs no such
        // watch: libjpeg warns when it runs out.)
        if (step == JPEG_ROW_COMPLETED && info.arith_code && !info.progressive_mode &&
            info.unread_marker != 0 && !IsRestartMarker(info.unread_marker) &&
            info.input_iMCU_row < info.total_iMCU_rows && ScanHoldsFirstComponent(info)) {
            job.Stop = TJpegStop::Incomplete;
            job.StopScan = info.input_scan_number;
            job.StopRow = qint64(info.input_iMCU_row) * info.max_v_samp_factor * DCTSIZE;
            return false;
        }
    }
}

bool RunDecompress(TJpegJob& job) {
    if (setjmp(job.Errors.Jump)) {
        return false;
    }
    jpeg_decompress_struct& info = job.Info;
    jpeg_create_decompress(&info);
    // Our own checks below keep every array within the budget; this is libjpeg's net.
    info.mem->max_memory_to_use = long(std::min<qint64>(job.Budget->Bytes * 2, LONG_MAX));
    info.src = &job.Source.Pub;
    jpeg_read_header(&info, TRUE);

    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    // Files with several scans, and arithmetic-coded ones, are read scan by scan into
    // the coefficient buffer before any row is made, so that every scan can be checked
    // whole first.
    const bool buffered = jpeg_has_multiple_scans(&info) || info.arith_code;
    uint32_t componentsSeen = 0;
    if (buffered) {
        const qint64 coefficients = CoefficientBytes(info);
        if (!Within(coefficients, job.Budget->Bytes)) {
            job.Stop = TJpegStop::OverBudget;
            job.StopBytes = coefficients;
            return false;
        }
        info.buffered_image = TRUE;
        for (int i = 0; i < info.comps_in_scan; ++i) {
            componentsSeen |= 1u << info.cur_comp_info[i]->component_index;
        }
    }
    jpeg_start_decompress(&info);
    if (!AllocatePicture(job, int(info.output_width), int(info.output_height))) {
        return false;
    }
    // Freed with the decompressor.
    JSAMPARRAY cmykRow = cmyk ? (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info),
                                                          JPOOL_IMAGE, info.output_width * 4, 1)
                              : nullptr;
    if (!buffered) {
        if (!ReadRows(job, cmyk, cmykRow)) {
            return false;
        }
    } else {
        if (!ConsumeAllScans(job, componentsSeen)) {
            return false;
        }
        // Whole means: every component had its scan and, in a progressive file, every
        // coefficient reached full precision. A file cut between scans (and given an
        // end marker) would otherwise show as a blurred or colourless picture.
        bool whole = componentsSeen == (1u << info.num_components) - 1;
        if (info.progressive_mode) {
            for (int c = 0; whole && c < info.num_components; ++c) {
                for (int k = 0; whole && k < DCTSIZE2; ++k) {
                    whole = info.coef_bits[c][k] == 0;
                }
            }
        }
        if (!whole) {
            job.Stop = TJpegStop::Incomplete;
            return false;
        }
        jpeg_start_output(&info, info.input_scan_number);
        if (!ReadRows(job, cmyk, cmykRow)) {
            return false;
        }
        jpeg_finish_output(&info);
    }
    jpeg_finish_decompress(&info);
    return true;
}

QString JpegIncomplete(const TJpegJob& job) {
    if (job.StopScan > 0) {
        return QStringLiteral("JPEG 数据不完整: 第 %1 次扫描的数据在第 %2 行 (共 %3 行) 就结束了, "
                              "文件可能被截断.")
            .arg(job.StopScan)
            .arg(job.StopRow)
            .arg(job.Layout->Height);
    }
    return QStringLiteral("JPEG 数据不完整: 缺少部分扫描, 文件可能被截断.");
}

TDecoded DecodeJpeg(const QByteArray& data, const TBudget& budget, const TCancelFlag* cancel) {
    TJpegLayout layout;
    if (const QString broken = WalkJpeg(data, layout); !broken.isEmpty()) {
        return Refused(broken);
    }
    if (!layout.Ended) {
        return Refused(QStringLiteral("JPEG 数据不完整, 文件被截断."));
    }
    if (layout.HasFrame) {
        if (layout.Width == 0 || layout.Height == 0) {
            return Refused(ZeroSize());
        }
        const qint64 bytes = PictureBytes(layout.Width, layout.Height, 3);
        if (!Within(bytes, budget.Bytes)) {
            return Refused(TooLarge(layout.Width, layout.Height, bytes, budget));
        }
        if (!Within(Times(bytes, layout.Scans), budget.Work)) {
            return Refused(QStringLiteral("这张 JPEG (%1 x %2) 有 %3 次扫描, 每次扫描都要处理整张图片: "
                                          "解码工作量超过上限 (这个尺寸最多 %4 次扫描).")
                               .arg(layout.Width)
                               .arg(layout.Height)
                               .arg(layout.Scans)
                               .arg(budget.Work / std::max<qint64>(bytes, 1)));
        }
    }

    auto job = std::make_unique<TJpegJob>();
    std::memset(&job->Info, 0, sizeof job->Info);
    job->Info.err = jpeg_std_error(&job->Errors.Pub);
    job->Errors.Pub.error_exit = JpegErrorExit;
    job->Errors.Pub.emit_message = JpegEmitMessage;
    job->Errors.Pub.output_message = JpegSilence;
    job->Errors.Message[0] = '\0';
    job->Source.Pub.init_source = SourceInit;
    job->Source.Pub.fill_input_buffer = SourceFill;
    job->Source.Pub.skip_input_data = SourceSkip;
    job->Source.Pub.resync_to_restart = jpeg_resync_to_restart;
    job->Source.Pub.term_source = SourceTerm;
    job->Source.Pub.next_input_byte = nullptr;
    job->Source.Pub.bytes_in_buffer = 0;
    job->Source.Data = reinterpret_cast<const JOCTET*>(data.constData());
    job->Source.Size = size_t(data.size());
    job->Source.Next = 0;
    job->Layout = &layout;
    job->Budget = &budget;
    job->Cancel = cancel;

    const bool ok = RunDecompress(*job);
    const int code = job->Errors.Pub.msg_code;
    const qint64 width = job->Info.image_width;
    const qint64 height = job->Info.image_height;
    jpeg_destroy_decompress(&job->Info);
    if (ok) {
        QImage picture = Oriented(std::move(job->Picture), layout.Orientation);
        if (picture.format() != QImage::Format_BGR888) {
            picture.convertTo(QImage::Format_BGR888);
        }
        if (picture.isNull()) {
            return Refused(OutOfMemory());
        }
        return {std::move(picture), QString(), false};
    }
    switch (job->Stop) {
        case TJpegStop::Cancelled:
            return Cancelled();
        case TJpegStop::OverBudget:
            return Refused(TooLarge(width, height, job->StopBytes, budget));
        case TJpegStop::OutOfMemory:
            return Refused(OutOfMemory());
        case TJpegStop::Incomplete:
            return Refused(JpegIncomplete(*job));
        case TJpegStop::Broken:
            return Refused(QStringLiteral("JPEG 文件结构有误."));
        case TJpegStop::None:
            break;
    }
    if (code == JERR_EMPTY_IMAGE) {
        return Refused(ZeroSize());
    }
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) {
        return Refused(QStringLiteral("JPEG 数据不完整, 文件被截断."));
    }
    return Refused(
        QStringLiteral("JPEG 数据损坏 (%1).").arg(QString::fromLocal8Bit(job->Errors.Message)));
}

// --- BMP and PNG ----------------------------------------------------------------------

quint32 Le32(const uchar* p) {
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 Le16(const uchar* p) {
    return quint16(p[0] | p[1] << 8);
}

quint32 Be32(const uchar* p) {
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

// Walks the run-length codes of an RLE8 or RLE4 pixel stream. Whole means: every pixel
// lies inside the declared width and rows, every row is filled to the declared width,
// the stream reaches the last row, and it ends with its end-of-bitmap code inside the
// data. Returns empty, or why not.
QString CheckRle(const uchar* p, qint64 size, qint64 width, qint64 height, int bitsPerPixel) {
    const QString cut = QStringLiteral("BMP 压缩数据不完整, 文件被截断.");
    const QString outside =
        QStringLiteral("BMP 压缩数据与文件头所说的尺寸 %1 x %2 不符.").arg(width).arg(height);
    qint64 at = 0, x = 0, y = 0;  // y counts rows from the first stored one
    for (;;) {
        if (at + 2 > size) {
            return cut;
        }
        const int count = p[at];
        const int code = p[at + 1];
        at += 2;
        if (count > 0) {  // a run of `count` pixels
            if (y >= height || x + count > width) {
                return outside;
            }
            x += count;
            continue;
        }
        switch (code) {
            case 0:  // end of line
                if (x != width || y >= height) {
                    return outside;
                }
                x = 0;
                ++y;
                break;
            case 1:  // end of bitmap: after the last row's end of line, or ending it
                if ((y == height && x == 0) || (y == height - 1 && x == width)) {
                    return {};
                }
                return outside;
            case 2:  // move by (dx, dy), leaving the pixels passed as they are
                if (at + 2 > size) {
                    return cut;
                }
                x += p[at];
                y += p[at + 1];
                at += 2;
                if (x > width || y >= height) {
                    return outside;
                }
                break;
            default: {  // `code` pixels stored as they are, padded to 16 bits
                const qint64 bytes = bitsPerPixel == 8 ? code : (code + 1) / 2;
                if (y >= height || x + code > width) {
                    return outside;
                }
                if (at + bytes + (bytes & 1) > size) {
                    return cut;
                }
                at += bytes + (bytes & 1);
                x += code;
                break;
            }
        }
    }
}

// Qt reads from this; a set cancel flag makes every further read fail, so that Qt's
// decoders give up within one read.
class TCancellableBuffer final : public QBuffer {
  public:
    TCancellableBuffer(QByteArray* data, const TCancelFlag* cancel)
        : QBuffer(data), FCancel(cancel) {}

  protected:
    qint64 readData(char* data, qint64 size) override {
        return IsCancelled(FCancel) ? -1 : QBuffer::readData(data, size);
    }

  private:
    const TCancelFlag* FCancel;
};

// Turns whatever Qt decoded into the one format; transparent parts become white, as
// they would print.
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

TDecoded ReadWithQt(const QByteArray& data, const char* format, qint64 width, qint64 height,
                    const TCancelFlag* cancel) {
    QByteArray copy = data;  // shares the bytes; QBuffer wants a non-const array
    TCancellableBuffer buffer(&copy, cancel);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoTransform(false);
    QImage image;
    const bool read = reader.read(&image);
    if (IsCancelled(cancel)) {
        return Cancelled();
    }
    if (!read || image.isNull()) {
        return Refused(QStringLiteral("无法解码图片 (%1).").arg(reader.errorString()));
    }
    if (image.width() != width || image.height() != height) {
        return Refused(QStringLiteral("图片数据与文件头所说的尺寸 %1 x %2 不符.").arg(width).arg(height));
    }
    QImage picture = ToBgr888(image);
    if (picture.isNull()) {
        return Refused(OutOfMemory());
    }
    return {picture, QString(), false};
}

TDecoded DecodeBmp(const QByteArray& data, const TBudget& budget, const TCancelFlag* cancel) {
    const QString lying = QStringLiteral("BMP 文件头与文件内容不符 (文件被截断或文件头有误).");
    const auto* p = reinterpret_cast<const uchar*>(data.constData());
    const qint64 size = data.size();
    if (size < 26 || !data.startsWith("BM")) {
        return Refused(lying);
    }
    const qint64 offBits = Le32(p + 10);
    const qint64 headerSize = Le32(p + 14);
    qint64 width = 0;
    qint64 height = 0;
    int bitCount = 0;
    quint32 compression = 0;
    if (headerSize == 12) {  // OS/2 core header: unsigned 16-bit sizes
        width = Le16(p + 18);
        height = Le16(p + 20);
        bitCount = Le16(p + 24);
    } else if (headerSize >= 40 && headerSize <= 124 && size >= 14 + 40) {
        width = qint32(Le32(p + 18));
        height = qint32(Le32(p + 22));  // negative: rows stored top-down
        bitCount = Le16(p + 28);
        compression = Le32(p + 30);
    } else {
        return Refused(lying);
    }
    if (width == 0 || height == 0) {
        return Refused(ZeroSize());
    }
    const bool topDown = height < 0;
    height = qAbs(height);
    if (width < 0 || offBits > size) {
        return Refused(lying);
    }
    // Qt decodes BMPs into 32-bit pixels (8-bit ones into less).
    const qint64 bytes = PictureBytes(width, height, 4);
    if (!Within(bytes, budget.Bytes)) {
        return Refused(TooLarge(width, height, bytes, budget));
    }
    const bool rle = (compression == 1 && bitCount == 8) || (compression == 2 && bitCount == 4);
    if (rle) {
        if (topDown) {  // compressed rows are always stored bottom-up
            return Refused(lying);
        }
        if (const QString why = CheckRle(p + offBits, size - offBits, width, height, bitCount);
            !why.isEmpty()) {
            return Refused(why);
        }
    } else if (compression == 0 || compression == 3 || compression == 6) {
        const qint64 stride = Times(width, bitCount) < 0 ? -1 : (width * bitCount + 31) / 32 * 4;
        const qint64 pixels = Times(stride, height);
        if (bitCount == 0 || pixels < 0 || pixels > size - offBits) {
            return Refused(lying);
        }
    }
    return ReadWithQt(data, "bmp", width, height, cancel);
}

TDecoded DecodePng(const QByteArray& data, const TBudget& budget, const TCancelFlag* cancel) {
    const QString truncated = QStringLiteral("PNG 数据不完整, 文件被截断.");
    const auto* p = reinterpret_cast<const uchar*>(data.constData());
    const qint64 size = data.size();
    // Walk the chunks to the end marker first, so that a cut-off file is called what it
    // is rather than whatever the decoder makes of the missing data.
    qint64 at = 8;  // after the signature
    bool sawEnd = false;
    while (at + 8 <= size) {
        const qint64 length = Be32(p + at);
        const bool end = std::memcmp(p + at + 4, "IEND", 4) == 0;
        at += 12 + length;  // at most 2^32 + 12 past a position below 2^31: no overflow
        if (at > size) {
            break;
        }
        if (end) {
            sawEnd = true;
            break;
        }
    }
    if (!sawEnd) {
        return Refused(truncated);
    }
    if (size < 33 || std::memcmp(p + 12, "IHDR", 4) != 0 || Be32(p + 8) != 13) {
        return Refused(QStringLiteral("PNG 文件头有误."));
    }
    const qint64 width = Be32(p + 16);
    const qint64 height = Be32(p + 20);
    const int bitDepth = p[24];
    if (width == 0 || height == 0) {
        return Refused(ZeroSize());
    }
    // Qt keeps 16-bit channels (8 bytes a pixel with alpha); anything else becomes
    // 32-bit pixels.
    const qint64 bytes = PictureBytes(width, height, bitDepth == 16 ? 8 : 4);
    if (!Within(bytes, budget.Bytes)) {
        return Refused(TooLarge(width, height, bytes, budget));
    }
    return ReadWithQt(data, "png", width, height, cancel);
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

void AllowQtDecoding(const TBudget& budget) {
    const qint64 megabytes = (budget.Bytes + (1 << 20) - 1) >> 20;
    const int needed = int(std::min<qint64>(megabytes, INT_MAX));
    const int limit = QImageReader::allocationLimit();
    if (limit != 0 && limit < needed) {
        QImageReader::setAllocationLimit(needed);
    }
}

TDecoded DecodeImage(const QByteArray& data, const TBudget& budget, const TCancelFlag* cancel) {
    if (IsCancelled(cancel)) {
        return Cancelled();
    }
    switch (KindOf(data)) {
        case TKind::Jpeg:
            return DecodeJpeg(data, budget, cancel);
        case TKind::Bmp:
            return DecodeBmp(data, budget, cancel);
        case TKind::Png:
            return DecodePng(data, budget, cancel);
        case TKind::Unknown:
            break;
    }
    return Refused(QStringLiteral("文件内容不是 JPEG、BMP 或 PNG 图片."));
}

TDecoded LoadImageFile(const QString& path, const TBudget& budget, const TCancelFlag* cancel) {
    AllowQtDecoding(budget);
    auto failed = [&path](const QString& why) {
        return Refused(QStringLiteral("无法读取照片文件 \"%1\":\n%2")
                           .arg(QDir::toNativeSeparators(path), why));
    };
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so that a FIFO or a device cannot hold the caller.
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
    if (st.st_size > budget.Bytes) {
        return failed(QStringLiteral("文件大于 %1 MB.").arg(Megabytes(budget.Bytes)));
    }
    QByteArray data;
    try {
        data = QByteArray(qsizetype(st.st_size), Qt::Uninitialized);
    } catch (const std::bad_alloc&) {
        return failed(OutOfMemory());
    }
    qsizetype got = 0;
    while (got < data.size()) {
        if (IsCancelled(cancel)) {
            return Cancelled();
        }
        const size_t piece = size_t(std::min<qsizetype>(data.size() - got, qsizetype(4) << 20));
        const ssize_t n = ::read(fd, data.data() + got, piece);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return failed(qt_error_string(errno));
        }
        if (n == 0) {
            break;  // shrank while being read: the decoder judges what is there
        }
        got += n;
    }
    data.truncate(got);

    TDecoded decoded = DecodeImage(data, budget, cancel);
    if (!decoded.Error.isEmpty()) {
        return failed(decoded.Error);
    }
    return decoded;
}

}  // namespace ImageFile
