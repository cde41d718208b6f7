#include "BenchAnalysisImage.h"

#include <vips/vips8>

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

using vips::VImage;

namespace BenchAnalysisImage {

namespace {

QImage toQImage(VImage image)
{
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB && image.interpretation() != VIPS_INTERPRETATION_B_W)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.format() != VIPS_FORMAT_UCHAR)
        image = image.cast(VIPS_FORMAT_UCHAR);
    if (image.bands() == 1)
        image = image.bandjoin({image, image});
    else if (image.bands() == 2)
        image = image.extract_band(0).bandjoin({image.extract_band(0), image.extract_band(0), image.extract_band(1)});
    if (image.bands() == 3)
        image = image.bandjoin_const({255});
    image = image.extract_band(0, VImage::option()->set("n", 4));
    size_t size = 0;
    void *data = image.write_to_memory(&size);
    QImage out(image.width(), image.height(), QImage::Format_RGBA8888);
    for (int y = 0; y < out.height(); ++y)
        memcpy(out.scanLine(y), static_cast<uchar *>(data) + size_t(y) * image.width() * 4, size_t(image.width()) * 4);
    g_free(data);
    return out.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

VImage fromQImage(const QImage &image)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    // RGBA lines need no padding, so the bits are one packed block; copy_memory makes
    // the result independent of the QImage.
    VImage v = VImage::new_from_memory(const_cast<uchar *>(rgba.constBits()), size_t(rgba.sizeInBytes()),
                                       rgba.width(), rgba.height(), 4, VIPS_FORMAT_UCHAR);
    return v.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB)).copy_memory();
}

VImage reduceV(VImage image, int maxSide, Filter filter)
{
    const int longest = std::max(image.width(), image.height());
    if (longest <= maxSide)
        return image;
    const double scale = double(maxSide) / longest;
    const VipsKernel kernel = filter == Filter::nearest ? VIPS_KERNEL_NEAREST
            : filter == Filter::linear                ? VIPS_KERNEL_LINEAR
                                                      : VIPS_KERNEL_LANCZOS3;
    return image.resize(scale, VImage::option()->set("kernel", kernel));
}

bool isJpeg(const QString &path)
{
    const QString s = QFileInfo(path).suffix().toLower();
    return s == "jpg" || s == "jpeg";
}

} // namespace

const char *filterName(Filter filter)
{
    switch (filter) {
    case Filter::lanczos: return "lanczos3 (vips thumbnail)";
    case Filter::linear: return "DCT shrink + linear";
    case Filter::nearest: return "DCT shrink + nearest";
    }
    return "?";
}

bool parseFilter(const QString &name, Filter &filter)
{
    if (name == "lanczos")
        filter = Filter::lanczos;
    else if (name == "linear")
        filter = Filter::linear;
    else if (name == "nearest")
        filter = Filter::nearest;
    else
        return false;
    return true;
}

void initVips(const char *argv0)
{
    static bool done = false;
    if (done)
        return;
    done = true;
    VIPS_INIT(argv0);
    vips_cache_set_max(0);
}

QImage load(const QString &path, int maxSide, Filter filter)
{
    try {
        const std::string file = path.toStdString();
        if (filter == Filter::lanczos) {
            VImage t = VImage::thumbnail(file.c_str(), maxSide,
                                         VImage::option()->set("height", maxSide)->set("size", VIPS_SIZE_DOWN));
            return toQImage(t);
        }
        VImage image;
        if (isJpeg(path)) {
            VImage probe = VImage::new_from_file(file.c_str());
            const int longest = std::max(probe.width(), probe.height());
            int shrink = 1;
            while (shrink < 8 && longest / (shrink * 2) >= maxSide)
                shrink *= 2;
            image = VImage::new_from_file(file.c_str(), VImage::option()->set("shrink", shrink)->set("access", VIPS_ACCESS_SEQUENTIAL));
        } else {
            image = VImage::new_from_file(file.c_str());
        }
        image = image.autorot();
        return toQImage(reduceV(image, maxSide, filter));
    } catch (const vips::VError &) {
        vips_error_clear();
        return {};
    }
}

QImage loadFull(const QString &path)
{
    try {
        VImage image = VImage::new_from_file(path.toStdString().c_str()).autorot();
        return toQImage(image);
    } catch (const vips::VError &) {
        vips_error_clear();
        return {};
    }
}

QImage reduce(const QImage &image, int maxSide, Filter filter)
{
    try {
        return toQImage(reduceV(fromQImage(image), maxSide, filter));
    } catch (const vips::VError &) {
        vips_error_clear();
        return {};
    }
}

QImage gaussianBlur(const QImage &image, double sigma)
{
    try {
        return toQImage(fromQImage(image).gaussblur(sigma, VImage::option()->set("precision", VIPS_PRECISION_FLOAT)));
    } catch (const vips::VError &) {
        vips_error_clear();
        return {};
    }
}

QImage motionStreak(const QImage &image, int length)
{
    try {
        // A float mask of 1/length per tap: the mean along the streak.
        const VImage mask = VImage::black(length, 1) + 1.0 / length;
        return toQImage(fromQImage(image).conv(mask, VImage::option()->set("precision", VIPS_PRECISION_FLOAT)));
    } catch (const vips::VError &) {
        vips_error_clear();
        return {};
    }
}

bool saveJpegCrop(const QString &source, const QString &target, int width, int height, int quality)
{
    try {
        VImage image = VImage::new_from_file(source.toStdString().c_str()).autorot();
        const int w = std::min(width, image.width());
        const int h = std::min(height, image.height());
        image = image.crop((image.width() - w) / 2, (image.height() - h) / 2, w, h);
        image.jpegsave(target.toStdString().c_str(), VImage::option()->set("Q", quality));
        return true;
    } catch (const vips::VError &) {
        vips_error_clear();
        return false;
    }
}

double noiseAt(int x, int y, double sigma)
{
    uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
    double sum = 0;
    for (int k = 0; k < 4; ++k) {
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        sum += (h & 0xffff) / 65535.0 - 0.5;
    }
    return sum * sigma * std::sqrt(3.0);
}

QList<QList<QByteArray>> manifestRows(const QString &folder)
{
    QList<QList<QByteArray>> rows;
    QFile file(folder + "/manifest.tsv");
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    for (const QByteArray &line : file.readAll().split('\n'))
        rows.append(line.split('\t'));
    return rows;
}

QMap<QString, QString> manifestBlurLabels(const QString &corpus, UncertainLabel uncertain)
{
    QMap<QString, QString> labels;
    for (const QList<QByteArray> &fields : manifestRows(corpus)) {
        if (fields.size() < 3)
            continue;
        const QString properties = QString::fromUtf8(fields[2]);
        const bool blurry = uncertain == UncertainLabel::taken
                                ? properties.contains("blurry=1")
                                : properties.contains("blurry=1;") || properties.endsWith("blurry=1");
        labels[QString::fromUtf8(fields[0])] = blurry ? "blurry" : properties.contains("blurry=0") ? "sharp" : "unlabelled";
    }
    return labels;
}

} // namespace BenchAnalysisImage
