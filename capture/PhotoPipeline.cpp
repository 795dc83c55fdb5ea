// The photograph's steps from the grabbed frame to the placed file (see the header).
#include "capture/PhotoPipeline.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <jpeglib.h>
#include <jerror.h>
#include <libyuv/scale.h>
#include <libyuv/planar_functions.h>

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QHash>
#include <QLocale>
#include <QPainter>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>

namespace PhotoPipeline {

// --- Size-limit choice ----------------------------------------------------------

TSizeLimitChoice SizeLimitChoice(uint16_t kilobytes) {
    struct TRow {
        uint16_t UpTo;
        TSizeLimitChoice Choice;
    };
    // Upper bounds in kilobytes, in increasing order; 0 stands apart (no limit given).
    static constexpr TRow Rows[] = {
        {5, {0, 80}},   {10, {0, 90}},   {50, {1, 90}},   {80, {2, 80}},
        {120, {2, 90}}, {200, {2, 100}}, {260, {3, 80}},  {300, {3, 85}},
        {360, {3, 90}}, {400, {3, 95}},  {500, {3, 100}}, {65535, {3, 100}},
    };
    if (kilobytes == 0) {
        return {3, 100};
    }
    for (const TRow& row : Rows) {
        if (kilobytes <= row.UpTo) {
            return row.Choice;
        }
    }
    return {3, 100};  // unreachable: the last row covers every 16-bit value
}

// --- Caption overlay --------------------------------------------------------------

TCaptionLayout CaptionLayout(int photoWidth) {
    const QString song = QStringLiteral("宋体");
    // Line1, Line3, Line4, Line5 one below the other, `step` pixels apart.
    auto fourLines = [](int step) {
        return QVector<TCaptionLayout::TLine>{{0, QPoint(10, 10)},
                                              {2, QPoint(10, 10 + step)},
                                              {3, QPoint(10, 10 + 2 * step)},
                                              {4, QPoint(10, 10 + 3 * step)}};
    };
    switch (photoWidth) {
        case 160:
            return {QStringLiteral("Small Fonts"), 8, {{1, QPoint(5, 5)}}, {80, 15}, {50, 15}};
        case 320:
            return {song, 12, fourLines(20), {120, 30}, {60, 30}};
        case 640:
            return {song, 16, fourLines(20), {160, 30}, {120, 30}};
        case 1280:
            return {song, 24, fourLines(40), {280, 70}, {240, 70}};
        default:
            return {song, 16, fourLines(20), {200, 30}, {160, 30}};
    }
}

namespace {

QString FirstInstalled(const QStringList& wanted, const QStringList& installed) {
    for (const QString& family : wanted) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            return family;
        }
    }
    return {};
}

QString FindSongFamily() {
    const QStringList installed = QFontDatabase::families();
    QString family =
        FirstInstalled({QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
                        QStringLiteral("AR PL UMing HK"), QStringLiteral("Noto Serif CJK SC"),
                        QStringLiteral("Source Han Serif SC")},
                       installed);
    if (!family.isEmpty()) {
        return family;
    }
    // Any other face that writes simplified Chinese, a serif one first.
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    for (const QString& candidate : chinese) {
        if (candidate.contains(QLatin1String("Serif"), Qt::CaseInsensitive) ||
            candidate.contains(QLatin1String("Song"), Qt::CaseInsensitive) ||
            candidate.contains(QLatin1String("Ming"), Qt::CaseInsensitive)) {
            return candidate;
        }
    }
    if (!chinese.isEmpty()) {
        return chinese.first();
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QString FindSmallSansFamily() {
    const QString family =
        FirstInstalled({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                        QStringLiteral("Noto Sans")},
                       QFontDatabase::families());
    return family.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::GeneralFont).family()
                            : family;
}

}  // namespace

QString ResolveCaptionFamily(const QString& fontName) {
    // Resolved once per run on the GUI thread; the installed fonts do not change under us.
    static QHash<QString, QString> resolved;
    const auto it = resolved.constFind(fontName);
    if (it != resolved.constEnd()) {
        return *it;
    }
    QString family;
    if (fontName == QLatin1String("Small Fonts")) {
        family = FindSmallSansFamily();
    } else {
        family = FindSongFamily();
    }
    QFont::insertSubstitution(fontName, family);
    resolved.insert(fontName, family);
    return family;
}

namespace {

// The locale's long time format with its time-zone part taken out: hours, minutes and
// seconds are what a photo stamp shows.
QString LongTimeFormat() {
    const QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        }
        if (!quoted && c == QLatin1Char('t')) {
            continue;
        }
        out += c;
    }
    return out.trimmed();
}

}  // namespace

QString StampText(const QDateTime& now, bool printDate, bool printTime) {
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(now.date(), QLocale::ShortFormat);
    const QString time = locale.toString(now.time(), LongTimeFormat());
    if (printDate && printTime) {
        if (now.time() == QTime(0, 0, 0)) {
            return date;
        }
        return date + QLatin1Char(' ') + time;
    }
    if (printDate) {
        return date;
    }
    if (printTime) {
        return time;
    }
    return {};
}

namespace {

void DrawTextAt(QPainter& painter, QPoint topLeft, const QString& text) {
    // (x, y) is the top-left corner of the text cell, not the baseline.
    painter.drawText(QRect(topLeft, QSize(1 << 20, 1 << 20)),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip, text);
}

}  // namespace

void DrawCaption(QImage& photo, const TCaptionLines& lines, bool printDate, bool printTime,
                 uint32_t fontColor, const QDateTime& now) {
    if (photo.isNull()) {
        return;
    }
    const TCaptionLayout layout = CaptionLayout(photo.width());
    const QString stamp = StampText(now, printDate, printTime);
    bool anything = !stamp.isEmpty();
    for (const TCaptionLayout::TLine& line : layout.Lines) {
        anything = anything || !lines[line.Index].isEmpty();
    }
    if (!anything) {
        return;  // a blank mask would ink nothing
    }

    QImage mask(photo.size(), QImage::Format_RGB32);
    if (mask.isNull()) {
        return;  // no memory for the mask: the photo goes on without its caption
    }
    mask.fill(Qt::white);
    try {
        QPainter painter(&mask);
        QFont font(ResolveCaptionFamily(layout.FontName));
        font.setPixelSize(layout.PixelSize);
        font.setWeight(QFont::Normal);
        font.setItalic(false);
        painter.setFont(font);
        painter.setPen(QColor(fontColor & 0xFF, (fontColor >> 8) & 0xFF, (fontColor >> 16) & 0xFF));
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.setBackground(Qt::white);
        for (const TCaptionLayout::TLine& line : layout.Lines) {
            if (!lines[line.Index].isEmpty()) {
                DrawTextAt(painter, line.TopLeft, lines[line.Index]);
            }
        }
        if (!stamp.isEmpty()) {
            const QPoint offset =
                printDate && printTime ? layout.StampOffsetBoth : layout.StampOffsetOne;
            DrawTextAt(painter, QPoint(photo.width() - offset.x(), photo.height() - offset.y()),
                       stamp);
        }
    } catch (...) {
        // Whatever reached the mask before the failure is still inked below.
    }
    InkThroughMask(photo, mask);
}

void InkThroughMask(QImage& photo, const QImage& mask) {
    if (photo.isNull() || mask.size() != photo.size() || photo.format() != QImage::Format_BGR888 ||
        mask.format() != QImage::Format_RGB32) {
        return;
    }
    const int width = photo.width();
    for (int y = 0; y < photo.height(); ++y) {
        const auto* m = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        uint8_t* p = photo.scanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            if ((m[x] & 0xFFFFFF) != 0xFFFFFF) {
                // Only the blue byte decides, whatever the brightness.
                const uint8_t ink = p[0] > 128 ? 0 : 255;
                p[0] = p[1] = p[2] = ink;
            }
        }
    }
}

// --- Scaling, black and white -------------------------------------------------------

namespace {

// Enlarging in both directions, bilinear with centred samples: the few source rows are
// first widened (plane by plane, then interleaved again), and each target row is then
// a blend of two widened rows. Needs a little more than a tenth of the target's size
// in temporaries, where scaling the whole picture plane by plane needs its full size.
bool Enlarge(const QImage& photo, QImage& scaled) {
    const int sw = photo.width(), sh = photo.height();
    const int width = scaled.width(), height = scaled.height();
    const size_t sourcePlane = size_t(sw) * size_t(sh), widePlane = size_t(width) * size_t(sh);
    std::unique_ptr<uint8_t[]> planes(new (std::nothrow) uint8_t[3 * (sourcePlane + widePlane)]);
    std::unique_ptr<uint8_t[]> wide(new (std::nothrow) uint8_t[3 * widePlane]);
    if (!planes || !wide) {
        return false;
    }
    uint8_t* const s[3] = {&planes[0], &planes[sourcePlane], &planes[2 * sourcePlane]};
    uint8_t* const w[3] = {&planes[3 * sourcePlane], &planes[3 * sourcePlane + widePlane],
                           &planes[3 * sourcePlane + 2 * widePlane]};
    libyuv::SplitRGBPlane(photo.constBits(), int(photo.bytesPerLine()), s[0], sw, s[1], sw, s[2],
                          sw, sw, sh);
    for (int c = 0; c < 3; ++c) {
        libyuv::ScalePlane(s[c], sw, sw, sh, w[c], width, width, sh, libyuv::kFilterBilinear);
    }
    const int wideStride = 3 * width;
    libyuv::MergeRGBPlane(w[0], width, w[1], width, w[2], width, wide.get(), wideStride, width, sh);
    planes.reset();

    for (int y = 0; y < height; ++y) {
        // Centre of target row y in source rows, in 1/256 steps, clamped to the picture.
        const int64_t at =
            qBound<int64_t>(0, ((2 * int64_t(y) + 1) * sh * 256) / (2 * int64_t(height)) - 128,
                            int64_t(sh - 1) * 256);
        const int row = int(at >> 8), fraction = int(at & 255);
        const uint8_t* top = wide.get() + size_t(row) * wideStride;
        const uint8_t* below = row + 1 < sh ? top + wideStride : top;
        libyuv::InterpolatePlane(top, wideStride, below, wideStride, scaled.scanLine(y),
                                 int(scaled.bytesPerLine()), wideStride, 1, fraction);
    }
    return true;
}

// Any other change of size: each colour is scaled as a plane of its own with the box
// filter, which averages every source pixel a target pixel covers when shrinking.
bool ScaleByPlanes(const QImage& photo, QImage& scaled) {
    const int sw = photo.width(), sh = photo.height();
    const int width = scaled.width(), height = scaled.height();
    const size_t sourcePlane = size_t(sw) * size_t(sh),
                 targetPlane = size_t(width) * size_t(height);
    std::unique_ptr<uint8_t[]> source(new (std::nothrow) uint8_t[3 * sourcePlane]);
    std::unique_ptr<uint8_t[]> target(new (std::nothrow) uint8_t[3 * targetPlane]);
    if (!source || !target) {
        return false;
    }
    uint8_t* const s[3] = {&source[0], &source[sourcePlane], &source[2 * sourcePlane]};
    uint8_t* const t[3] = {&target[0], &target[targetPlane], &target[2 * targetPlane]};
    libyuv::SplitRGBPlane(photo.constBits(), int(photo.bytesPerLine()), s[0], sw, s[1], sw, s[2],
                          sw, sw, sh);
    for (int c = 0; c < 3; ++c) {
        libyuv::ScalePlane(s[c], sw, sw, sh, t[c], width, width, height, libyuv::kFilterBox);
    }
    source.reset();
    libyuv::MergeRGBPlane(t[0], width, t[1], width, t[2], width, scaled.bits(),
                          int(scaled.bytesPerLine()), width, height);
    return true;
}

}  // namespace

bool ScalePhoto(QImage& photo, int width, int height) {
    if (photo.isNull() || width <= 0 || height <= 0 || photo.format() != QImage::Format_BGR888) {
        return false;
    }
    if (photo.width() == width && photo.height() == height) {
        return true;
    }
    QImage scaled(width, height, QImage::Format_BGR888);
    if (scaled.isNull()) {
        return false;
    }
    // libyuv's plane functions are used rather than its interleaved (ARGB/RGB24) scaler,
    // which was measured to darken every pixel by one level.
    const bool enlarging = width >= photo.width() && height >= photo.height();
    if (!(enlarging ? Enlarge(photo, scaled) : ScaleByPlanes(photo, scaled))) {
        return false;
    }
    photo = std::move(scaled);
    return true;
}

void ToGrey(QImage& photo) {
    GreyRows(photo, 0, photo.height());
}

namespace {

// sum * 21846 >> 16 equals sum / 3 (truncated) for every sum up to 765.
inline uint8_t GreyOf(const uint8_t* p) {
    return uint8_t(((uint32_t(p[0]) + p[1] + p[2]) * 21846u) >> 16);
}

void GreyRowPlain(uint8_t* p, int width) {
    for (int x = 0; x < width; ++x, p += 3) {
        p[0] = p[1] = p[2] = GreyOf(p);
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels (48 bytes) at a time: byte shuffles gather each component, 16-bit lanes
// add them and multiply by 21846 keeping the high half, and shuffles spread the result.
struct TGreyMasks {
    __m128i Gather[3][3];  // [component][which 16-byte load]
    __m128i Spread[3];     // [which 16-byte store]
};

TGreyMasks MakeGreyMasks() {
    TGreyMasks m;
    alignas(16) int8_t bytes[16];
    for (int c = 0; c < 3; ++c) {
        for (int part = 0; part < 3; ++part) {
            for (int k = 0; k < 16; ++k) {
                const int index = 3 * k + c - 16 * part;
                bytes[k] = index >= 0 && index < 16 ? int8_t(index) : int8_t(-1);
            }
            m.Gather[c][part] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
        }
    }
    for (int part = 0; part < 3; ++part) {
        for (int t = 0; t < 16; ++t) {
            bytes[t] = int8_t((16 * part + t) / 3);
        }
        m.Spread[part] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
    }
    return m;
}

__attribute__((target("ssse3"))) void GreyRowSsse3(uint8_t* p, int width) {
    static const TGreyMasks m = MakeGreyMasks();
    const __m128i zero = _mm_setzero_si128(), third = _mm_set1_epi16(21846);
    int x = 0;
    for (; x + 16 <= width; x += 16, p += 48) {
        const __m128i in[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32))};
        __m128i c[3];
        for (int i = 0; i < 3; ++i) {
            c[i] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], m.Gather[i][0]),
                                             _mm_shuffle_epi8(in[1], m.Gather[i][1])),
                                _mm_shuffle_epi8(in[2], m.Gather[i][2]));
        }
        const __m128i low = _mm_add_epi16(
            _mm_add_epi16(_mm_unpacklo_epi8(c[0], zero), _mm_unpacklo_epi8(c[1], zero)),
            _mm_unpacklo_epi8(c[2], zero));
        const __m128i high = _mm_add_epi16(
            _mm_add_epi16(_mm_unpackhi_epi8(c[0], zero), _mm_unpackhi_epi8(c[1], zero)),
            _mm_unpackhi_epi8(c[2], zero));
        const __m128i grey =
            _mm_packus_epi16(_mm_mulhi_epu16(low, third), _mm_mulhi_epu16(high, third));
        for (int part = 0; part < 3; ++part) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16 * part),
                             _mm_shuffle_epi8(grey, m.Spread[part]));
        }
    }
    GreyRowPlain(p, width - x);
}

using TGreyRow = void (*)(uint8_t*, int);

TGreyRow PickGreyRow() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") ? GreyRowSsse3 : GreyRowPlain;
}
#else
using TGreyRow = void (*)(uint8_t*, int);

TGreyRow PickGreyRow() {
    return GreyRowPlain;
}
#endif

}  // namespace

void GreyRows(QImage& photo, int first, int count) {
    if (photo.isNull() || photo.format() != QImage::Format_BGR888) {
        return;
    }
    static const TGreyRow GreyRow = PickGreyRow();
    const int end = qMin(photo.height(), first + qMax(count, 0));
    for (int y = qMax(first, 0); y < end; ++y) {
        GreyRow(photo.scanLine(y), photo.width());
    }
}

// --- JPEG -----------------------------------------------------------------------------

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
struct TJpegDestination {
    jpeg_destination_mgr Pub;
    QByteArray* Data;
    const TJpegHooks* Hooks;
    qsizetype Passed;  // bytes already handed to Hooks->Output
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

// Makes room after `used` bytes and exposes the next part of it to libjpeg.
bool Expose(TJpegDestination& dest, qsizetype used) {
    const qsizetype want = dest.Hooks->Output ? OutputWindow : qMax<qsizetype>(used, 64 * 1024);
    if (dest.Data->size() - used < want &&
        !TryResize(*dest.Data, qMax(dest.Data->size() * 2, used + want))) {
        return false;
    }
    char* base = dest.Data->data();
    dest.Pub.next_output_byte = reinterpret_cast<JOCTET*>(base + used);
    dest.Pub.free_in_buffer = size_t(dest.Hooks->Output ? want : dest.Data->size() - used);
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
    // Called only when what was exposed is full.
    const qsizetype used =
        reinterpret_cast<const char*>(dest->Pub.next_output_byte) - dest->Data->constData();
    PassOn(*dest, used);
    if (!Expose(*dest, used)) {
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 1);
    }
    return TRUE;
}

void DestinationTerm(j_compress_ptr info) {
    auto* dest = reinterpret_cast<TJpegDestination*>(info->dest);
    const qsizetype used =
        reinterpret_cast<const char*>(dest->Pub.next_output_byte) - dest->Data->constData();
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

// --- BMP ------------------------------------------------------------------------------

namespace {

void PutLe16(char* p, uint16_t v) {
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8);
}

void PutLe32(char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = char((v >> (8 * i)) & 0xFF);
    }
}

qsizetype BmpRowBytes(int width) {
    return (qsizetype(width) * 3 + 3) & ~qsizetype(3);
}

}  // namespace

QByteArray BmpHeaders(int width, int height) {
    QByteArray h(54, '\0');
    char* p = h.data();
    const uint32_t imageBytes = uint32_t(BmpRowBytes(width) * height);
    // BITMAPFILEHEADER
    p[0] = 'B';
    p[1] = 'M';
    PutLe32(p + 2, 54 + imageBytes);
    PutLe32(p + 10, 54);
    // BITMAPINFOHEADER: positive height means bottom-up rows.
    PutLe32(p + 14, 40);
    PutLe32(p + 18, uint32_t(width));
    PutLe32(p + 22, uint32_t(height));
    PutLe16(p + 26, 1);   // planes
    PutLe16(p + 28, 24);  // bits per pixel
    PutLe32(p + 30, 0);   // BI_RGB
    PutLe32(p + 34, imageBytes);
    return h;
}

bool WriteBmp(const QImage& photo, const std::function<bool(const char*, size_t)>& write) {
    const int width = photo.isNull() ? 0 : photo.width();
    const int height = photo.isNull() ? 0 : photo.height();
    if (!photo.isNull() && photo.format() != QImage::Format_BGR888) {
        return false;
    }
    const QByteArray headers = BmpHeaders(width, height);
    if (!write(headers.constData(), size_t(headers.size()))) {
        return false;
    }
    // Rows are gathered into chunks of about 1 MB so that a large photo costs few writes.
    const qsizetype rowBytes = BmpRowBytes(width);
    const int rowsPerChunk = rowBytes > 0 ? int(qMax<qsizetype>(1, (1 << 20) / rowBytes)) : 1;
    QByteArray chunk(rowBytes * qMin(rowsPerChunk, qMax(height, 1)), '\0');
    for (int y = height - 1; y >= 0;) {
        char* out = chunk.data();
        int rows = 0;
        for (; rows < rowsPerChunk && y >= 0; ++rows, --y, out += rowBytes) {
            std::memcpy(out, photo.constScanLine(y), size_t(width) * 3);
            // The padding bytes were zeroed when the chunk was made and are never written.
        }
        if (!write(chunk.constData(), size_t(rows * rowBytes))) {
            return false;
        }
    }
    return true;
}

// --- Naming -------------------------------------------------------------------------

QString Extension(uint8_t fileFormat) {
    return fileFormat == 1 ? QStringLiteral(".bmp") : QStringLiteral(".jpg");
}

QString DateTimeName(const QDateTime& now) {
    return now.toString(QStringLiteral("yyyyMMddHHmmss"));
}

QString SerialName(uint32_t number) {
    return QStringLiteral("%1").arg(number, 8, 10, QLatin1Char('0'));
}

// --- Safe placement ---------------------------------------------------------------

bool WriteAll(int fd, const char* data, size_t size, QString& error) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = qt_error_string(errno);
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

namespace {

QString Failure(const QString& fileName, const QString& why) {
    return QStringLiteral("无法保存照片 \"%1\": %2").arg(fileName, why);
}

// Places `temp` under `final` unless something already has that name. Returns 0, or the
// errno of the refusal (EEXIST when the name is taken).
int PlaceNoReplace(const QByteArray& temp, const QByteArray& final) {
    if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, final.constData(), RENAME_NOREPLACE) ==
        0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return errno;
    }
    // A file system without the no-replace rename: a hard link refuses an existing name
    // just the same, and the temporary name is dropped afterwards.
    if (::link(temp.constData(), final.constData()) != 0) {
        return errno;
    }
    ::unlink(temp.constData());
    return 0;
}

// Gives the unnamed file `fd` the name `final` unless something already has that name.
// Returns 0, or the errno of the refusal (EEXIST when the name is taken).
int LinkNoReplace(int fd, const QByteArray& final) {
    // Naming a descriptor through /proc needs no privilege; AT_EMPTY_PATH does, and is the
    // way left where /proc is not mounted.
    static const bool viaProc = ::access("/proc/self/fd", X_OK) == 0;
    const int done =
        viaProc ? ::linkat(AT_FDCWD, ("/proc/self/fd/" + QByteArray::number(fd)).constData(),
                           AT_FDCWD, final.constData(), AT_SYMLINK_FOLLOW)
                : ::linkat(fd, "", AT_FDCWD, final.constData(), AT_EMPTY_PATH);
    return done == 0 ? 0 : errno;
}

bool IsTempFileName(const char* name) {
    static const QRegularExpression pattern(QStringLiteral("^\\.snapix-[0-9a-f]{16}\\.tmp$"));
    return pattern.match(QLatin1String(name)).hasMatch();
}

}  // namespace

TPhotoFile::~TPhotoFile() {
    Discard();
}

void TPhotoFile::Discard() {
    if (FFd >= 0) {
        ::close(FFd);  // an unnamed file goes with its last descriptor
        FFd = -1;
    }
    FUnnamed = false;
    if (!FTempPath.isEmpty()) {
        ::unlink(FTempPath.constData());
        FTempPath.clear();
    }
}

bool TPhotoFile::Open(const QString& finalName, QString& error) {
    Discard();
    FWriteError.clear();
    FWritten = 0;
    // The temporary file lives beside the final one, so that placing it is a link or a
    // rename within one file system.
    const QString folder = finalName.left(finalName.lastIndexOf(QLatin1Char('/')) + 1);
    // Unnamed where the file system allows: a process killed while writing leaves nothing.
    const QByteArray nativeFolder =
        QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    const int unnamed = ::open(nativeFolder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (unnamed >= 0) {
        FFd = unnamed;
        FUnnamed = true;
        return true;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        error = Failure(finalName, qt_error_string(errno));
        return false;
    }
    // Otherwise a named one, starting with a dot so that file browsers hide it; a killed
    // process leaves it behind, and RemoveStaleTempFiles clears it at a later start.
    for (int tries = 0; tries < 100; ++tries) {
        const QByteArray path = QFile::encodeName(
            folder + QStringLiteral(".snapix-%1.tmp")
                         .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            FFd = fd;
            FTempPath = path;
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    error = Failure(finalName, qt_error_string(errno));
    return false;
}

bool TPhotoFile::Append(const char* data, size_t size) {
    if (FFd < 0 || !FWriteError.isEmpty()) {
        return false;
    }
    if (!WriteAll(FFd, data, size, FWriteError)) {
        return false;
    }
    // Start writing this piece to disk now, so that the flush before placing the file
    // finds little left to do.
    ::sync_file_range(FFd, FWritten, off64_t(size), SYNC_FILE_RANGE_WRITE);
    FWritten += int64_t(size);
    return true;
}

void TPhotoFile::SetWriteError(const QString& error) {
    if (FWriteError.isEmpty()) {
        FWriteError = error.isEmpty() ? qt_error_string(EIO) : error;
    }
}

TPlaceResult TPhotoFile::Place(const TNameFor& nameFor) {
    TPlaceResult result;
    result.FileName = nameFor(0);
    if (FFd < 0) {
        result.Error = Failure(result.FileName, qt_error_string(EBADF));
        return result;
    }
    QString why = FWriteError;
    if (why.isEmpty() && ::fdatasync(FFd) != 0) {
        why = qt_error_string(errno);
    }
    // A named file is closed before it is placed, so that a failing close (which some
    // network file systems use to report a failed write) keeps it from being placed. An
    // unnamed one needs its descriptor to be placed; its data are on disk already.
    if (!FUnnamed) {
        const int fd = FFd;
        FFd = -1;
        if (::close(fd) != 0 && why.isEmpty()) {
            why = qt_error_string(errno);
        }
    }
    if (!why.isEmpty()) {
        Discard();
        result.Error = Failure(result.FileName, why);
        return result;
    }

    for (unsigned attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        const QString name = attempt == 0 ? result.FileName : nameFor(attempt);
        const QByteArray native = QFile::encodeName(name);
        const int refusal =
            FUnnamed ? LinkNoReplace(FFd, native) : PlaceNoReplace(FTempPath, native);
        if (refusal == 0) {
            FTempPath.clear();  // it is the photograph now
            Discard();
            result.Ok = true;
            result.FileName = name;
            return result;
        }
        if (refusal != EEXIST) {
            Discard();
            result.Error = Failure(name, qt_error_string(refusal));
            return result;
        }
    }
    Discard();
    result.Error =
        Failure(result.FileName,
                QStringLiteral("已有 %1 个同名照片, 没有空闲的文件名").arg(MaxNameAttempts));
    return result;
}

TPlaceResult PlacePhotoFile(const TNameFor& nameFor, const TWriteContent& write) {
    TPhotoFile file;
    TPlaceResult result;
    if (!file.Open(nameFor(0), result.Error)) {
        result.FileName = nameFor(0);
        return result;
    }
    QString why;
    if (!write(file.Descriptor(), why)) {
        file.SetWriteError(why);
    }
    return file.Place(nameFor);
}

int RemoveStaleTempFiles(const QString& folder, std::chrono::seconds olderThan) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        return 0;
    }
    const time_t cutoff = ::time(nullptr) - time_t(olderThan.count());
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTempFileName(entry->d_name)) {
            continue;
        }
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_mtime < cutoff &&
            ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

}  // namespace PhotoPipeline
