#pragma once

#include <QImage>
#include <QMap>
#include <QString>

// Analysis images for the cleanup benchmarks, decoded with libvips so that the
// resampling filter can be chosen and its effect on the measures compared.
namespace BenchAnalysisImage {

enum class Filter {
    lanczos,    // libvips thumbnail: shrink-on-load, then Lanczos 3
    linear,     // DCT-scaled decode, then a tent (linear) reduction
    nearest,    // DCT-scaled decode, then nearest-neighbour sampling
};

const char *filterName(Filter filter);
bool parseFilter(const QString &name, Filter &filter);

// Calls vips_init once and turns the operation cache off.
void initVips(const char *argv0);

// The upright picture reduced to fit maxSide (never enlarged), 8-bit sRGB RGBA premultiplied.
QImage load(const QString &path, int maxSide, Filter filter = Filter::lanczos);
// The upright picture at full size (for synthetic edits before the reduction).
QImage loadFull(const QString &path);
// Reduces an in-memory bitmap like load() reduces a file.
QImage reduce(const QImage &image, int maxSide, Filter filter = Filter::lanczos);

// Gaussian blur of the given sigma (pixels), and a horizontal motion streak of the
// given length (pixels), both with libvips.
QImage gaussianBlur(const QImage &image, double sigma);
QImage motionStreak(const QImage &image, int length);
// Repeatable noise of about the given deviation at a pixel: four hashed uniforms summed.
double noiseAt(int x, int y, double sigma);

// The rows of a folder's manifest.tsv, each split at its tabs (empty when there is none).
QList<QList<QByteArray>> manifestRows(const QString &folder);

// What the corpus manifest says of each photo's focus: "blurry", "sharp" or
// "unlabelled", by its path. An uncertain label ("blurry=1?") counts as blurry or as none.
enum class UncertainLabel { taken, none };
QMap<QString, QString> manifestBlurLabels(const QString &corpus, UncertainLabel uncertain);

// Writes the centred crop of the given size (or the whole picture when it is smaller)
// of an image file as a JPEG of the given quality, for test photos of a set size.
bool saveJpegCrop(const QString &source, const QString &target, int width, int height, int quality);

} // namespace BenchAnalysisImage
