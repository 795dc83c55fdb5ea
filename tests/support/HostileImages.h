// Picture files built byte by byte for the loader's tests and benchmark: legal files that
// are dear to decode, files cut short or lying about their size, and the large valid
// files that must still load. Header-only, so that the benchmarks can use it too.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QtEndian>

namespace hostile {

// Writes entropy-coded JPEG data: bits most significant first, 0xFF bytes stuffed.
class TJpegBits {
  public:
    void Put(uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            FByte = uint8_t(FByte << 1 | ((bits >> i) & 1));
            if (++FFill == 8) {
                Flush();
            }
        }
    }
    // Pads the last byte with 1-bits, as encoders do, and hands the bytes over.
    QByteArray Take() {
        while (FFill != 0) {
            Put(1, 1);
        }
        QByteArray out;
        out.swap(FOut);
        return out;
    }

  private:
    void Flush() {
        FOut.append(char(FByte));
        if (FByte == 0xFF) {
            FOut.append('\0');
        }
        FByte = 0;
        FFill = 0;
    }
    QByteArray FOut;
    uint8_t FByte = 0;
    int FFill = 0;
};

inline void Be16(QByteArray& out, int value) {
    out.append(char(value >> 8 & 0xFF));
    out.append(char(value & 0xFF));
}

inline void Segment(QByteArray& out, uint8_t marker, const QByteArray& body) {
    out.append('\xFF');
    out.append(char(marker));
    Be16(out, int(body.size()) + 2);
    out.append(body);
}

// A legal progressive greyscale JPEG of one flat grey, hand-made so that it costs
// nothing to write: a DC scan, then the 63 AC coefficients in `bands` spectral bands,
// each band sent in `levels` successive-approximation scans (the last at full
// precision, so the file is complete). Scans: 1 + bands * levels. Every AC scan codes
// "no coefficient in any block" as end-of-band runs, so a scan is a few dozen bytes
// however large the picture, while a decoder still visits every block in every scan.
// With 9459 x 9459, 63 bands and 14 levels: 883 scans in about 300 KB.
inline QByteArray ProgressiveScanBomb(int width, int height, int bands = 63, int levels = 14) {
    QByteArray jpeg("\xFF\xD8", 2);
    QByteArray dqt(1, '\0');
    dqt.append(QByteArray(64, '\x01'));
    Segment(jpeg, 0xDB, dqt);
    QByteArray sof;
    sof.append('\x08');
    Be16(sof, height);
    Be16(sof, width);
    sof.append("\x01\x01\x11\x00", 4);
    Segment(jpeg, 0xC2, sof);
    // DC table 0: a single 1-bit code, category 0. AC table 0: fifteen 5-bit codes, the
    // end-of-band runs EOB0 .. EOB14 (a run of 2^r blocks plus r extra bits).
    QByteArray dht;
    dht.append('\x00');
    dht.append(char(1));
    dht.append(QByteArray(15, '\0'));
    dht.append('\x00');
    dht.append('\x10');
    dht.append(QByteArray(4, '\0'));
    dht.append(char(15));  // 15 codes of length 5: EOB0 .. EOB14
    dht.append(QByteArray(11, '\0'));
    for (int r = 0; r <= 14; ++r) {
        dht.append(char(r << 4));
    }
    Segment(jpeg, 0xC4, dht);

    const int64_t blocks = int64_t((width + 7) / 8) * ((height + 7) / 8);
    const auto scanHeader = [&](int ss, int se, int ah, int al) {
        QByteArray sos;
        sos.append('\x01');
        sos.append('\x01');
        sos.append('\x00');
        sos.append(char(ss));
        sos.append(char(se));
        sos.append(char(ah << 4 | al));
        Segment(jpeg, 0xDA, sos);
    };
    // DC: every block's difference is 0.
    scanHeader(0, 0, 0, 0);
    {
        TJpegBits bits;
        for (int64_t i = 0; i < blocks; ++i) {
            bits.Put(0, 1);
        }
        jpeg.append(bits.Take());
    }
    // AC: end-of-band runs covering every block. A run of n blocks is EOBr with
    // r = floor(log2 n) and n - 2^r in r extra bits (codes 0..14 = 00000..01110).
    QByteArray acData;
    {
        TJpegBits bits;
        int64_t left = blocks;
        while (left > 0) {
            const int64_t run = left >= 32767 ? 32767 : left;
            int r = 0;
            while ((int64_t(1) << (r + 1)) <= run) {
                ++r;
            }
            bits.Put(uint32_t(r), 5);
            bits.Put(uint32_t(run - (int64_t(1) << r)), r);
            left -= run;
        }
        acData = bits.Take();
    }
    for (int b = 0; b < bands; ++b) {
        const int ss = 1 + 63 * b / bands;
        const int se = 63 * (b + 1) / bands;
        for (int level = levels - 1; level >= 0; --level) {
            const int ah = level == levels - 1 ? 0 : level + 1;
            scanHeader(ss, se, ah, level);
            jpeg.append(acData);
        }
    }
    jpeg.append("\xFF\xD9", 2);
    return jpeg;
}

// A camera-like picture: gradients with grain, so that encoders have real work.
inline QImage Scene(int width, int height, uint32_t seed = 12345) {
    QImage picture(width, height, QImage::Format_BGR888);
    uint32_t noise = seed;
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

struct TJpegSettings {
    bool Arithmetic = false;
    bool Progressive = false;
    int Quality = 90;
    int RestartRows = 0;
    unsigned RestartMcus = 0;  // a restart marker every so many MCUs (0: by rows or none)
    int LumaAcross = 0, LumaDown = 0;  // luma blocks per chroma block (0: libjpeg's 2 x 2)
};

// libjpeg's own encoding of `height` rows of `components` samples in `space`; row(y)
// gives row y.
template <typename RowAt>
QByteArray Compress(int width, int height, int components, J_COLOR_SPACE space,
                    const TJpegSettings& settings, RowAt row) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, settings.Quality, TRUE);
    info.arith_code = settings.Arithmetic ? TRUE : FALSE;
    info.restart_in_rows = settings.RestartRows;
    info.restart_interval = settings.RestartMcus;
    if (settings.LumaAcross > 0) {
        info.comp_info[0].h_samp_factor = settings.LumaAcross;
        info.comp_info[0].v_samp_factor = settings.LumaDown;
    }
    info.write_Adobe_marker = space == JCS_CMYK ? TRUE : info.write_Adobe_marker;
    if (settings.Progressive) {
        jpeg_simple_progression(&info);
    }
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW r = row(int(info.next_scanline));
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray data(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return data;
}

inline QByteArray EncodeJpeg(const QImage& bgr, const TJpegSettings& settings = {}) {
    return Compress(bgr.width(), bgr.height(), 3, JCS_EXT_BGR, settings,
                    [&](int y) { return const_cast<uchar*>(bgr.constScanLine(y)); });
}

// A CMYK JPEG as print software writes it (Adobe marker, inverted values): all of one
// ink mix, or, without one, grain, so that its entropy-coded data is long.
inline QByteArray CmykJpeg(int width, int height, const uchar* cmyk = nullptr) {
    std::vector<uchar> row(size_t(width) * 4);
    uint32_t noise = 99;
    return Compress(width, height, 4, JCS_CMYK, {}, [&](int) {
        for (size_t i = 0; i < row.size(); ++i) {
            noise = noise * 1664525u + 1013904223u;
            row[i] = cmyk ? cmyk[i % 4] : uchar(noise >> 24);
        }
        return row.data();
    });
}

// Where the entropy-coded data of the first scan starts and the end marker stands.
inline qsizetype FirstScanData(const QByteArray& jpeg) {
    const qsizetype sos = jpeg.indexOf("\xFF\xDA");
    return sos + 2 + ((uchar(jpeg[sos + 2]) << 8) | uchar(jpeg[sos + 3]));
}

// The JPEG cut in the middle of its (single) scan's data, and an end marker put after
// the cut, so that nothing but the data itself tells that half of it is missing.
inline QByteArray HalfScanWithEndMarker(const QByteArray& jpeg) {
    const qsizetype start = FirstScanData(jpeg);
    const qsizetype end = jpeg.lastIndexOf("\xFF\xD9");
    qsizetype cut = start + (end - start) / 2;
    while (uchar(jpeg[cut - 1]) == 0xFF) {  // never leave half a stuffed 0xFF
        ++cut;
    }
    return jpeg.left(cut) + QByteArray("\xFF\xD9", 2);
}

namespace detail {

struct TJpegWarnings {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    int Warnings;
};

// Decodes as most programs do, with the whole file in memory: true when libjpeg
// decoded it without a single warning.
inline bool DecodesWithoutWarning(const QByteArray& data) {
    jpeg_decompress_struct info{};
    TJpegWarnings errors{};
    info.err = jpeg_std_error(&errors.Pub);
    errors.Pub.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<TJpegWarnings*>(c->err)->Jump, 1);
    };
    errors.Pub.emit_message = [](j_common_ptr c, int level) {
        reinterpret_cast<TJpegWarnings*>(c->err)->Warnings += level < 0;
    };
    jpeg_create_decompress(&info);
    std::vector<uchar> row;
    if (setjmp(errors.Jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_mem_src(&info, reinterpret_cast<const uchar*>(data.constData()), data.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    row.resize(size_t(info.output_width) * size_t(info.output_components));
    while (info.output_scanline < info.output_height) {
        JSAMPROW r = row.data();
        jpeg_read_scanlines(&info, &r, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return errors.Warnings == 0;
}

}  // namespace detail

// The JPEG with a Huffman code no table holds (a run of 16 and more 1-bits) where a
// decoder reading the whole file from memory skips it without a warning: the bad code
// is read as "nothing", and the data stays in step. The spot lies late in a 4096-byte
// stretch of the file, where a reader that takes the file 4096 bytes at a time (as
// djpeg does) checks every code. Empty when no such spot was found.
inline QByteArray CorruptHuffmanCodes(const QByteArray& jpeg) {
    const qsizetype start = FirstScanData(jpeg);
    const qsizetype end = jpeg.lastIndexOf("\xFF\xD9");
    for (qsizetype at = start + 16; at < end - 16; ++at) {
        if (at % 4096 < 2600 || at % 4096 > 4000 || uchar(jpeg[at - 1]) == 0xFF) {
            continue;
        }
        for (int n = 1; n <= 3; ++n) {
            QByteArray bad = jpeg;
            bad.replace(at, n, QByteArray("\xFF\x00\xFF\x00\xFF\x00", 6).left(2 * n + 2));
            if (detail::DecodesWithoutWarning(bad)) {
                return bad;
            }
        }
    }
    return {};
}

// --- BMP ------------------------------------------------------------------------------

inline void Le32(QByteArray& out, uint32_t value) {
    char b[4];
    qToLittleEndian(value, b);
    out.append(b, 4);
}

inline void Le16(QByteArray& out, uint16_t value) {
    char b[2];
    qToLittleEndian(value, b);
    out.append(b, 2);
}

// File header and 40-byte information header; `palette` entries follow.
inline QByteArray BmpHeaders(int32_t width, int32_t height, uint16_t bitCount,
                             uint32_t compression, uint32_t dataSize, uint32_t palette) {
    QByteArray out("BM", 2);
    const uint32_t offBits = 14 + 40 + palette * 4;
    Le32(out, offBits + dataSize);
    Le32(out, 0);
    Le32(out, offBits);
    Le32(out, 40);
    Le32(out, uint32_t(width));
    Le32(out, uint32_t(height));
    Le16(out, 1);
    Le16(out, bitCount);
    Le32(out, compression);
    Le32(out, dataSize);
    Le32(out, 2835);
    Le32(out, 2835);
    Le32(out, palette);
    Le32(out, 0);
    for (uint32_t i = 0; i < palette; ++i) {
        Le32(out, i * 0x010101u);  // grey ramp
    }
    return out;
}

// An 8-bit RLE-compressed BMP of `rows` rows as Windows writes it: runs, an
// end-of-line code after every row, and the end-of-bitmap code. The header may claim
// another size than the data holds.
inline QByteArray Rle8Bmp(int width, int rows, int claimWidth = 0, int claimHeight = 0) {
    QByteArray data;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < width;) {
            const int run = qMin(255, width - x);
            data.append(char(run));
            data.append(char((x / 7 + y) & 0xFF));
            x += run;
        }
        data.append(y + 1 < rows ? QByteArray("\x00\x00", 2) : QByteArray("\x00\x01", 2));
    }
    return BmpHeaders(claimWidth ? claimWidth : width, claimHeight ? claimHeight : rows, 8, 1,
                      uint32_t(data.size()), 256) +
           data;
}

// An uncompressed 24-bit BMP, rows bottom-up, each padded to 4 bytes.
inline QByteArray Bmp24(int width, int height) {
    const int stride = (width * 3 + 3) / 4 * 4;
    QByteArray out = BmpHeaders(width, height, 24, 0, uint32_t(stride) * uint32_t(height), 0);
    const qsizetype start = out.size();
    out.resize(start + qsizetype(stride) * height);
    for (int y = 0; y < height; ++y) {
        char* row = out.data() + start + qsizetype(stride) * y;
        for (int x = 0; x < width; ++x) {
            row[3 * x] = char(x);
            row[3 * x + 1] = char(y);
            row[3 * x + 2] = char(0x80);
        }
    }
    return out;
}

// --- PNG ------------------------------------------------------------------------------

inline QByteArray Png(const QImage& picture, int quality = -1) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(quality);
    writer.write(picture);
    return data;
}

// The PNG's CRC-32 (the zlib polynomial), so that a changed chunk stays well-formed.
inline uint32_t PngCrc(const char* data, qsizetype size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= uchar(data[i]);
        for (int k = 0; k < 8; ++k) {
            crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
    }
    return ~crc;
}

// The PNG with its header claiming another size (its checksum mended, so that only the
// size lies).
inline QByteArray PngClaiming(QByteArray png, uint32_t width, uint32_t height) {
    qToBigEndian(width, png.data() + 16);
    qToBigEndian(height, png.data() + 20);
    qToBigEndian(PngCrc(png.constData() + 12, 17), png.data() + 29);
    return png;
}

// The PNG with only the first half of its image data, in one well-formed IDAT chunk,
// followed by its end chunk: only the data itself tells that rows are missing.
inline QByteArray PngHalfData(const QByteArray& png) {
    QByteArray data;
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        const qsizetype length = qFromBigEndian<quint32>(png.constData() + at);
        if (png.mid(at + 4, 4) == "IDAT") {
            data += png.mid(at + 8, length);
        }
        at += 12 + length;
    }
    data.truncate(data.size() / 2);
    QByteArray chunk("IDAT");
    chunk += data;
    QByteArray out = png.left(33);  // signature and IHDR
    char be[4];
    qToBigEndian(quint32(data.size()), be);
    out.append(be, 4);
    out += chunk;
    qToBigEndian(PngCrc(chunk.constData(), chunk.size()), be);
    out.append(be, 4);
    out.append(QByteArray("\0\0\0\0IEND\xAE\x42\x60\x82", 12));
    return out;
}

}  // namespace hostile
