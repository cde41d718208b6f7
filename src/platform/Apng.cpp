// Animated PNG: the chunk test that tells an APNG from a still PNG, and a small
// frame reader (libvips and Qt see only the default image).

#include "platform/CodecInternal.h"
#include "platform/RegularFile.h"

#include <QColorSpace>
#include <QFile>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

struct Chunk {
    QByteArray type;
    QByteArray data;
};

quint32 be32(const QByteArray &b, qsizetype at)
{
    if (at + 4 > b.size())
        return 0;
    const auto *p = reinterpret_cast<const uint8_t *>(b.constData() + at);
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

quint16 be16(const QByteArray &b, qsizetype at)
{
    if (at + 2 > b.size())
        return 0;
    const auto *p = reinterpret_cast<const uint8_t *>(b.constData() + at);
    return quint16(p[0] << 8 | p[1]);
}

void putBe32(QByteArray &out, quint32 v)
{
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

quint32 crc32(const QByteArray &a, const QByteArray &b)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (const QByteArray *part : {&a, &b}) {
        for (char ch : *part)
            c = table[(c ^ uint8_t(ch)) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

void appendChunk(QByteArray &out, const QByteArray &type, const QByteArray &data)
{
    putBe32(out, quint32(data.size()));
    out += type;
    out += data;
    putBe32(out, crc32(type, data));
}

std::optional<QList<Chunk>> pngChunks(const QByteArray &bytes)
{
    if (!bytes.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return std::nullopt;
    QList<Chunk> chunks;
    qsizetype at = 8;
    while (at + 8 <= bytes.size()) {
        const quint32 length = be32(bytes, at);
        if (length > quint32(bytes.size()) || at + 12 + qsizetype(length) > bytes.size())
            break; // truncated: keep what is complete
        Chunk chunk{bytes.mid(at + 4, 4), bytes.mid(at + 8, length)};
        at += 12 + qsizetype(length);
        const bool end = chunk.type == "IEND";
        chunks.append(std::move(chunk));
        if (end)
            break;
    }
    return chunks;
}

struct FrameControl {
    quint32 width = 0, height = 0, x = 0, y = 0;
    quint16 delayNum = 0, delayDen = 0;
    quint8 dispose = 0, blend = 0;
};

std::optional<FrameControl> frameControl(const QByteArray &d)
{
    if (d.size() < 26)
        return std::nullopt;
    FrameControl fc;
    fc.width = be32(d, 4);
    fc.height = be32(d, 8);
    fc.x = be32(d, 12);
    fc.y = be32(d, 16);
    fc.delayNum = be16(d, 20);
    fc.delayDen = be16(d, 22);
    fc.dispose = quint8(d[24]);
    fc.blend = quint8(d[25]);
    if (fc.dispose > 2 || fc.blend > 1)
        return std::nullopt;
    return fc;
}

// Whether compressed image data of dataSize bytes can hold the rows of a width x
// height picture in the header's colour type and bit depth. Deflate expands by at
// most 1032:1, so a header or frame control that claims more pixels than its data
// can inflate to is refused before anything of that size is allocated. Interlaced
// rows take more bytes than plain ones, so the plain count is a lower bound.
bool dataCanHold(const QByteArray &ihdr, quint32 width, quint32 height, qsizetype dataSize)
{
    const quint8 depth = quint8(ihdr[8]);
    quint64 channels = 0;
    switch (quint8(ihdr[9])) {
    case 0: case 3: channels = 1; break; // grey, palette
    case 4: channels = 2; break;         // grey and alpha
    case 2: channels = 3; break;         // RGB
    case 6: channels = 4; break;         // RGBA
    default: return false;
    }
    if (depth == 0 || depth > 16)
        return false;
    const quint64 rowBytes = 1 + (quint64(width) * channels * depth + 7) / 8;
    constexpr quint64 maxDeflateRatio = 1032;
    return height <= (quint64(dataSize) * maxDeflateRatio + 64) / rowBytes;
}

// A frame as a stand-alone PNG (the image header with the frame's size, the shared
// palette and colour chunks, the frame's data), decoded by Qt's PNG reader and
// brought to sRGB.
QImage decodeFramePng(QByteArray ihdr, const QList<Chunk> &shared, const FrameControl &fc, const QByteArray &data)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    ihdr.replace(0, 8, QByteArray());
    QByteArray header;
    putBe32(header, fc.width);
    putBe32(header, fc.height);
    appendChunk(png, "IHDR", header + ihdr);
    for (const Chunk &chunk : shared)
        appendChunk(png, chunk.type, chunk.data);
    appendChunk(png, "IDAT", data);
    appendChunk(png, "IEND", {});
    QImage image = QImage::fromData(png, "PNG");
    if (image.isNull() || image.width() != int(fc.width) || image.height() != int(fc.height))
        return {};
    if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace(QColorSpace::SRgb))
        image.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

namespace CodecDetail {

bool pngHasAnimationControl(const QString &path)
{
    QFile file;
    if (!RegularFile::open(file, path))
        return false;
    if (file.read(8) != QByteArray("\x89PNG\r\n\x1a\n", 8))
        return false;
    // Walk the chunks up to the first image data: acTL must come before IDAT.
    for (int i = 0; i < 10000; ++i) {
        const QByteArray head = file.read(8);
        if (head.size() < 8)
            return false;
        const auto *p = reinterpret_cast<const uint8_t *>(head.constData());
        const quint32 length = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
        const QByteArray type = head.mid(4, 4);
        if (type == "acTL")
            return true;
        if (type == "IDAT" || type == "IEND")
            return false;
        if (length > 0x7FFFFFFF || !file.seek(file.pos() + qint64(length) + 4))
            return false;
    }
    return false;
}

int pngExifOrientation(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    if (file.read(8) != QByteArray("\x89PNG\r\n\x1a\n", 8))
        return 1;
    // eXIf comes before the image data; its IFD0 holds the orientation.
    for (int i = 0; i < 10000; ++i) {
        const QByteArray head = file.read(8);
        if (head.size() < 8)
            return 1;
        const auto *p = reinterpret_cast<const uint8_t *>(head.constData());
        const quint32 length = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
        const QByteArray type = head.mid(4, 4);
        if (type == "IDAT" || type == "IEND" || length > 0x7FFFFFFF)
            return 1;
        if (type != "eXIf") {
            if (!file.seek(file.pos() + qint64(length) + 4))
                return 1;
            continue;
        }
        if (length > 1024 * 1024)
            return 1;
        const QByteArray tiff = file.read(length);
        if (tiff.size() < 8 || !(tiff.startsWith("II*") || tiff.startsWith(QByteArray("MM\0*", 4))))
            return 1;
        const bool little = tiff.startsWith("II");
        auto value = [&](qsizetype at, int size) {
            quint32 v = 0;
            for (int k = 0; k < size; ++k) {
                const quint32 byte = uint8_t(tiff[at + k]);
                v |= little ? byte << (8 * k) : byte << (8 * (size - 1 - k));
            }
            return v;
        };
        const quint32 ifd = value(4, 4);
        if (qsizetype(ifd) + 2 > tiff.size())
            return 1;
        const quint32 count = value(ifd, 2);
        for (quint32 e = 0; e < count; ++e) {
            const qsizetype entry = qsizetype(ifd) + 2 + qsizetype(e) * 12;
            if (entry + 12 > tiff.size())
                return 1;
            if (value(entry, 2) == 0x0112 && value(entry + 2, 2) == 3) {
                const int orientation = int(value(entry + 8, 2));
                return orientation >= 1 && orientation <= 8 ? orientation : 1;
            }
        }
        return 1;
    }
    return 1;
}

std::optional<AnimatedFrames> apngFrames(const QString &path)
{
    QFile file;
    // Animations are held decoded in memory; a file beyond 64 MiB is not played.
    if (!RegularFile::open(file, path) || file.size() > (qint64(64) << 20))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    const auto chunks = pngChunks(bytes);
    if (!chunks)
        return std::nullopt;

    QByteArray ihdr;
    QList<Chunk> shared; // chunks every frame's stand-alone PNG needs
    struct Frame {
        FrameControl control;
        QByteArray data;
    };
    QList<Frame> frames;
    std::optional<FrameControl> pending;
    quint32 plays = 0;
    bool sawAcTL = false;
    bool sawIdat = false;
    qsizetype idatBytes = 0;
    for (const Chunk &chunk : *chunks) {
        if (chunk.type == "IHDR") {
            ihdr = chunk.data;
        } else if (chunk.type == "acTL" && chunk.data.size() >= 8) {
            sawAcTL = true;
            plays = be32(chunk.data, 4);
        } else if (chunk.type == "fcTL") {
            pending = frameControl(chunk.data);
            if (!pending)
                return std::nullopt;
            frames.append({*pending, {}});
        } else if (chunk.type == "IDAT") {
            sawIdat = true;
            idatBytes += chunk.data.size();
            // The default image belongs to the animation only when an fcTL precedes it.
            if (pending && !frames.isEmpty())
                frames.last().data += chunk.data;
        } else if (chunk.type == "fdAT") {
            if (frames.isEmpty() || chunk.data.size() < 4)
                return std::nullopt;
            frames.last().data += chunk.data.mid(4);
        } else if (!sawIdat && chunk.type != "IEND") {
            shared.append(chunk);
        }
    }
    if (!sawAcTL || ihdr.size() != 13 || frames.isEmpty())
        return std::nullopt;
    const quint32 width = be32(ihdr, 0);
    const quint32 height = be32(ihdr, 4);
    if (width == 0 || height == 0 || quint64(width) * height > quint64(Codec::maxPixelCount))
        return std::nullopt;
    // Every frame is held decoded: as many as the decode budget allows are
    // played (at least two of a longer animation, or the file is shown as a
    // still).
    const quint64 frameBytes = quint64(width) * height * 4;
    const qsizetype playable = qsizetype(std::min<quint64>(quint64(frames.size()),
                                                           quint64(Codec::decodeBudgetBytes()) / frameBytes));
    if (playable < std::min<qsizetype>(2, frames.size()))
        return std::nullopt;
    // The default image is the size of the canvas whether or not it is a frame, so
    // its data bounds the canvas; each frame's data bounds the frame.
    if (!dataCanHold(ihdr, width, height, idatBytes))
        return std::nullopt;
    for (const Frame &frame : std::as_const(frames)) {
        if (!dataCanHold(ihdr, frame.control.width, frame.control.height, frame.data.size()))
            return std::nullopt;
    }

    AnimatedFrames result;
    result.loopCount = int(std::min<quint32>(plays, 1u << 30));
    result.totalFrames = int(std::min<qsizetype>(frames.size(), std::numeric_limits<int>::max()));
    QImage canvas(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    for (int i = 0; i < playable; ++i) {
        const Frame &frame = frames[i];
        const FrameControl &fc = frame.control;
        if (fc.width == 0 || fc.height == 0 || quint64(fc.x) + fc.width > width || quint64(fc.y) + fc.height > height
            || frame.data.isEmpty())
            return std::nullopt;
        QImage part = decodeFramePng(ihdr, shared, fc, frame.data);
        if (part.isNull())
            return std::nullopt;
        const QRect area(int(fc.x), int(fc.y), int(fc.width), int(fc.height));
        const QImage before = fc.dispose == 2 ? canvas.copy(area) : QImage();
        {
            QPainter painter(&canvas);
            painter.setCompositionMode(fc.blend == 0 ? QPainter::CompositionMode_Source
                                                     : QPainter::CompositionMode_SourceOver);
            painter.drawImage(area.topLeft(), part);
        }
        result.frames.append(canvas.convertToFormat(QImage::Format_RGBA8888_Premultiplied));
        const int den = fc.delayDen == 0 ? 100 : fc.delayDen;
        result.delaysMs.append(int(std::lround(1000.0 * fc.delayNum / den)));
        // Dispose before the next frame; "previous" on the first frame acts as "background".
        if (fc.dispose == 1 || (fc.dispose == 2 && i == 0)) {
            QPainter painter(&canvas);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(area, Qt::transparent);
        } else if (fc.dispose == 2) {
            QPainter painter(&canvas);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(area.topLeft(), before);
        }
    }
    return result;
}

} // namespace CodecDetail
