// Large pixel buffers are recycled rather than returned to the system. On the
// virtual machines we run on, first touch of a freshly mapped page costs about 14 us,
// so a new 24 MB frame costs more than decoding the JPEG that fills it. Buffers
// come back here when the last QImage using them goes away (a preview evicted
// from the cache, a scratch frame after a resample) and the next decode of a
// similar size takes them.

#include "platform/CodecInternal.h"
#include "platform/HandOff.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

namespace {

class BufferPool
{
public:
    // Idle buffers are kept up to this many bytes in total; beyond it the oldest go.
    static constexpr size_t idleLimit = size_t(96) << 20;
    // Buffers below this size are cheap enough to come from malloc directly.
    static constexpr size_t minPooled = size_t(1) << 20;

    static BufferPool &instance()
    {
        static BufferPool *pool = new BufferPool; // lives for the process
        return *pool;
    }

    // A buffer of at least bytes; capacity receives its real size.
    uint8_t *acquire(size_t bytes, size_t &capacity)
    {
        if (bytes >= minPooled) {
            std::lock_guard guard(m_lock);
            int best = -1;
            for (int i = 0; i < int(m_idle.size()); ++i) {
                const size_t cap = m_idle[i].capacity;
                // Take a buffer that fits without wasting more than a quarter of it.
                if (cap >= bytes && cap - bytes <= cap / 4 && (best < 0 || cap < m_idle[best].capacity))
                    best = i;
            }
            if (best >= 0) {
                Entry e = m_idle[best];
                m_idle.erase(m_idle.begin() + best);
                m_idleBytes -= e.capacity;
                capacity = e.capacity;
                return e.data;
            }
        }
        auto *data = static_cast<uint8_t *>(std::malloc(bytes));
        capacity = data ? bytes : 0;
        return data;
    }

    void release(uint8_t *data, size_t capacity)
    {
        if (!data)
            return;
        if (capacity < minPooled || capacity > idleLimit) {
            std::free(data);
            return;
        }
        std::vector<uint8_t *> toFree;
        {
            std::lock_guard guard(m_lock);
            m_idle.push_back({data, capacity});
            m_idleBytes += capacity;
            while (m_idleBytes > idleLimit && !m_idle.empty()) {
                toFree.push_back(m_idle.front().data);
                m_idleBytes -= m_idle.front().capacity;
                m_idle.erase(m_idle.begin());
            }
        }
        for (uint8_t *p : toFree)
            std::free(p);
    }

private:
    struct Entry {
        uint8_t *data;
        size_t capacity;
    };
    std::mutex m_lock;
    std::vector<Entry> m_idle; // oldest first
    size_t m_idleBytes = 0;
};

struct PooledPixels {
    uint8_t *data;
    size_t capacity;
};

void releasePooledPixels(void *info)
{
    auto *pixels = static_cast<PooledPixels *>(info);
    // Qt calls this on whichever thread dropped the last image sharing the pixels.
    HandOff::pixelsReclaimed(pixels->data);
    BufferPool::instance().release(pixels->data, pixels->capacity);
    delete pixels;
}

} // namespace

namespace CodecDetail {

QImage pooledImage(int width, int height)
{
    if (width <= 0 || height <= 0 || int64_t(width) * height > Codec::maxPixelCount)
        return {};
    const qsizetype stride = qsizetype(width) * 4;
    const size_t bytes = size_t(stride) * size_t(height);
    size_t capacity = 0;
    uint8_t *data = BufferPool::instance().acquire(bytes, capacity);
    if (!data)
        return {};
    auto *info = new PooledPixels{data, capacity};
    return QImage(data, width, height, stride, QImage::Format_RGBA8888_Premultiplied, releasePooledPixels, info);
}

ScratchBuffer::ScratchBuffer(size_t bytes)
{
    m_data = BufferPool::instance().acquire(bytes, m_capacity);
}

ScratchBuffer::~ScratchBuffer()
{
    BufferPool::instance().release(m_data, m_capacity);
}

} // namespace CodecDetail
