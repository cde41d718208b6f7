#include "viewer/GlImageSurface.h"

#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// Bitmaps up to this size go to the GPU in the frame that first shows them; larger
// ones are uploaded in strips between frames so that input is never held up.
constexpr int64_t syncUploadBytes = 40ll * 1024 * 1024;
// Time spent uploading strips per turn of the event loop.
constexpr qint64 uploadBudgetNs = 6'000'000;
// Rows per glTexSubImage2D call of a strip upload: about 4 MB at 6000 px.
constexpr int64_t stripBytes = 4ll * 1024 * 1024;
// Textures kept for bitmaps that left the scene, so that going back is free.
constexpr int64_t keptTextureBytes = 96ll * 1024 * 1024;
// Released textures kept for reuse by a bitmap of the same size: allocating fresh
// GPU memory on a software rasteriser costs a page fault per 4 KiB.
constexpr int64_t spareTextureBytes = 480ll * 1024 * 1024;

const char *vertexShader = R"(
attribute vec2 position;
attribute vec2 texCoord;
uniform vec2 viewSize;
varying vec2 uv;
void main() {
    uv = texCoord;
    gl_Position = vec4(position.x / viewSize.x * 2.0 - 1.0, 1.0 - position.y / viewSize.y * 2.0, 0.0, 1.0);
}
)";

const char *fragmentShader = R"(
#ifdef GL_ES
precision mediump float;
#endif
varying vec2 uv;
uniform sampler2D photo;
uniform float opacity;
void main() {
    gl_FragColor = texture2D(photo, uv) * opacity;
}
)";

} // namespace

int GlImageSurface::maxTileOverride = 0;
bool GlImageSurface::failForTests = false;

GlImageSurface::GlImageSurface(QWidget *parent)
    : QOpenGLWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    m_pump = new QTimer(this);
    m_pump->setSingleShot(true);
    m_pump->setInterval(0);
    connect(m_pump, &QTimer::timeout, this, [this] { pumpUploads(); });
    connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
        if (onFramePresented)
            onFramePresented();
    });
}

GlImageSurface::~GlImageSurface()
{
    if (!m_initialised || !context())
        return;
    makeCurrent();
    for (auto &[id, textures] : m_textures)
        releaseTextures(textures, false);
    for (auto &spare : m_spares)
        glDeleteTextures(1, &spare.texture);
    delete m_program;
    doneCurrent();
}

void GlImageSurface::setScene(const ImageScene &scene)
{
    m_scene = scene;
    update();
}

void GlImageSurface::initializeGL()
{
    if (failForTests || !context() || !context()->isValid()) {
        failed();
        return;
    }
    initializeOpenGLFunctions();
    m_program = new QOpenGLShaderProgram;
    if (!m_program->addShaderFromSourceCode(QOpenGLShader::Vertex, vertexShader)
        || !m_program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentShader)) {
        failed();
        return;
    }
    m_program->bindAttributeLocation("position", 0);
    m_program->bindAttributeLocation("texCoord", 1);
    if (!m_program->link()) {
        failed();
        return;
    }
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    // Tiles are a power of two so that tile edges fall on whole pixels at every mip level.
    int tile = 1;
    while (tile * 2 <= std::min<GLint>(std::max<GLint>(maxSize, 64), 16384))
        tile *= 2;
    m_maxTile = maxTileOverride > 0 ? std::min(tile, maxTileOverride) : tile;
    m_maxTextureSize = maxTileOverride > 0 ? m_maxTile : maxSize;
    m_initialised = true;
}

void GlImageSurface::failed()
{
    if (m_failed)
        return;
    m_failed = true;
    if (onFailed)
        QTimer::singleShot(0, this, [this] { onFailed(); });
}

GlImageSurface::Textures &GlImageSurface::texturesFor(const RenderBitmapPtr &bitmap)
{
    auto it = m_textures.find(bitmap->id());
    if (it != m_textures.end()) {
        it->second.lastUse = ++m_useCounter;
        return it->second;
    }
    Textures &t = m_textures[bitmap->id()];
    t.bitmap = bitmap;
    t.lastUse = ++m_useCounter;
    const QSize size = bitmap->size();
    const bool single = size.width() <= m_maxTextureSize && size.height() <= m_maxTextureSize;
    const int step = single ? std::max(size.width(), size.height()) : m_maxTile;
    for (int y = 0; y < size.height(); y += step) {
        for (int x = 0; x < size.width(); x += step) {
            Tile tile;
            tile.rect = QRect(x, y, std::min(step, size.width() - x), std::min(step, size.height() - y));
            tile.texture = takeTexture(tile.rect.size(), tile.mipCount);
            t.tiles.push_back(tile);
        }
    }
    t.bytes = bitmap->bytes() * 4 / 3;
    return t;
}

GLuint GlImageSurface::takeTexture(QSize size, int &mipCount)
{
    for (auto it = m_spares.begin(); it != m_spares.end(); ++it) {
        if (it->size == size) {
            const GLuint texture = it->texture;
            mipCount = it->mipCount;
            m_spareBytes -= it->bytes;
            m_spares.erase(it);
            glBindTexture(GL_TEXTURE_2D, texture);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            return texture;
        }
    }
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, size.width(), size.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    mipCount = 0;
    return texture;
}

void GlImageSurface::releaseTextures(Textures &t, bool keepSpare)
{
    for (Tile &tile : t.tiles) {
        const int64_t bytes = int64_t(tile.rect.width()) * tile.rect.height() * 4 * (tile.mipCount ? 4 : 3) / 3;
        if (keepSpare && bytes <= spareTextureBytes) {
            m_spares.push_back({tile.texture, tile.rect.size(), tile.mipCount, bytes});
            m_spareBytes += bytes;
        } else {
            glDeleteTextures(1, &tile.texture);
        }
    }
    t.tiles.clear();
    while (m_spareBytes > spareTextureBytes && !m_spares.empty()) {
        glDeleteTextures(1, &m_spares.front().texture);
        m_spareBytes -= m_spares.front().bytes;
        m_spares.erase(m_spares.begin());
    }
}

void GlImageSurface::trimTextures()
{
    auto inScene = [this](uint64_t id) {
        return (m_scene.image && m_scene.image.bitmap->id() == id) || (m_scene.ghost && m_scene.ghost.bitmap->id() == id)
               || (m_scene.standIn && m_scene.standIn->id() == id)
               || (m_lastDrawn && m_lastDrawn.bitmap->id() == id);
    };
    int64_t kept = 0;
    std::vector<std::pair<uint64_t, uint64_t>> byAge; // lastUse, id
    for (auto &[id, t] : m_textures) {
        if (!inScene(id)) {
            kept += t.bytes;
            byAge.emplace_back(t.lastUse, id);
        }
    }
    std::sort(byAge.begin(), byAge.end());
    for (auto &[use, id] : byAge) {
        if (kept <= keptTextureBytes)
            break;
        Textures &t = m_textures[id];
        kept -= t.bytes;
        releaseTextures(t, true);
        m_textures.erase(id);
    }
}

bool GlImageSurface::uploadStep(Textures &t, const QElapsedTimer *budget)
{
    // Level 0, tile by tile, in strips.
    const QImage &image = t.bitmap->image();
    while (t.tileCursor < int(t.tiles.size())) {
        Tile &tile = t.tiles[t.tileCursor];
        const int rowsPerStrip = std::max<int64_t>(1, stripBytes / (int64_t(tile.rect.width()) * 4));
        while (tile.rowsDone < tile.rect.height()) {
            if (budget && budget->nsecsElapsed() > uploadBudgetNs)
                return false;
            const int rows = std::min(rowsPerStrip, tile.rect.height() - tile.rowsDone);
            glBindTexture(GL_TEXTURE_2D, tile.texture);
            glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
            glPixelStorei(GL_UNPACK_ROW_LENGTH, image.bytesPerLine() / 4);
            const uchar *src = image.constScanLine(tile.rect.y() + tile.rowsDone) + tile.rect.x() * 4;
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, tile.rowsDone, tile.rect.width(), rows, GL_RGBA, GL_UNSIGNED_BYTE, src);
            glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
            tile.rowsDone += rows;
        }
        ++t.tileCursor;
    }
    t.level0Done = true;
    if (t.mipsDone || !t.bitmap->hasLevels())
        return true;

    // The smaller levels, once built off the main thread.
    if (t.levels.empty())
        t.levels = t.bitmap->levels();
    while (t.mipCursor < int(t.tiles.size())) {
        if (budget && budget->nsecsElapsed() > uploadBudgetNs)
            return false;
        Tile &tile = t.tiles[t.mipCursor];
        glBindTexture(GL_TEXTURE_2D, tile.texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        int top = 0;
        int level = 1;
        for (const QImage &img : t.levels) {
            const QSize expected(std::max(1, tile.rect.width() >> level), std::max(1, tile.rect.height() >> level));
            const QRect r = QRect(QPoint(tile.rect.x() >> level, tile.rect.y() >> level), expected).intersected(img.rect());
            // A level that does not halve cleanly (the far edge of a tiled photo) ends the chain.
            if (r.size() != expected)
                break;
            glPixelStorei(GL_UNPACK_ROW_LENGTH, img.bytesPerLine() / 4);
            const uchar *src = img.constScanLine(r.y()) + r.x() * 4;
            if (tile.mipCount >= level)
                glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, r.width(), r.height(), GL_RGBA, GL_UNSIGNED_BYTE, src);
            else
                glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA, r.width(), r.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE, src);
            top = level;
            if (expected == QSize(1, 1))
                break;
            ++level;
        }
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        tile.mipCount = std::max(tile.mipCount, top);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, top);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, top > 0 ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
        ++t.mipCursor;
    }
    t.mipsDone = true;
    t.levels.clear();
    return true;
}

bool GlImageSurface::uploadPending() const
{
    for (const RenderBitmapPtr &bitmap : {m_scene.image.bitmap, m_scene.standIn, m_scene.ghost.bitmap}) {
        if (!bitmap)
            continue;
        auto it = m_textures.find(bitmap->id());
        if (it == m_textures.end() || !it->second.level0Done || (!it->second.mipsDone && bitmap->hasLevels()))
            return true;
    }
    return false;
}

void GlImageSurface::pumpUploads()
{
    if (!m_initialised || m_failed)
        return;
    makeCurrent();
    QElapsedTimer budget;
    budget.start();
    bool finished = true;
    bool drawable = false;
    for (const RenderBitmapPtr &bitmap : {m_scene.image.bitmap, m_scene.standIn, m_scene.ghost.bitmap}) {
        if (!bitmap)
            continue;
        Textures &t = texturesFor(bitmap);
        const bool wasReady = t.level0Done && (t.mipsDone || !bitmap->hasLevels());
        if (!uploadStep(t, &budget)) {
            finished = false;
            break;
        }
        drawable = drawable || !wasReady;
    }
    doneCurrent();
    if (drawable)
        update();
    if (!finished || uploadPending())
        m_pump->start();
}

bool GlImageSurface::ready(const RenderBitmapPtr &bitmap, double deviceScale) const
{
    auto it = m_textures.find(bitmap->id());
    if (it == m_textures.end() || !it->second.level0Done)
        return false;
    // Without mip levels a strongly reduced photo would shimmer: draw something
    // coarser until they arrive, unless the photo is shown near its own size.
    return it->second.mipsDone || deviceScale >= 0.75;
}

void GlImageSurface::paintGL()
{
    // A context that failed to initialise has no GL functions to call: the view
    // replaces this surface shortly, and until then nothing is drawn.
    if (!m_initialised || m_failed)
        return;
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);

    const double dpr = devicePixelRatioF();
    auto deviceScale = [dpr](const SceneLayer &layer, const RenderBitmapPtr &bitmap) {
        const QSize s = bitmap->size();
        const double w = layer.turns % 2 ? s.height() : s.width();
        return w > 0 ? layer.frame.width() * dpr / w : 1.0;
    };
    auto prepare = [&](const RenderBitmapPtr &bitmap, double scale) {
        Textures &t = texturesFor(bitmap);
        if (!t.level0Done && bitmap->bytes() <= syncUploadBytes)
            uploadStep(t, nullptr);
        else if (t.level0Done && !t.mipsDone && bitmap->hasLevels() && bitmap->bytes() <= syncUploadBytes)
            uploadStep(t, nullptr);
        return ready(bitmap, scale);
    };

    SceneLayer photo;
    if (m_scene.image) {
        if (prepare(m_scene.image.bitmap, deviceScale(m_scene.image, m_scene.image.bitmap))) {
            photo = m_scene.image;
        } else if (m_scene.standIn && prepare(m_scene.standIn, deviceScale(m_scene.image, m_scene.standIn))) {
            photo = m_scene.image;
            photo.bitmap = m_scene.standIn;
        } else if (m_lastDrawn) {
            // Nothing of the new photo can be drawn yet: keep the last picture.
            photo = m_lastDrawn;
        }
    }
    SceneLayer ghost;
    if (m_scene.ghost && prepare(m_scene.ghost.bitmap, 1.0))
        ghost = m_scene.ghost;

    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    m_program->bind();
    m_program->setUniformValue("viewSize", QVector2D(width(), height()));
    m_program->setUniformValue("photo", 0);
    glActiveTexture(GL_TEXTURE0);
    if (photo)
        drawLayer(photo);
    // The old photo is added, not laid over: the new one is already scaled by
    // its opacity t, so the sum is (1 - t) x old + t x new, which never darkens
    // mid-fade where the two overlap.
    if (ghost) {
        glBlendFunc(GL_ONE, GL_ONE);
        drawLayer(ghost);
    }
    m_program->release();

    m_lastDrawn = photo;
    m_presented = photo ? photo.bitmap->id() : 0;
    if (uploadPending())
        m_pump->start();
    trimTextures();
}

void GlImageSurface::drawLayer(const SceneLayer &layer)
{
    const Textures &t = texturesFor(layer.bitmap);
    const QSize size = layer.bitmap->size();
    const int turns = layer.turns;
    const double turnedW = turns % 2 ? size.height() : size.width();
    const double k = turnedW > 0 ? layer.frame.width() / turnedW : 1.0;
    // Bitmap coordinates to view coordinates, turning clockwise.
    auto map = [&](double u, double v) {
        double x = u, y = v;
        switch (turns) {
        case 1: x = size.height() - v; y = u; break;
        case 2: x = size.width() - u; y = size.height() - v; break;
        case 3: x = v; y = size.width() - u; break;
        default: break;
        }
        return QPointF(layer.frame.x() + x * k, layer.frame.y() + y * k);
    };
    m_program->setUniformValue("opacity", GLfloat(layer.opacity));
    for (const Tile &tile : t.tiles) {
        const QRectF r = tile.rect;
        const QPointF corners[4] = {map(r.left(), r.top()), map(r.right() + 1, r.top()),
                                    map(r.left(), r.bottom() + 1), map(r.right() + 1, r.bottom() + 1)};
        const GLfloat vertices[16] = {
            GLfloat(corners[0].x()), GLfloat(corners[0].y()), 0, 0,
            GLfloat(corners[1].x()), GLfloat(corners[1].y()), 1, 0,
            GLfloat(corners[2].x()), GLfloat(corners[2].y()), 0, 1,
            GLfloat(corners[3].x()), GLfloat(corners[3].y()), 1, 1,
        };
        glBindTexture(GL_TEXTURE_2D, tile.texture);
        glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(GLfloat), vertices);
        glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(GLfloat), vertices + 2);
        glEnableVertexAttribArray(0);
        glEnableVertexAttribArray(1);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
    glDisableVertexAttribArray(0);
    glDisableVertexAttribArray(1);
}

int GlImageSurface::tileCount(uint64_t bitmapId) const
{
    auto it = m_textures.find(bitmapId);
    return it == m_textures.end() ? 0 : int(it->second.tiles.size());
}
