// The classic entries of an icon file, which Qt's reader does not take: run-length
// coded RGB pictures (is32, il32, ih32, it32 for 16, 32, 48 and 128 pixels) with an
// 8-bit mask each (s8mk, l8mk, h8mk, t8mk), and the ARGB entries (ic04, ic05). The
// largest one is the image. Every length is checked against the bytes that are there.

#include "platform/CodecInternal.h"

#include <QHash>

#include <cstring>

namespace {

struct ClassicEntry {
    QByteArray type;   // "is32" ...
    const char *mask;  // its mask's type, or null for ARGB entries
    int side;
};

const ClassicEntry classicEntries[] = {
    {"is32", "s8mk", 16}, {"il32", "l8mk", 32}, {"ih32", "h8mk", 48},
    {"it32", "t8mk", 128}, {"ic04", nullptr, 16}, {"ic05", nullptr, 32},
};

uint32_t be32(const QByteArray &bytes, qsizetype at)
{
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData() + at);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The payloads of the file's entries by type (the first of each).
QHash<QByteArray, QByteArray> entries(const QByteArray &file)
{
    QHash<QByteArray, QByteArray> found;
    if (!file.startsWith("icns"))
        return found;
    qsizetype at = 8;
    while (at + 8 <= file.size()) {
        const uint32_t length = be32(file, at + 4);
        if (length < 8 || length > uint32_t(file.size() - at))
            break;
        const QByteArray type = file.mid(at, 4);
        if (!found.contains(type))
            found.insert(type, file.mid(at + 8, length - 8));
        at += length;
    }
    return found;
}

// One plane of count samples from the run-length code: a byte below 128 is followed
// by that many plus one literal samples, a byte from 128 up by one sample repeated
// that many minus 125 times. Samples go to every fourth byte of out.
bool unpackPlane(const uint8_t *&p, const uint8_t *end, uint8_t *out, int count)
{
    int n = 0;
    while (n < count) {
        if (p >= end)
            return false;
        const int code = *p++;
        if (code < 0x80) {
            const int run = code + 1;
            if (end - p < run || n + run > count)
                return false;
            for (int i = 0; i < run; ++i)
                out[(n + i) * 4] = p[i];
            p += run;
            n += run;
        } else {
            const int run = code - 125;
            if (p >= end || n + run > count)
                return false;
            const uint8_t value = *p++;
            for (int i = 0; i < run; ++i)
                out[(n + i) * 4] = value;
            n += run;
        }
    }
    return true;
}

QImage decodeEntry(const ClassicEntry &entry, const QByteArray &payload, const QHash<QByteArray, QByteArray> &all)
{
    const int side = entry.side;
    const int count = side * side;
    QImage straight(side, side, QImage::Format_RGBA8888);
    if (straight.isNull())
        return {};
    straight.fill(Qt::white);
    uint8_t *pixels = straight.bits(); // no padding: side * 4 is a multiple of 4
    const auto *p = reinterpret_cast<const uint8_t *>(payload.constData());
    const uint8_t *end = p + payload.size();
    if (!entry.mask) {
        // "ARGB", then the alpha, red, green and blue planes.
        if (payload.size() < 4 || std::memcmp(p, "ARGB", 4) != 0)
            return {};
        p += 4;
        for (int channel : {3, 0, 1, 2}) {
            if (!unpackPlane(p, end, pixels + channel, count))
                return {};
        }
    } else if (payload.size() == qsizetype(count) * 4) {
        // Some old files store the picture uncompressed as xRGB.
        for (int i = 0; i < count; ++i) {
            pixels[i * 4] = p[i * 4 + 1];
            pixels[i * 4 + 1] = p[i * 4 + 2];
            pixels[i * 4 + 2] = p[i * 4 + 3];
        }
    } else {
        if (entry.type == "it32") // four zero bytes before the planes
            p += std::min<qsizetype>(4, payload.size());
        for (int channel : {0, 1, 2}) {
            if (!unpackPlane(p, end, pixels + channel, count))
                return {};
        }
    }
    if (entry.mask) {
        const QByteArray mask = all.value(entry.mask);
        if (mask.size() == count) {
            for (int i = 0; i < count; ++i)
                pixels[i * 4 + 3] = uint8_t(mask[i]);
        }
    }
    return straight;
}

const ClassicEntry *largestEntry(const QHash<QByteArray, QByteArray> &all)
{
    const ClassicEntry *best = nullptr;
    for (const ClassicEntry &entry : classicEntries) {
        if (all.contains(entry.type) && (!best || entry.side > best->side))
            best = &entry;
    }
    return best;
}

} // namespace

namespace CodecDetail {

std::optional<QSize> icnsClassicSize(const QByteArray &file)
{
    const ClassicEntry *best = largestEntry(entries(file));
    if (!best)
        return std::nullopt;
    return QSize(best->side, best->side);
}

QImage icnsClassicDecode(const QByteArray &file)
{
    const auto all = entries(file);
    const ClassicEntry *best = largestEntry(all);
    if (!best)
        return {};
    return toDisplayFormat(decodeEntry(*best, all.value(best->type), all));
}

} // namespace CodecDetail
