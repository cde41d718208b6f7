#pragma once

#include <cstdint>
#include <vector>

// Felzenszwalb's 31 planes of HOG features of a grey picture, the features dlib's face
// detector scans, computed with AVX2 eight pixels at a time. The planes come out equal to
// dlib's extract_fhog_features bit for bit: every sum is rounded as dlib rounds it, in
// the same order, so the boxes the detector finds do not depend on which of the two
// computed them. dlib's loop spends most of its time picking each pixel's orientation
// and adding its four votes; here the orientation is found in one pass over the nine
// directions and the votes go to neighbouring columns with one load and store each.
namespace HogFeatures {

constexpr int planeCount = 31;

// Whether this CPU runs extract(): x86-64 with AVX2.
bool available();

// Cells of a picture side as dlib counts them: the side over the cell size, rounded.
inline int cellCount(long side, int cellSize)
{
    return int(double(float(side) / float(cellSize)) + 0.5);
}

// Reused between calls, so that a pyramid of pictures allocates its histograms once.
struct Scratch {
    std::vector<float> histograms;
    std::vector<float> norms;
};

// Writes the features of the rows x cols picture (rows of `stride` bytes) into `planes`:
// 31 planes of planeCols floats per row, already sized and zeroed where dlib leaves them
// zero, the features at rows [padRows, padRows + cellCount(rows) - 2) and columns
// [padCols, padCols + cellCount(cols) - 2). Both cell counts must be at least 3 and
// cellSize at least 2. Only called where available() is true.
void extract(const uint8_t *pixels, long rows, long cols, long stride, int cellSize, int padRows, int padCols,
             float *const *planes, long planeCols, Scratch &scratch);

} // namespace HogFeatures
