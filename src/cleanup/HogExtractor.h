#pragma once

// Only for files that include dlib already: its headers are slow to compile.
#include "HogFeatures.h"

#include <dlib/image_processing/scan_fhog_pyramid.h>
#include <dlib/image_transforms/fhog.h>

#include <algorithm>
#include <vector>

// The 31 planes of one picture (rows of `stride` bytes) as dlib's extractor lays them
// out; a picture too small for a block of cells gets 31 empty planes, as with dlib's.
inline void vectorHogPlanes(const uint8_t *pixels, long rows, long cols, long stride,
                            dlib::array<dlib::array2d<float>> &planes, int cellSize, int rowsPadding, int colsPadding,
                            HogFeatures::Scratch &scratch)
{
    const int cellsRows = HogFeatures::cellCount(rows, cellSize);
    const int cellsCols = HogFeatures::cellCount(cols, cellSize);
    if (cellsRows < 3 || cellsCols < 3) {
        planes.clear();
        planes.resize(HogFeatures::planeCount);
        return;
    }
    dlib::impl_fhog::init_hog(planes, cellsRows - 2, cellsCols - 2, rowsPadding, colsPadding);
    float *planePointers[HogFeatures::planeCount];
    for (int i = 0; i < HogFeatures::planeCount; ++i)
        planePointers[i] = &planes[i][0][0];
    HogFeatures::extract(pixels, rows, cols, stride, cellSize, (rowsPadding - 1) / 2, (colsPadding - 1) / 2,
                         planePointers, planes[0].nc(), scratch);
}

// dlib's create_fhog_pyramid for the detector's pyramid_down<6>, with both steps ours:
// the same levels, each picture reduced from the one before by HogFeatures::reduce and
// its planes computed by HogFeatures::extract, all equal to dlib's bit for bit. The
// pictures are kept in `scratch` between calls instead of allocated for each.
inline void vectorHogPyramid(const dlib::array2d<unsigned char> &image, dlib::array<dlib::array<dlib::array2d<float>>> &feats,
                             int cellSize, int rowsPadding, int colsPadding, unsigned long minLevelWidth,
                             unsigned long minLevelHeight, unsigned long maxLevels, HogFeatures::Scratch &scratch)
{
    unsigned long levels = 0;
    dlib::rectangle rect = dlib::get_rect(image);
    const dlib::pyramid_down<6> pyramid;
    do {
        rect = pyramid.rect_down(rect);
        ++levels;
    } while (rect.width() >= minLevelWidth && rect.height() >= minLevelHeight && levels < maxLevels);
    if (feats.max_size() < levels)
        feats.set_max_size(levels);
    feats.set_size(levels);

    long rows = image.nr(), cols = image.nc(), stride = image.width_step();
    const uint8_t *previous = image.size() > 0 ? &image[0][0] : nullptr;
    vectorHogPlanes(previous, rows, cols, stride, feats[0], cellSize, rowsPadding, colsPadding, scratch);
    for (unsigned long i = 1; i < feats.size(); ++i) {
        const long outRows = HogFeatures::reducedSide(rows), outCols = HogFeatures::reducedSide(cols);
        std::vector<uint8_t> &level = scratch.levels[i % 2];
        level.resize(size_t(std::max(0L, outRows)) * size_t(std::max(0L, outCols)));
        if (outRows > 0 && outCols > 0)
            HogFeatures::reduce(previous, rows, cols, stride, level.data(), outCols, scratch);
        rows = std::max(0L, outRows);
        cols = std::max(0L, outCols);
        stride = cols;
        previous = level.data();
        vectorHogPlanes(previous, rows, cols, stride, feats[i], cellSize, rowsPadding, colsPadding, scratch);
    }
}
