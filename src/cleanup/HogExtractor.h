#pragma once

// Only for files that include dlib already: its headers are slow to compile.
#include "HogFeatures.h"

#include <dlib/image_transforms/fhog.h>

// dlib's feature extractor for its pyramid of features, each level's planes computed by
// HogFeatures (equal to dlib's bit for bit). As dlib's, a picture too small for a block
// of cells gets 31 empty planes.
struct VectorHogExtractor {
    HogFeatures::Scratch *scratch;

    void operator()(const dlib::array2d<unsigned char> &image, dlib::array<dlib::array2d<float>> &planes,
                    int cellSize, int rowsPadding, int colsPadding) const
    {
        const int cellsRows = HogFeatures::cellCount(image.nr(), cellSize);
        const int cellsCols = HogFeatures::cellCount(image.nc(), cellSize);
        if (cellsRows < 3 || cellsCols < 3) {
            planes.clear();
            planes.resize(HogFeatures::planeCount);
            return;
        }
        dlib::impl_fhog::init_hog(planes, cellsRows - 2, cellsCols - 2, rowsPadding, colsPadding);
        float *planePointers[HogFeatures::planeCount];
        for (int i = 0; i < HogFeatures::planeCount; ++i)
            planePointers[i] = &planes[i][0][0];
        HogFeatures::extract(&image[0][0], image.nr(), image.nc(), image.width_step(), cellSize,
                             (rowsPadding - 1) / 2, (colsPadding - 1) / 2, planePointers, planes[0].nc(), *scratch);
    }

    unsigned long get_num_planes() const { return HogFeatures::planeCount; }
};
