#include "EyeCascade.h"

#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>

namespace {

struct Rect {
    int x, y, w, h;
    float weight;
};

struct Feature {
    Rect rects[3];
    int count = 0;
    // A tilted feature's rectangles are turned by 45 degrees: from the corner (x, y) the
    // width runs down to the right and the height down to the left.
    bool tilted = false;
};

// One node of a weak classifier's tree. A child index above 0 is another node of the
// same tree; 0 or below is the leaf -index.
struct Node {
    int left, right, feature;
    float threshold;
};

struct Weak {
    QVector<Node> nodes;
    QVector<float> leaves;
};

struct Stage {
    float threshold = 0;
    QVector<Weak> weaks;
};

// Integral images of a small float patch: sums and sums of squares, one row and one
// column of zeros in front, and on request the sums over 45-degree triangles that
// tilted features read.
struct Integral {
    int width = 0, height = 0;
    std::vector<double> sum, square, tilted;

    void build(const std::vector<float> &pixels, int w, int h, bool withTilted = false)
    {
        width = w;
        height = h;
        sum.assign(size_t(w + 1) * (h + 1), 0.0);
        square.assign(size_t(w + 1) * (h + 1), 0.0);
        for (int y = 0; y < h; ++y) {
            double rowSum = 0, rowSquare = 0;
            for (int x = 0; x < w; ++x) {
                const double v = pixels[size_t(y) * w + x];
                rowSum += v;
                rowSquare += v * v;
                sum[size_t(y + 1) * (w + 1) + x + 1] = sum[size_t(y) * (w + 1) + x + 1] + rowSum;
                square[size_t(y + 1) * (w + 1) + x + 1] = square[size_t(y) * (w + 1) + x + 1] + rowSquare;
            }
        }
        if (withTilted)
            buildTilted(w, h);
    }
    // tilted(X, Y) is the sum of the pixels (x, y) with y < Y and |x - X + 1| <= Y - y - 1:
    // the triangle that widens upwards from just above (X - 1, Y - 1). Each row's part
    // is a run of that row, read from the plain integral's row sums.
    void buildTilted(int w, int h)
    {
        const int stride = w + 1;
        tilted.assign(size_t(stride) * (h + 1), 0.0);
        auto rowRun = [&](int y, int x0, int x1) {
            x0 = std::max(x0, 0);
            x1 = std::min(x1, w - 1);
            if (x0 > x1)
                return 0.0;
            return sum[size_t(y + 1) * stride + x1 + 1] - sum[size_t(y) * stride + x1 + 1]
                   - sum[size_t(y + 1) * stride + x0] + sum[size_t(y) * stride + x0];
        };
        for (int Y = 1; Y <= h; ++Y)
            for (int X = 0; X <= w; ++X) {
                double total = 0;
                for (int y = 0; y < Y; ++y)
                    total += rowRun(y, X - Y + y, X + Y - y - 2);
                tilted[size_t(Y) * stride + X] = total;
            }
    }
    // Sum over a tilted rectangle whose top corner is (x, y).
    double tiltedSum(int x, int y, int w, int h) const
    {
        const int stride = width + 1;
        auto at = [&](int X, int Y) { return tilted[size_t(Y) * stride + X]; };
        return at(x, y) - at(x - h, y + h) - at(x + w, y + w) + at(x + w - h, y + w + h);
    }
    double boxSum(const std::vector<double> &table, int x, int y, int w, int h) const
    {
        const int stride = width + 1;
        return table[size_t(y + h) * stride + x + w] - table[size_t(y) * stride + x + w]
               - table[size_t(y + h) * stride + x] + table[size_t(y) * stride + x];
    }
};

QVector<double> numbers(const QString &text)
{
    QVector<double> out;
    for (const QStringView part : QStringView(text).split(u' ', Qt::SkipEmptyParts)) {
        const QStringView trimmed = part.trimmed();
        if (trimmed.isEmpty())
            continue;
        bool ok = false;
        const double v = trimmed.toDouble(&ok);
        if (!ok)
            return {};
        out.append(v);
    }
    return out;
}

// A window larger than the cascade's is averaged down from at most 4 x 4 samples per
// pixel; more would only cost time on large eyes (a 145 px eye reads 7 to 16 px per
// window pixel).
constexpr int maxSamplesPerSide = 4;

} // namespace

struct EyeCascade::Private {
    int width = 0, height = 0;
    QVector<Stage> stages;
    QVector<Feature> features;
    bool anyTilted = false;

    // Stages passed by the window whose top-left corner is (x, y) of the integral.
    int evaluate(const Integral &in, int x, int y) const
    {
        // The window's variance is taken inside a one-pixel border, as the cascade was
        // trained; a window flatter than a grey deviation of 10 is no eye (OpenCV rejects
        // it the same way before the first stage).
        const int nw = width - 2, nh = height - 2;
        const double area = double(nw) * nh;
        const double s = in.boxSum(in.sum, x + 1, y + 1, nw, nh);
        const double sq = in.boxSum(in.square, x + 1, y + 1, nw, nh);
        const double spread = area * sq - s * s;
        if (!(spread > 0))
            return 0;
        const double norm = std::sqrt(spread);
        if (area / norm >= 0.1)
            return 0;
        const double factor = 1.0 / norm;
        int passed = 0;
        for (const Stage &stage : stages) {
            double total = 0;
            for (const Weak &weak : stage.weaks) {
                int index = 0;
                for (;;) {
                    const Node &node = weak.nodes[index];
                    const Feature &f = features[node.feature];
                    double value = 0;
                    for (int r = 0; r < f.count; ++r) {
                        const Rect &rect = f.rects[r];
                        value += rect.weight * (f.tilted ? in.tiltedSum(x + rect.x, y + rect.y, rect.w, rect.h)
                                                         : in.boxSum(in.sum, x + rect.x, y + rect.y, rect.w, rect.h));
                    }
                    const int next = value * factor < node.threshold ? node.left : node.right;
                    if (next <= 0) {
                        total += weak.leaves[-next];
                        break;
                    }
                    index = next;
                }
            }
            if (total < stage.threshold)
                return passed;
            ++passed;
        }
        return passed;
    }

    bool valid() const
    {
        if (width < 4 || height < 4 || stages.isEmpty())
            return false;
        for (const Feature &f : features) {
            if (f.count < 1)
                return false;
            for (int r = 0; r < f.count; ++r) {
                const Rect &rect = f.rects[r];
                if (rect.w < 0 || rect.h < 0 || rect.y < 0)
                    return false;
                if (f.tilted ? rect.x - rect.h < 0 || rect.x + rect.w > width || rect.y + rect.w + rect.h > height
                             : rect.x < 0 || rect.x + rect.w > width || rect.y + rect.h > height)
                    return false;
            }
        }
        for (const Stage &stage : stages) {
            for (const Weak &weak : stage.weaks) {
                if (weak.nodes.isEmpty())
                    return false;
                for (const Node &node : weak.nodes) {
                    if (node.feature < 0 || node.feature >= features.size())
                        return false;
                    for (const int child : {node.left, node.right}) {
                        if (child > 0 ? child >= weak.nodes.size() : -child >= weak.leaves.size())
                            return false;
                    }
                }
                // A child must point further down the tree, or evaluation could loop.
                for (int i = 0; i < weak.nodes.size(); ++i) {
                    if ((weak.nodes[i].left > 0 && weak.nodes[i].left <= i) || (weak.nodes[i].right > 0 && weak.nodes[i].right <= i))
                        return false;
                }
            }
        }
        return true;
    }
};

EyeCascade::EyeCascade()
    : d(std::make_unique<Private>())
{
}

EyeCascade::~EyeCascade() = default;

QString EyeCascade::cascadePath()
{
    const QString path = qEnvironmentVariable("GLANTO_EYE_CASCADE");
    return path.isEmpty() ? QStringLiteral("/usr/share/opencv4/haarcascades/haarcascade_eye.xml") : path;
}

QString EyeCascade::glassesCascadePath()
{
    const QString path = qEnvironmentVariable("GLANTO_EYE_GLASSES_CASCADE");
    return path.isEmpty() ? QStringLiteral("/usr/share/opencv4/haarcascades/haarcascade_eye_tree_eyeglasses.xml") : path;
}

const EyeCascade *EyeCascade::sharedGlasses()
{
    static const std::unique_ptr<EyeCascade> cascade = [] {
        auto loaded = load(glassesCascadePath());
        if (!loaded)
            qWarning("EyeCascade: cannot read %s; eyes are judged without it", qPrintable(glassesCascadePath()));
        return loaded;
    }();
    return cascade.get();
}

const EyeCascade *EyeCascade::shared()
{
    static const std::unique_ptr<EyeCascade> cascade = [] {
        auto loaded = load(cascadePath());
        if (!loaded)
            qWarning("EyeCascade: cannot read %s; eyes are judged without it", qPrintable(cascadePath()));
        return loaded;
    }();
    return cascade.get();
}

std::unique_ptr<EyeCascade> EyeCascade::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    std::unique_ptr<EyeCascade> cascade(new EyeCascade);
    Private &p = *cascade->d;
    QXmlStreamReader xml(&file);
    QStringList path_;
    bool inFeatures = false;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (!path_.isEmpty())
                path_.removeLast();
            if (xml.name() == u"features")
                inFeatures = false;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QString name = xml.name().toString();
        const QString parent = path_.isEmpty() ? QString() : path_.last();
        path_.append(name);
        if (name == u"features" && parent == u"cascade") {
            inFeatures = true;
        } else if ((name == u"width" || name == u"height") && parent == u"cascade") {
            const int v = xml.readElementText().trimmed().toInt();
            path_.removeLast();
            (name == u"width" ? p.width : p.height) = v;
        } else if (name == u"stageThreshold") {
            Stage stage;
            stage.threshold = float(xml.readElementText().trimmed().toDouble());
            path_.removeLast();
            // OpenCV lowers every stage's threshold by this much against rounding.
            stage.threshold -= 1e-5f;
            p.stages.append(stage);
        } else if (name == u"internalNodes") {
            const QVector<double> v = numbers(xml.readElementText());
            path_.removeLast();
            if (p.stages.isEmpty() || v.isEmpty() || v.size() % 4 != 0)
                return nullptr;
            Weak weak;
            for (int i = 0; i < v.size(); i += 4)
                weak.nodes.append({int(v[i]), int(v[i + 1]), int(v[i + 2]), float(v[i + 3])});
            p.stages.last().weaks.append(weak);
        } else if (name == u"leafValues") {
            const QVector<double> v = numbers(xml.readElementText());
            path_.removeLast();
            if (p.stages.isEmpty() || p.stages.last().weaks.isEmpty() || v.isEmpty())
                return nullptr;
            for (double leaf : v)
                p.stages.last().weaks.last().leaves.append(float(leaf));
        } else if (inFeatures && name == u"rects") {
            p.features.append(Feature());
        } else if (inFeatures && name == u"_" && parent == u"rects") {
            const QVector<double> v = numbers(xml.readElementText());
            path_.removeLast();
            if (p.features.isEmpty() || v.size() != 5 || p.features.last().count >= 3)
                return nullptr;
            Feature &f = p.features.last();
            f.rects[f.count++] = {int(v[0]), int(v[1]), int(v[2]), int(v[3]), float(v[4])};
        } else if (inFeatures && name == u"tilted") {
            const int tilted = xml.readElementText().trimmed().toInt();
            path_.removeLast();
            if (p.features.isEmpty())
                return nullptr;
            p.features.last().tilted = tilted != 0;
            p.anyTilted = p.anyTilted || tilted != 0;
        }
    }
    if (xml.hasError() || !p.valid())
        return nullptr;
    return cascade;
}

int EyeCascade::stageCount() const
{
    return int(d->stages.size());
}

int EyeCascade::stagesPassed(const GreyImage &patch) const
{
    if (patch.width != d->width || patch.height != d->height)
        return 0;
    std::vector<float> pixels(patch.pixels.begin(), patch.pixels.end());
    Integral in;
    in.build(pixels, patch.width, patch.height, d->anyTilted);
    return d->evaluate(in, 0, 0);
}

EyeCascade::Response EyeCascade::respond(const GreyImage &grey, const QVector<QPointF> &eye) const
{
    Response response;
    if (eye.size() < 4 || grey.isNull())
        return response;
    double minX = eye[0].x(), maxX = minX, cy = 0;
    for (const QPointF &p : eye) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        cy += p.y();
    }
    cy /= eye.size();
    const double eyeWidth = maxX - minX;
    if (!(eyeWidth >= 4))
        return response;
    const double cx = (minX + maxX) / 2;
    const double reach = eyeWidth / 3;
    std::vector<float> pixels;
    Integral in;
    // Window sides from the eye's width to 2.2 times it, a tenth apart: the cascade's
    // eye fills the middle of its window with lid and brow around it.
    for (double k = 1.0; k <= 2.25; k *= 1.1) {
        const double side = k * eyeWidth;
        const double step = side / d->width;   // source pixels per window pixel
        const int shift = std::max(1, int(std::ceil(reach / step)));
        const int pw = d->width + 2 * shift;
        const int ph = d->height + 2 * shift;
        // The patch's top-left pixel centre, in source pixels.
        const double x0 = cx - (pw / 2.0) * step + step / 2;
        const double y0 = cy - (ph / 2.0) * step + step / 2;
        pixels.resize(size_t(pw) * ph);
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x)
                pixels[size_t(y) * pw + x] = grey.areaMean(x0 + x * step, y0 + y * step, step, maxSamplesPerSide);
        in.build(pixels, pw, ph, d->anyTilted);
        for (int y = 0; y + d->height <= ph; ++y) {
            for (int x = 0; x + d->width <= pw; ++x) {
                const int passed = d->evaluate(in, x, y);
                ++response.windows;
                response.deepest = std::max(response.deepest, passed);
                if (passed == int(d->stages.size())) {
                    ++response.hits;
                    // The window's centre in source pixels, against the outline's.
                    response.hitDrop += y0 + (y + d->height / 2.0) * step - step / 2 - cy;
                }
            }
        }
    }
    if (response.hits > 0)
        response.hitDrop /= response.hits * eyeWidth;
    return response;
}
