#include "viewer/ImagePyramid.h"

#include "platform/HandOff.h"

QImage halvedImage(const QImage &source)
{
    if (source.isNull())
        return {};
    const QImage image = source.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const int w = std::max(1, image.width() / 2);
    const int h = std::max(1, image.height() / 2);
    QImage out(w, h, QImage::Format_RGBA8888_Premultiplied);
    if (out.isNull())
        return {};
    // A 1-pixel-wide or -high source has no second column or row to average with.
    const int dx = image.width() > 1 ? 1 : 0;
    const int dy = image.height() > 1 ? 1 : 0;
    for (int y = 0; y < h; ++y) {
        const uchar *row0 = image.constScanLine(2 * y);
        const uchar *row1 = image.constScanLine(2 * y + dy);
        uchar *dst = out.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int x0 = dx ? 2 * x : 0;
            const uchar *a = row0 + x0 * 4;
            const uchar *b = row0 + (x0 + dx) * 4;
            const uchar *c = row1 + x0 * 4;
            const uchar *d = row1 + (x0 + dx) * 4;
            for (int k = 0; k < 4; ++k)
                dst[x * 4 + k] = uchar((a[k] + b[k] + c[k] + d[k] + 2) >> 2);
        }
    }
    return out;
}

std::vector<QImage> buildMipLevels(const QImage &image)
{
    std::vector<QImage> levels;
    QImage current = image;
    while (!current.isNull() && (current.width() > 1 || current.height() > 1)) {
        current = halvedImage(current);
        if (current.isNull())
            break;
        levels.push_back(current);
    }
    return levels;
}

static std::atomic<uint64_t> nextBitmapId{1};

RenderBitmap::RenderBitmap(QImage image)
    : m_id(nextBitmapId.fetch_add(1))
    , m_image(std::move(image))
{
}

RenderBitmap::~RenderBitmap()
{
    // The last holder of the bitmap may be the level job or the view: either way every
    // thread that read the pixels through it is done, and the pixels may be shared
    // still with the loader's cache, which frees them later.
    if (!m_image.isNull())
        HandOff::pixelsLetGo(m_image.constBits());
}

std::vector<QImage> RenderBitmap::levels() const
{
    std::lock_guard lock(m_mutex);
    return m_levels;
}

void RenderBitmap::setLevels(std::vector<QImage> levels)
{
    {
        std::lock_guard lock(m_mutex);
        m_levels = std::move(levels);
    }
    m_hasLevels = true;
}
