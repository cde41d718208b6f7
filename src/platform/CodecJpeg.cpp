// JPEG, the format of almost every photo, gets the fastest path we have: libjpeg-turbo
// decodes straight to the nearest larger halving DCT scale (1/2, 1/4, 1/8), and a cheap
// resample brings that to the exact size asked. Only the markers before the image
// data are parsed here (orientation, ICC profile, EXIF thumbnail); libvips takes
// the JPEGs this path declines (CMYK).

#include "platform/CodecInternal.h"

#include <turbojpeg.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <cstring>

#include <jpeglib.h>

namespace {

uint32_t readU16(const uint8_t *p, bool le)
{
    return le ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[0] << 8 | p[1]);
}

uint32_t readU32(const uint8_t *p, bool le)
{
    return le ? (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24)
              : (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]));
}

// Reads orientation and the IFD1 thumbnail from an EXIF block (the TIFF structure
// after "Exif\0\0"). tiffOffset is where that structure starts in the file.
void parseExif(const uint8_t *tiff, size_t size, size_t tiffOffset, CodecDetail::JpegFacts &facts)
{
    if (size < 8)
        return;
    bool le;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        le = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        le = false;
    else
        return;
    if (readU16(tiff + 2, le) != 42)
        return;
    auto walkIfd = [&](uint32_t offset, auto &&onEntry) -> uint32_t {
        if (offset < 8 || size_t(offset) + 2 > size)
            return 0;
        const uint32_t count = readU16(tiff + offset, le);
        if (size_t(offset) + 2 + size_t(count) * 12 + 4 > size)
            return 0;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t *e = tiff + offset + 2 + i * 12;
            onEntry(readU16(e, le), readU16(e + 2, le), readU32(e + 4, le), e + 8);
        }
        return readU32(tiff + offset + 2 + count * 12, le);
    };
    const uint32_t ifd0 = readU32(tiff + 4, le);
    const uint32_t ifd1 = walkIfd(ifd0, [&](uint32_t tag, uint32_t type, uint32_t, const uint8_t *value) {
        if (tag == 0x0112 && type == 3)
            facts.orientation = int(readU16(value, le));
    });
    if (ifd1 == 0 || ifd1 == ifd0)
        return;
    uint32_t thumbOffset = 0, thumbLength = 0;
    walkIfd(ifd1, [&](uint32_t tag, uint32_t type, uint32_t, const uint8_t *value) {
        const uint32_t v = type == 3 ? readU16(value, le) : readU32(value, le);
        if (tag == 0x0201)
            thumbOffset = v;
        else if (tag == 0x0202)
            thumbLength = v;
    });
    if (thumbOffset > 0 && thumbLength > 0 && size_t(thumbOffset) + thumbLength <= size) {
        facts.thumbOffset = tiffOffset + thumbOffset;
        facts.thumbLength = thumbLength;
    }
}

struct Decompressor {
    tjhandle handle = tjInitDecompress();
    ~Decompressor() { tjDestroy(handle); }
};

tjhandle decompressor()
{
    // A handle per thread: TurboJPEG handles are not to be shared.
    thread_local Decompressor d;
    return d.handle;
}

// The halving DCT scale (1/1, 1/2, 1/4 or 1/8) that gives the smallest decode still
// at least target on the longer side. libjpeg-turbo has SIMD inverse DCTs for those
// only: the others cost more than the next larger halving (3/8 more than 1/2), and
// 3/4, 5/8 and 7/8 more than a full-size decode.
tjscalingfactor scaleFor(int longSide, int target)
{
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    tjscalingfactor best{1, 1};
    int bestSide = longSide;
    for (int i = 0; i < count; ++i) {
        const tjscalingfactor f = factors[i];
        if (f.num != 1 || (f.denom & (f.denom - 1)) != 0)
            continue;
        const int side = TJSCALED(longSide, f);
        if (side >= target && side < bestSide) {
            best = f;
            bestSide = side;
        }
    }
    return best;
}

// How much larger than the target a fine reduction decodes before its Lanczos pass.
// The DCT-scaled decode acts as a filter of its own; leaving a factor of two to the
// Lanczos pass (as libvips' thumbnail does) keeps the sharpness of the result within
// a few percent of libvips', where a factor of 1.5 loses up to ten.
constexpr int fineHeadroom = 2;

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

// Decodes at the DCT scale factor, which gives sw x sh, and hands the rows on as they
// come out of the decoder, where a whole frame would be written out and read back:
// output row y (of outRows) needs the scaled decode's rows up to lastRow(y), and
// reduce(y, row) makes it, where row(i) is the decoded row i. A ring of ringRows rows is
// all that is held, so no output row may need rows further back than that. The pixels
// are those of a TurboJPEG decode with the same flags. A truncated or slightly corrupt
// stream decodes as far as it goes (the rest grey), as with TurboJPEG.
template <typename LastRow, typename Reduce>
bool decodeStreaming(const uint8_t *data, size_t size, tjscalingfactor factor, int sw, int sh, bool fastUpsample,
                     int ringRows, int outRows, LastRow lastRow, Reduce reduce)
{
    // Everything the decode needs is made before the jump point: nothing that a
    // jump back from the library's error handler skips over needs unwinding.
    const size_t rowBytes = size_t(sw) * 4;
    std::vector<uint8_t> rows(rowBytes * size_t(ringRows));
    const auto row = [&](int i) -> const uint8_t * { return rows.data() + size_t(i % ringRows) * rowBytes; };
    JpegError error;
    jpeg_decompress_struct info;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = [](j_common_ptr common) {
        std::longjmp(reinterpret_cast<JpegError *>(common->err)->jump, 1);
    };
    error.manager.emit_message = [](j_common_ptr, int) {}; // warnings leave a partial image
    jpeg_create_decompress(&info);
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_mem_src(&info, data, (unsigned long)size);
    jpeg_read_header(&info, TRUE);
    info.scale_num = unsigned(factor.num);
    info.scale_denom = unsigned(factor.denom);
    info.out_color_space = JCS_EXT_RGBA;
    info.do_fancy_upsampling = fastUpsample ? FALSE : TRUE;
    jpeg_start_decompress(&info);
    if (int(info.output_width) != sw || int(info.output_height) != sh || info.output_components != 4) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    int decoded = 0;
    for (int y = 0; y < outRows; ++y) {
        const int last = lastRow(y);
        while (decoded <= last) {
            JSAMPROW target = rows.data() + size_t(decoded % ringRows) * rowBytes;
            if (jpeg_read_scanlines(&info, &target, 1) != 1) {
                jpeg_destroy_decompress(&info);
                return false;
            }
            ++decoded;
        }
        reduce(y, row);
    }
    // The rows below the last one used are never decoded.
    jpeg_destroy_decompress(&info);
    return true;
}

// The fast reduction (RowReducer) as the rows come out: two rows of the scaled
// decode at a time.
bool decodeReducing(const uint8_t *data, size_t size, tjscalingfactor factor, int sw, int sh, bool fastUpsample,
                    QImage &out)
{
    CodecDetail::RowReducer reducer(sw, sh, out.width(), out.height());
    uint8_t *const pixels = out.bits();
    const qsizetype stride = out.bytesPerLine();
    // Output rows advance by at least one source row each, so a ring of two would
    // do; four keeps the bottom edge obvious.
    return decodeStreaming(
        data, size, factor, sw, sh, fastUpsample, 4, out.height(), [&](int y) { return reducer.secondSourceRow(y); },
        [&](int y, const auto &row) {
            reducer.reduceRow(y, row(reducer.firstSourceRow(y)), row(reducer.secondSourceRow(y)), pixels + y * stride);
        });
}

// The fine reduction (Lanczos 3) as the rows come out: the filter's few dozen rows of
// the scaled decode at a time. A 12 MP photo reduced for analysis would otherwise be
// decoded into a 48 MB frame first, whose fresh pages cost more than the Lanczos pass.
bool decodeLanczos(const uint8_t *data, size_t size, tjscalingfactor factor, int sw, int sh, QImage &out)
{
    CodecDetail::LanczosReducer reducer(sw, sh, out.width(), out.height());
    uint8_t *const pixels = out.bits();
    const qsizetype stride = out.bytesPerLine();
    const int taps = reducer.rowsAtOnce();
    std::vector<const uint8_t *> window(static_cast<size_t>(taps));
    return decodeStreaming(
        data, size, factor, sw, sh, false, taps, out.height(), [&](int y) { return reducer.lastSourceRow(y); },
        [&](int y, const auto &row) {
            const int first = reducer.firstSourceRow(y);
            const int last = reducer.lastSourceRow(y);
            for (int k = 0; k < taps; ++k)
                window[size_t(k)] = row(std::min(first + k, last));
            reducer.reduceRow(y, window.data(), pixels + y * stride);
        });
}

// Decodes to an RGBA bitmap with the longer side at most maxPixelSize (stored orientation).
QImage decodePixels(const uint8_t *data, size_t size, int maxPixelSize, Codec::ScaleQuality quality)
{
    tjhandle tj = decompressor();
    if (!tj)
        return {};
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(tj, data, (unsigned long)size, &width, &height, &subsampling, &colorspace) != 0)
        return {};
    if (width <= 0 || height <= 0 || int64_t(width) * height > Codec::maxPixelCount)
        return {};
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK)
        return {};
    const QSize target = CodecDetail::fitWithin(QSize(width, height), maxPixelSize);
    const bool fine = quality == Codec::ScaleQuality::fine;
    const int targetSide = std::max(target.width(), target.height());
    const tjscalingfactor factor = scaleFor(std::max(width, height), fine ? targetSide * fineHeadroom : targetSide);
    const int sw = TJSCALED(width, factor);
    const int sh = TJSCALED(height, factor);

    QImage out = CodecDetail::pooledImage(target.width(), target.height());
    if (out.isNull())
        return {};
    // A reduced decode is resampled and filtered by the GPU again, so the merged
    // (non-fancy) chroma upsampling is good enough there and saves a pass.
    const bool fastUpsample = !fine && (sw < width || sh < height);
    auto decodeInto = [&](uint8_t *buffer, int pitch) {
        const int flags = fastUpsample ? TJFLAG_FASTUPSAMPLE : 0;
        const int rc = tjDecompress2(tj, data, (unsigned long)size, buffer, sw, pitch, sh, TJPF_RGBA, flags);
        // Warnings (a truncated or slightly corrupt stream) still leave every row that
        // could be decoded; the rest is grey, which is what a partial image shows.
        return rc == 0 || tjGetErrorCode(tj) == TJERR_WARNING;
    };
    if (sw == target.width() && sh == target.height()) {
        if (!decodeInto(out.bits(), int(out.bytesPerLine())))
            return {};
        return out;
    }
    if (!fine && CodecDetail::RowReducer::suits(sw, sh, target.width(), target.height()))
        return decodeReducing(data, size, factor, sw, sh, fastUpsample, out) ? out : QImage();
    if (fine)
        return decodeLanczos(data, size, factor, sw, sh, out) ? out : QImage();
    CodecDetail::ScratchBuffer scratch(size_t(sw) * size_t(sh) * 4);
    if (!scratch || !decodeInto(scratch.data(), sw * 4))
        return {};
    CodecDetail::resampleFor(quality, scratch.data(), sw, sh, qsizetype(sw) * 4, out.bits(), out.width(),
                             out.height(), out.bytesPerLine());
    return out;
}

bool sameShape(QSize a, QSize b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const double ra = double(a.width()) / a.height();
    const double rb = double(b.width()) / b.height();
    return std::abs(ra - rb) <= 0.02 * rb;
}

} // namespace

namespace CodecDetail {

std::optional<JpegFacts> jpegFacts(const uint8_t *data, size_t size)
{
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return std::nullopt;
    JpegFacts facts;
    QList<QByteArray> iccChunks;
    size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) {
            ++at; // tolerate stray bytes between segments
            continue;
        }
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA)
            break;
        const size_t length = readU16(data + at + 2, false);
        if (length < 2)
            break;
        const uint8_t *segment = data + at + 4;
        const size_t segmentSize = std::min(length - 2, size - std::min(size, at + 4));
        const bool isSof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (isSof && segmentSize >= 6) {
            facts.size = QSize(int(readU16(segment + 3, false)), int(readU16(segment + 1, false)));
            facts.cmyk = segment[5] == 4;
        } else if (marker == 0xE1 && segmentSize > 6 && std::memcmp(segment, "Exif\0\0", 6) == 0) {
            parseExif(segment + 6, segmentSize - 6, size_t(segment + 6 - data), facts);
        } else if (marker == 0xE2 && segmentSize > 14 && std::memcmp(segment, "ICC_PROFILE\0", 12) == 0) {
            const int seq = segment[12];
            while (iccChunks.size() < seq)
                iccChunks.append(QByteArray());
            if (seq >= 1)
                iccChunks[seq - 1] = QByteArray(reinterpret_cast<const char *>(segment + 14), qsizetype(segmentSize - 14));
        }
        at += 2 + length;
    }
    if (facts.size.isEmpty())
        return std::nullopt;
    for (const QByteArray &chunk : std::as_const(iccChunks)) {
        if (chunk.isEmpty()) { // a missing chunk makes the profile unusable
            facts.icc.clear();
            break;
        }
        facts.icc += chunk;
    }
    return facts;
}

QImage jpegDecode(const uint8_t *data, size_t size, int maxPixelSize, bool preferEmbedded,
                  Codec::ScaleQuality quality, std::optional<int> orientationOverride)
{
    const auto facts = jpegFacts(data, size);
    if (!facts || facts->cmyk)
        return {};
    const int orientation = orientationOverride.value_or(facts->orientation);
    const int wanted = std::min(maxPixelSize, std::max(facts->size.width(), facts->size.height()));

    QImage image;
    if (preferEmbedded && facts->thumbLength > 0) {
        // The camera's own thumbnail, when it is large enough and shows the whole frame
        // (some cameras pad a 3:2 photo into a 4:3 thumbnail with black bars).
        const uint8_t *thumb = data + facts->thumbOffset;
        const auto thumbFacts = jpegFacts(thumb, facts->thumbLength);
        if (thumbFacts && !thumbFacts->cmyk
            && std::max(thumbFacts->size.width(), thumbFacts->size.height()) >= wanted
            && sameShape(thumbFacts->size, facts->size))
            image = decodePixels(thumb, facts->thumbLength, maxPixelSize, quality);
    }
    if (image.isNull())
        image = decodePixels(data, size, maxPixelSize, quality);
    if (image.isNull())
        return {};
    if (!facts->icc.isEmpty())
        iccToSrgbInPlace(image, facts->icc);
    return applyOrientation(image, orientation);
}

QImage jpegDecodeFile(const QString &path, int maxPixelSize, bool preferEmbedded, Codec::ScaleQuality quality)
{
    const auto file = readWholeFile(path);
    if (!file)
        return {};
    return jpegDecode(file->data, file->size, maxPixelSize, preferEmbedded, quality);
}

} // namespace CodecDetail
