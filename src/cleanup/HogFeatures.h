#pragma once

#include <cstdint>
#include <vector>

// Felzenszwalb's 31 planes of HOG features of a grey picture, the features dlib's face
// detector scans, computed with AVX2 eight pixels at a time. The planes come out equal to
// dlib's extract_fhog_features bit for bit: every sum is rounded as dlib rounds it, in
// the same order, so the boxes the detector finds do not depend on which of the two
// computed them. dlib's loop spends most of its time picking each pixel's orientation
// and adding its four votes; here the orientation is found in one pass over the nine
// directions, the votes go to neighbouring columns with one load and store each, and
// the cells are normalised eight at a time.
namespace HogFeatures {

constexpr int planeCount = 31;

// Whether this CPU runs extract(): x86-64 with AVX2.
bool available();

// Cells of a picture side as dlib counts them: the side over the cell size, rounded.
inline int cellCount(long side, int cellSize)
{
    return int(double(float(side) / float(cellSize)) + 0.5);
}

// Eight neighbouring columns of reduce()'s resampling: where each one's left and right
// source pixels lie in a 16-byte load at `base` (unused when `pick` is false: they
// span more than 16 bytes or pass the row's end), and how far towards the right pixel
// each lies (and one minus that), as dlib's four-at-a-time loop computes them.
struct ReduceGroup {
    float frac[8];
    float inverse[8];
    int left[8];
    uint8_t leftPick[16];
    uint8_t rightPick[16];
    int base;
    bool pick;
};

// Reused between calls, so that a pyramid of pictures allocates its histograms once.
struct Scratch {
    std::vector<float> histograms;
    std::vector<float> norms;
    std::vector<int> cellColumns; // by pixel column: the cells its votes go to, and the shares
    std::vector<float> shares;
    std::vector<ReduceGroup> groups;
    std::vector<uint8_t> levels[2]; // a pyramid's pictures, each made from the other
};

// Writes the features of the rows x cols picture (rows of `stride` bytes) into `planes`:
// 31 planes of planeCols floats per row, already sized and zeroed where dlib leaves them
// zero, the features at rows [padRows, padRows + cellCount(rows) - 2) and columns
// [padCols, padCols + cellCount(cols) - 2). Both cell counts must be at least 3 and
// cellSize at least 2. Only called where available() is true.
void extract(const uint8_t *pixels, long rows, long cols, long stride, int cellSize, int padRows, int padCols,
             float *const *planes, long planeCols, Scratch &scratch);

// A side of the next level of dlib's pyramid_down<6>: five sixths, rounded down.
inline long reducedSide(long side)
{
    return 5 * side / 6;
}

// The next level of the detector's pyramid (dlib's pyramid_down<6>): the rows x cols
// picture resampled bilinearly to reducedSide(rows) x reducedSide(cols) into `out`
// (rows of outStride bytes), equal to dlib's resize_image bit for bit. dlib takes most
// columns four at a time, rounding to nearest, and the last few one at a time,
// truncating; both are kept. Only called where available() is true.
void reduce(const uint8_t *pixels, long rows, long cols, long stride, uint8_t *out, long outStride, Scratch &scratch);

} // namespace HogFeatures
