#pragma once

// Shared between the decoder back ends; not part of the platform interface.

#include "platform/Codec.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace CodecDetail {

// The first bytes of a file (enough for every signature we sniff).
QByteArray readHead(const QString &path, qint64 bytes = 4096);

// The whole file into a per-thread buffer that is reused from call to call, so the
// pages of a large JPEG are not mapped fresh for every decode. The view is valid
// until the same thread reads the next file.
struct FileView {
    const uint8_t *data = nullptr;
    size_t size = 0;
};
std::optional<FileView> readWholeFile(const QString &path, qint64 limit = qint64(2) << 30);
// length bytes from offset into the same buffer; absent when the file is shorter.
std::optional<FileView> readFileRange(const QString &path, qint64 offset, qint64 length);

// A premultiplied RGBA8888 bitmap whose pixel buffer comes from the process's pool
// of large buffers and goes back to it when the last copy of the QImage is gone.
QImage pooledImage(int width, int height);
// Scratch memory from the same pool, for intermediate decodes.
class ScratchBuffer
{
public:
    explicit ScratchBuffer(size_t bytes);
    ~ScratchBuffer();
    ScratchBuffer(const ScratchBuffer &) = delete;
    ScratchBuffer &operator=(const ScratchBuffer &) = delete;
    uint8_t *data() const { return m_data; }
    explicit operator bool() const { return m_data != nullptr; }

private:
    uint8_t *m_data = nullptr;
    size_t m_capacity = 0;
};

// Resamples RGBA pixels (4 bytes each, any alpha convention) with a tent filter that
// widens with the reduction, so shrinking by any factor does not alias.
void resampleRgba(const uint8_t *src, int sw, int sh, qsizetype sstride, uint8_t *dst, int dw, int dh,
                  qsizetype dstride);

// Reduces RGBA pixels by less than a factor of two on each axis (or enlarges them)
// with two-tap linear interpolation, one output row at a time from the two source
// rows under it, so that a decoder can hand over rows as it produces them and no
// full-size frame is ever stored. The pixels are exactly those resampleRgba gives.
class RowReducer
{
public:
    // True when (sw, sh) -> (dw, dh) is within this reducer's reach.
    static bool suits(int sw, int sh, int dw, int dh);
    RowReducer(int sw, int sh, int dw, int dh);
    // Output row y mixes these two source rows (the same one where y falls on it).
    int firstSourceRow(int y) const { return m_rowFirst[size_t(y)]; }
    int secondSourceRow(int y) const { return m_rowSecond[size_t(y)]; }
    void reduceRow(int y, const uint8_t *first, const uint8_t *second, uint8_t *out);

private:
    int m_sourceWidth = 0;
    int m_width = 0;
    std::vector<int> m_rowFirst, m_rowSecond;
    std::vector<int32_t> m_rowWeights; // the two 16-bit weights of each output row
    std::vector<int> m_columnFirst, m_columnSecond; // offsets in values (4 per pixel)
    std::vector<int32_t> m_columnWeights;
    std::vector<int16_t> m_mid; // one row after the vertical pass
};

// lanczosRgba one output row at a time, from the few source rows that row needs: a
// decoder can hand its rows over as they come out instead of writing a whole frame
// first. Output row y needs source rows firstSourceRow(y) to lastSourceRow(y), passed
// as rows[k] = row firstSourceRow(y) + k for every k below rowsAtOnce() (rows past
// the last one repeat it). firstSourceRow never decreases as y grows.
class LanczosReducer
{
public:
    LanczosReducer(int sw, int sh, int dw, int dh);
    ~LanczosReducer();
    LanczosReducer(const LanczosReducer &) = delete;
    LanczosReducer &operator=(const LanczosReducer &) = delete;
    int rowsAtOnce() const;
    int firstSourceRow(int y) const;
    int lastSourceRow(int y) const;
    void reduceRow(int y, const uint8_t *const *rows, uint8_t *out);

private:
    struct Axes;
    std::unique_ptr<Axes> m_axes;
    int m_sourceHeight = 0;
    int m_width = 0;
    int m_rowValues = 0;
    std::vector<int16_t> m_mid; // one row after the vertical pass
};

// Whether the resamplers use AVX2 where the processor has it (the default). The AVX2
// passes give exactly the pixels of the plain ones; turning them off is for holding
// the one against the other.
void setVectorResampling(bool on);

// Resamples premultiplied RGBA pixels with a Lanczos 3 filter stretched over the
// reduction, like libvips' resize: slower than resampleRgba, and as sharp as a
// reduction can be without aliasing. Samples beyond the edges repeat the edge.
void lanczosRgba(const uint8_t *src, int sw, int sh, qsizetype sstride, uint8_t *dst, int dw, int dh,
                 qsizetype dstride);
// The resampler for a quality.
void resampleFor(Codec::ScaleQuality quality, const uint8_t *src, int sw, int sh, qsizetype sstride, uint8_t *dst,
                 int dw, int dh, qsizetype dstride);

// The size whose longer side is at most maxPixelSize with the shape of (w, h); never larger.
QSize fitWithin(QSize size, int maxPixelSize);

// A premultiplied RGBA image reduced to fit within maxPixelSize (the input itself when
// it already fits); null when no buffer could be had.
QImage fitResampled(const QImage &image, int maxPixelSize, Codec::ScaleQuality quality);

// Applies EXIF orientation 2-8 (1 and anything else return the input).
QImage applyOrientation(const QImage &image, int orientation);

// Converts the RGBA pixels in place from the embedded profile to sRGB; false when the
// profile cannot be used (the pixels are left alone). Profiles that are sRGB already
// are recognised and skipped.
bool iccToSrgbInPlace(QImage &image, const QByteArray &iccProfile);
// The profile's description text ("sRGB IEC61966-2.1"), empty when there is none.
QString iccDescription(const QByteArray &iccProfile);

// Brings any QImage to premultiplied RGBA8888 sRGB (its colour space honoured).
QImage toDisplayFormat(QImage image);

// --- back ends -------------------------------------------------------------

struct JpegFacts {
    QSize size;
    int orientation = 1;
    bool cmyk = false;
    QByteArray icc;
    // The EXIF thumbnail (IFD1), as an offset and length into the file.
    size_t thumbOffset = 0;
    size_t thumbLength = 0;
};
std::optional<JpegFacts> jpegFacts(const uint8_t *data, size_t size);
// Decodes a JPEG held in memory; orientationOverride replaces the file's own
// orientation (used for the preview JPEG inside a RAW file).
QImage jpegDecode(const uint8_t *data, size_t size, int maxPixelSize, bool preferEmbedded,
                  Codec::ScaleQuality quality, std::optional<int> orientationOverride = std::nullopt);
QImage jpegDecodeFile(const QString &path, int maxPixelSize, bool preferEmbedded, Codec::ScaleQuality quality);

std::optional<ImageHeader> vipsProbe(const QString &path, ImageFormat format);
QImage vipsDecode(const QString &path, ImageFormat format, int maxPixelSize);
QByteArray vipsIccProfile(const QString &path);
// An encoded image held in memory (PNG or JPEG 2000 inside an icon file).
std::optional<QSize> vipsBufferSize(const QByteArray &bytes);
QImage vipsDecodeBuffer(const QByteArray &bytes, int maxPixelSize);
std::optional<AnimatedFrames> vipsGifFrames(const QString &path);
bool vipsEncode(const QImage &image, const QString &path, ImageFormat format, int quality);

std::optional<ImageHeader> heifProbe(const QString &path, ImageFormat format);
// With ownProfile the pixels stay in the file's colours and its ICC profile is
// stored there; without, they are converted to sRGB.
QImage heifDecode(const QString &path, ImageFormat format, int maxPixelSize, bool preferEmbedded,
                  Codec::ScaleQuality quality, QByteArray *ownProfile = nullptr);
QByteArray heifIccProfile(const QString &path);
// The primary image's Exif (from its TIFF header on) and XMP packet, as
// libheif finds them; empty where there is none.
struct HeifMetadata {
    QByteArray exif;
    QByteArray xmp;
};
HeifMetadata heifMetadata(const QString &path);

// The largest classic entry of an icon file (run-length RGB with a mask, or ARGB):
// its size, and the picture.
std::optional<QSize> icnsClassicSize(const QByteArray &file);
QImage icnsClassicDecode(const QByteArray &file);

std::optional<ImageHeader> qtProbe(const QString &path, ImageFormat format);
QImage qtDecode(const QString &path, ImageFormat format, int maxPixelSize, Codec::ScaleQuality quality);

std::optional<ImageHeader> rawProbe(const QString &path);
QImage rawDecode(const QString &path, int maxPixelSize, bool full, Codec::ScaleQuality quality);

bool pngHasAnimationControl(const QString &path);
// The orientation of a PNG's eXIf chunk, 1 when it has none.
int pngExifOrientation(const QString &path);
// Whether this libvips reads a PNG's eXIf orientation itself (8.14 with libpng
// does not); decided once from a tiny PNG made in memory.
bool vipsReadsPngOrientation();
std::optional<AnimatedFrames> apngFrames(const QString &path);

void initVips();

} // namespace CodecDetail
