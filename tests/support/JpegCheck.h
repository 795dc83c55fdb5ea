// A reader and a writer we did not write, to check our JPEGs against: plain
// libjpeg encoding of a picture, and a strict decode in which any warning of the
// library (corrupt data, premature end, extraneous bytes) is a failure.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include <QByteArray>
#include <QImage>
#include <QString>

// libjpeg alone, with the settings our photographs use: library defaults, the given
// quality forced to baseline tables, rows fed as B, G, R straight from the picture.
inline QByteArray PlainLibjpeg(const QImage& bgr, int quality) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(bgr.width());
    info.image_height = JDIMENSION(bgr.height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(bgr.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

// A photograph's stream split around its EXIF block: SOI and the JFIF header, the APP1
// payload right after them, and everything from the first marker after it.
struct ExifSplit {
    bool Found = false;  // an APP1 segment directly after the JFIF header
    QByteArray Head, Exif, Rest;
    // The stream as it would be without the block.
    QByteArray WithoutExif() const { return Head + Rest; }
};

inline ExifSplit SplitAtExif(const QByteArray& jpeg) {
    ExifSplit split;
    const auto byte = [&jpeg](qsizetype at) { return uint8_t(jpeg[at]); };
    const auto length = [&](qsizetype at) { return (qsizetype(byte(at)) << 8) | byte(at + 1); };
    // SOI, then APP0 (FF E0) with its length.
    if (jpeg.size() < 6 || byte(0) != 0xFF || byte(1) != 0xD8 || byte(2) != 0xFF ||
        byte(3) != 0xE0) {
        return split;
    }
    const qsizetype app1 = 4 + length(4);
    if (app1 + 4 > jpeg.size() || byte(app1) != 0xFF || byte(app1 + 1) != 0xE1) {
        split.Head = jpeg.left(app1);
        split.Rest = jpeg.mid(app1);
        return split;
    }
    const qsizetype end = app1 + 2 + length(app1 + 2);
    if (end > jpeg.size()) {
        return split;
    }
    split.Found = true;
    split.Head = jpeg.left(app1);
    split.Exif = jpeg.mid(app1 + 4, end - app1 - 4);
    split.Rest = jpeg.mid(end);
    return split;
}

struct StrictJpeg {
    QString Error;  // empty when the stream decoded without a single warning
    int Width = 0, Height = 0, Components = 0;
    bool Progressive = false, Jfif = false;
    int DensityUnit = 0, XDensity = 0, YDensity = 0;  // JFIF: unit 1 is dots per inch
    int LumaH = 0, LumaV = 0, ChromaH = 0, ChromaV = 0;
    unsigned FirstLumaQuant = 0;
    QImage Picture;  // Format_RGB888
    bool Ok() const { return Error.isEmpty(); }
};

namespace strict_jpeg_detail {
struct Errors {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char First[JMSG_LENGTH_MAX];
};
inline void Exit(j_common_ptr info) {
    auto* e = reinterpret_cast<Errors*>(info->err);
    (*info->err->format_message)(info, e->First);
    std::longjmp(e->Jump, 1);
}
// A warning (level -1) ends the decode as an error would.
inline void Message(j_common_ptr info, int level) {
    if (level < 0) {
        Exit(info);
    }
}
inline bool Run(jpeg_decompress_struct& info, const QByteArray& data, StrictJpeg& out,
                Errors& errors) {
    if (setjmp(errors.Jump)) {
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    out.Width = int(info.image_width);
    out.Height = int(info.image_height);
    out.Components = info.num_components;
    out.Progressive = info.progressive_mode;
    out.Jfif = info.saw_JFIF_marker;
    out.DensityUnit = info.density_unit;
    out.XDensity = info.X_density;
    out.YDensity = info.Y_density;
    out.LumaH = info.comp_info[0].h_samp_factor;
    out.LumaV = info.comp_info[0].v_samp_factor;
    if (info.num_components > 1) {
        out.ChromaH = info.comp_info[1].h_samp_factor;
        out.ChromaV = info.comp_info[1].v_samp_factor;
    }
    out.FirstLumaQuant = info.quant_tbl_ptrs[0] ? info.quant_tbl_ptrs[0]->quantval[0] : 0;
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.Picture = QImage(out.Width, out.Height, QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.Picture.scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}
}  // namespace strict_jpeg_detail

inline StrictJpeg StrictDecode(const QByteArray& data) {
    StrictJpeg out;
    jpeg_decompress_struct info{};
    strict_jpeg_detail::Errors errors{};
    info.err = jpeg_std_error(&errors.Pub);
    errors.Pub.error_exit = strict_jpeg_detail::Exit;
    errors.Pub.emit_message = strict_jpeg_detail::Message;
    if (!strict_jpeg_detail::Run(info, data, out, errors)) {
        out.Error = QString::fromLocal8Bit(errors.First);
        out.Picture = QImage();
    }
    jpeg_destroy_decompress(&info);
    return out;
}
