// The EXIF block of a JPEG photograph: when it was taken, by which camera and program.
#include "photo/Exif.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>

namespace PhotoPipeline {

namespace {

// The longest Model and Software kept, and the room left for the description: together
// with the fixed entries they stay well inside one APP1 segment.
constexpr int kMaxNameBytes = 255;
constexpr int kMaxDescriptionBytes = MaxApp1Bytes - 4096;

// UTF-8 of `text`, NULs (which would end an EXIF string early) as spaces, at most
// `maxBytes` long without splitting a character.
QByteArray ExifText(const QString& text, int maxBytes) {
    QByteArray bytes = text.toUtf8();
    bytes.replace('\0', ' ');
    if (bytes.size() > maxBytes) {
        qsizetype end = maxBytes;
        while (end > 0 && (uint8_t(bytes[end]) & 0xC0) == 0x80) {
            --end;  // back to the first byte of the character that did not fit
        }
        bytes.truncate(end);
    }
    return bytes;
}

// One EXIF structure being filled. libexif's objects are reference counted C objects;
// this owns one reference to each.
class TExifBuilder {
  public:
    TExifBuilder() : FMem(exif_mem_new_default()) {
        if (FMem) {
            FData = exif_data_new_mem(FMem);
        }
        if (FData) {
            exif_data_set_byte_order(FData, EXIF_BYTE_ORDER_INTEL);
            exif_data_set_data_type(FData, EXIF_DATA_TYPE_COMPRESSED);
        }
    }
    ~TExifBuilder() {
        if (FData) {
            exif_data_unref(FData);
        }
        if (FMem) {
            exif_mem_unref(FMem);
        }
    }
    TExifBuilder(const TExifBuilder&) = delete;
    TExifBuilder& operator=(const TExifBuilder&) = delete;

    void Ascii(ExifIfd ifd, ExifTag tag, const QByteArray& text) {
        // EXIF strings end with a NUL, which they count.
        if (uint8_t* data = Add(ifd, tag, EXIF_FORMAT_ASCII, unsigned(text.size()) + 1)) {
            std::memcpy(data, text.constData(), size_t(text.size()));
        }
    }
    void Undefined(ExifIfd ifd, ExifTag tag, const char* bytes, unsigned size) {
        if (uint8_t* data = Add(ifd, tag, EXIF_FORMAT_UNDEFINED, size)) {
            std::memcpy(data, bytes, size);
        }
    }
    void Short(ExifIfd ifd, ExifTag tag, uint16_t value) {
        if (uint8_t* data = Add(ifd, tag, EXIF_FORMAT_SHORT, 1)) {
            exif_set_short(data, EXIF_BYTE_ORDER_INTEL, value);
        }
    }
    void Long(ExifIfd ifd, ExifTag tag, uint32_t value) {
        if (uint8_t* data = Add(ifd, tag, EXIF_FORMAT_LONG, 1)) {
            exif_set_long(data, EXIF_BYTE_ORDER_INTEL, value);
        }
    }
    void Rational(ExifIfd ifd, ExifTag tag, uint32_t numerator, uint32_t denominator) {
        if (uint8_t* data = Add(ifd, tag, EXIF_FORMAT_RATIONAL, 1)) {
            exif_set_rational(data, EXIF_BYTE_ORDER_INTEL, ExifRational{numerator, denominator});
        }
    }

    // The APP1 payload, or empty when anything on the way lacked memory.
    QByteArray Save() {
        if (!FData || !FOk) {
            return {};
        }
        unsigned char* saved = nullptr;
        unsigned int size = 0;
        exif_data_save_data(FData, &saved, &size);
        QByteArray block;
        if (saved && size > 0 && size <= unsigned(MaxApp1Bytes)) {
            block = QByteArray(reinterpret_cast<const char*>(saved), qsizetype(size));
        }
        exif_mem_free(FMem, saved);
        return block;
    }

  private:
    // A new entry of `components` values in `ifd`; its data, zeroed, to fill in. Entries
    // are added in the order of their tags, as the format wants them.
    uint8_t* Add(ExifIfd ifd, ExifTag tag, ExifFormat format, unsigned components) {
        if (!FData || !FOk) {
            return nullptr;
        }
        const unsigned size = exif_format_get_size(format) * components;
        ExifEntry* entry = exif_entry_new_mem(FMem);
        uint8_t* data = entry ? static_cast<uint8_t*>(exif_mem_alloc(FMem, size)) : nullptr;
        if (!data) {
            FOk = false;
            if (entry) {
                exif_entry_unref(entry);
            }
            return nullptr;
        }
        entry->tag = tag;
        entry->format = format;
        entry->components = components;
        entry->size = size;
        entry->data = data;
        exif_content_add_entry(FData->ifd[ifd], entry);
        exif_entry_unref(entry);  // the content holds it now
        return data;
    }

    ExifMem* FMem = nullptr;
    ExifData* FData = nullptr;
    bool FOk = true;
};

// "+08:00": the offset of local time from UTC when the photograph was taken.
QByteArray OffsetText(int seconds) {
    const char sign = seconds < 0 ? '-' : '+';
    const int minutes = (seconds < 0 ? -seconds : seconds) / 60;
    char text[8];
    std::snprintf(text, sizeof text, "%c%02d:%02d", sign, minutes / 60 % 100, minutes % 60);
    return QByteArray(text);
}

}  // namespace

QByteArray ExifBlock(const TExifFields& fields, QSize size, int maxDescriptionBytes) {
    TExifBuilder exif;
    const QByteArray description =
        ExifText(fields.Description, qBound(0, maxDescriptionBytes, kMaxDescriptionBytes));
    if (!description.isEmpty()) {
        exif.Ascii(EXIF_IFD_0, EXIF_TAG_IMAGE_DESCRIPTION, description);
    }
    if (!fields.Model.isEmpty()) {
        exif.Ascii(EXIF_IFD_0, EXIF_TAG_MODEL, ExifText(fields.Model, kMaxNameBytes));
    }
    exif.Short(EXIF_IFD_0, EXIF_TAG_ORIENTATION, 1);  // row 0 at the top, column 0 left
    exif.Rational(EXIF_IFD_0, EXIF_TAG_X_RESOLUTION, 72, 1);
    exif.Rational(EXIF_IFD_0, EXIF_TAG_Y_RESOLUTION, 72, 1);
    exif.Short(EXIF_IFD_0, EXIF_TAG_RESOLUTION_UNIT, 2);  // inches
    if (!fields.Software.isEmpty()) {
        exif.Ascii(EXIF_IFD_0, EXIF_TAG_SOFTWARE, ExifText(fields.Software, kMaxNameBytes));
    }
    exif.Short(EXIF_IFD_0, EXIF_TAG_YCBCR_POSITIONING, 1);  // centred, as libjpeg samples

    exif.Undefined(EXIF_IFD_EXIF, EXIF_TAG_EXIF_VERSION, "0232", 4);
    if (fields.Taken.isValid()) {
        exif.Ascii(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL,
                   fields.Taken.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")).toLatin1());
        exif.Ascii(EXIF_IFD_EXIF, EXIF_TAG_OFFSET_TIME_ORIGINAL,
                   OffsetText(fields.Taken.offsetFromUtc()));
    }
    exif.Undefined(EXIF_IFD_EXIF, EXIF_TAG_COMPONENTS_CONFIGURATION, "\1\2\3\0", 4);  // Y Cb Cr
    exif.Undefined(EXIF_IFD_EXIF, EXIF_TAG_FLASH_PIX_VERSION, "0100", 4);
    exif.Short(EXIF_IFD_EXIF, EXIF_TAG_COLOR_SPACE, 1);  // sRGB
    exif.Long(EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, uint32_t(qMax(size.width(), 0)));
    exif.Long(EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION, uint32_t(qMax(size.height(), 0)));
    return exif.Save();
}

}  // namespace PhotoPipeline
