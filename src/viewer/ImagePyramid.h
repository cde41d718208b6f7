#pragma once

#include <QImage>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// A half-size copy of a premultiplied RGBA bitmap, each pixel the average of a
// 2 x 2 block (an odd last row or column is dropped, as GL sizes its mip levels).
QImage halvedImage(const QImage &image);

// The successive halvings of image down to 1 x 1 (excluding image itself).
std::vector<QImage> buildMipLevels(const QImage &image);

// One bitmap handed to the image view, shared by the view and its renderer. The
// smaller levels are built off the main thread after the bitmap arrives; until
// then only level 0 exists. Both renderers use them: GL as its mip chain, the
// raster renderer to draw from a level close to the size on screen.
class RenderBitmap
{
public:
    explicit RenderBitmap(QImage image);
    ~RenderBitmap();

    uint64_t id() const { return m_id; }
    const QImage &image() const { return m_image; }
    QSize size() const { return m_image.size(); }
    int64_t bytes() const { return m_image.sizeInBytes(); }

    // Empty until setLevels; then level 1, 2, ... down to 1 x 1.
    std::vector<QImage> levels() const;
    bool hasLevels() const { return m_hasLevels.load(); }
    void setLevels(std::vector<QImage> levels);

private:
    uint64_t m_id;
    QImage m_image;
    mutable std::mutex m_mutex;
    std::vector<QImage> m_levels;
    std::atomic<bool> m_hasLevels{false};
};

using RenderBitmapPtr = std::shared_ptr<RenderBitmap>;
