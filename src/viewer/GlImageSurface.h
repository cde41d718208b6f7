#pragma once

#include "viewer/ImageSurface.h"

#include <QOpenGLFunctions>
#include <QOpenGLWidget>

#include <map>
#include <vector>

class QElapsedTimer;
class QOpenGLShaderProgram;
class QTimer;

// The photo as GL textures drawn with trilinear filtering. A bitmap larger than the
// GPU's texture limit is split into tiles. Large bitmaps are uploaded in strips
// between frames while the previous picture stays on screen; their mip levels
// come from the bitmap's own halvings, built off the main thread.
class GlImageSurface : public QOpenGLWidget, public ImageSurface, protected QOpenGLFunctions
{
public:
    explicit GlImageSurface(QWidget *parent);
    ~GlImageSurface() override;

    QWidget *widget() override { return this; }
    void setScene(const ImageScene &scene) override;
    bool isOpenGL() const override { return true; }
    uint64_t presentedBitmap() const override { return m_presented; }

    // Number of textures the bitmap is split into (0 when it has none yet).
    int tileCount(uint64_t bitmapId) const;
    // Tests: pretend the GPU's texture limit is this (a power of two).
    static int maxTileOverride;
    // Tests: behave as if the GL context were unusable, so that the view falls
    // back to the raster renderer.
    static bool failForTests;

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    struct Tile
    {
        QRect rect; // in the bitmap's pixels
        GLuint texture = 0;
        int rowsDone = 0;
        int mipCount = 0;
    };
    struct Textures
    {
        RenderBitmapPtr bitmap;
        std::vector<Tile> tiles;
        std::vector<QImage> levels;
        int tileCursor = 0;
        int mipCursor = 0;
        bool level0Done = false;
        bool mipsDone = false;
        int64_t bytes = 0;
        uint64_t lastUse = 0;
    };
    struct Spare
    {
        GLuint texture;
        QSize size;
        int mipCount;
        int64_t bytes;
    };

    void failed();
    Textures &texturesFor(const RenderBitmapPtr &bitmap);
    GLuint takeTexture(QSize size, int &mipCount);
    void releaseTextures(Textures &t, bool keepSpare);
    void trimTextures();
    // Uploads what is missing; with a budget stops when it runs out (returns false).
    bool uploadStep(Textures &t, const QElapsedTimer *budget);
    bool uploadPending() const;
    void pumpUploads();
    bool ready(const RenderBitmapPtr &bitmap, double deviceScale) const;
    void drawLayer(const SceneLayer &layer);

    ImageScene m_scene;
    SceneLayer m_lastDrawn;
    std::map<uint64_t, Textures> m_textures;
    std::vector<Spare> m_spares;
    int64_t m_spareBytes = 0;
    uint64_t m_useCounter = 0;
    uint64_t m_presented = 0;
    QOpenGLShaderProgram *m_program = nullptr;
    QTimer *m_pump = nullptr;
    int m_maxTile = 4096;
    int m_maxTextureSize = 4096;
    bool m_initialised = false;
    bool m_failed = false;
};
