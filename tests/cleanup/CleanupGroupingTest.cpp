#include "cleanup/CleanupGrouping.h"

#include "settings/Texts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr float threshold = 0.42f;
constexpr float far = std::numeric_limits<float>::max();

// Hand-built scan results: metrics, digests and prints by primary, and the
// distance between two prints looked up in a table (unlisted pairs are far).
class Scan
{
public:
    CleanupUnit &add(const QString &name, double captureDate, float sharpness = 100)
    {
        const QString primary = "/f/" + name;
        units.append(CleanupUnit{primary, {}, 1000, {}});
        CleanupMetrics m;
        m.captureDate = captureDate;
        m.sharpness = sharpness;
        m.featurePrint = name.toUtf8();
        metrics.insert(primary, m);
        return units.last();
    }
    CleanupMetrics &m(const QString &name) { return metrics["/f/" + name]; }
    void alike(const QString &a, const QString &b, float distance = 0.1f)
    {
        distances.insert({a.toUtf8(), b.toUtf8()}, distance);
    }
    void digest(const QString &name, const QString &digest) { digests.insert("/f/" + name, digest); }
    void rate(const QString &name, int stars) { ratings.insert("/f/" + name, stars); }
    // Byte-identical copies taken at the given times.
    void copies(std::initializer_list<std::pair<const char *, double>> named, const QString &sharedDigest)
    {
        for (const auto &[name, date] : named) {
            add(name, date);
            digest(name, sharedDigest);
        }
    }

    CleanupResult build() const
    {
        CleanupEvidence evidence;
        evidence.metrics = [this](const QString &p) -> const CleanupMetrics * {
            const auto it = metrics.constFind(p);
            return it == metrics.cend() ? nullptr : &it.value();
        };
        evidence.digest = [this](const QString &p) -> std::optional<QString> {
            const auto it = digests.constFind(p);
            return it == digests.cend() ? std::nullopt : std::optional<QString>(*it);
        };
        evidence.print = [this](const QString &p) -> std::optional<QByteArray> {
            const auto it = metrics.constFind(p);
            return it == metrics.cend() ? std::nullopt : it->featurePrint;
        };
        evidence.distance = [this](const QByteArray &a, const QByteArray &b) {
            return distances.value({a, b}, far);
        };
        evidence.burstThreshold = threshold;
        evidence.rating = [this](const QString &p) { return ratings.value(p, 0); };
        return buildCleanupResult(units, evidence);
    }

    QVector<CleanupUnit> units;
    QHash<QString, CleanupMetrics> metrics;
    QHash<QString, QString> digests;
    QHash<QString, int> ratings;
    QHash<std::pair<QByteArray, QByteArray>, float> distances;
};

// A group written as the report writes it: "[x]" suggested, "*" keeper, then the name.
QString describe(const CleanupResult &result, const CleanupGroup &group)
{
    QStringList out;
    for (const CleanupUnit &unit : group.units) {
        QString s = result.suggested.contains(unit.primary) ? "[x]" : "[ ]";
        if (group.keeper == unit.primary)
            s += "*";
        out.append(s + unit.primary.mid(3));
    }
    return out.join(' ');
}

QStringList describe(const CleanupResult &result, CleanupCategory category)
{
    QStringList out;
    for (const CleanupGroup &group : result.groups.at(category))
        out.append(describe(result, group));
    return out;
}

} // namespace

TEST(CleanupGrouping, CopiesKeepTheShortestNameAndSuggestTheRest)
{
    Scan scan;
    scan.copies({{"IMG_1 copy.JPG", 0}, {"IMG_1.JPG", 100}, {"IMG_1 2.JPG", 200}}, "d1");
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::duplicate),
              QStringList{"[ ]*IMG_1.JPG [x]IMG_1 2.JPG [x]IMG_1 copy.JPG"});
    EXPECT_EQ(result.keepers, QSet<QString>{"/f/IMG_1.JPG"});
    EXPECT_EQ(result.suggested, (QSet<QString>{"/f/IMG_1 2.JPG", "/f/IMG_1 copy.JPG"}));
    EXPECT_FALSE(result.groups.at(CleanupCategory::duplicate).first().date.has_value());
}

TEST(CleanupGrouping, EqualLengthCopiesGoByTheFileBrowsersOrder)
{
    Scan scan;
    scan.add("b.jpg", 0);
    scan.add("a.jpg", 100);
    scan.add("img10.jpg", 200);
    scan.add("B2.jpg", 300);
    scan.add("zz.jpg", 400);
    scan.add("a3.jpg", 500);
    scan.add("lone.jpg", 600); // a digest nobody shares: no group
    scan.digest("b.jpg", "d1");
    scan.digest("a.jpg", "d1");
    scan.digest("img10.jpg", "d2");
    scan.digest("zz.jpg", "d2");
    scan.digest("B2.jpg", "d3");
    scan.digest("a3.jpg", "d3");
    scan.digest("lone.jpg", "d4");
    const CleanupResult result = scan.build();
    // Letters compare without case (a3 before B2); groups go by their keeper's name.
    EXPECT_EQ(describe(result, CleanupCategory::duplicate),
              (QStringList{"[ ]*a.jpg [x]b.jpg", "[ ]*a3.jpg [x]B2.jpg", "[ ]*zz.jpg [x]img10.jpg"}));
    EXPECT_EQ(result.unitCount(CleanupCategory::duplicate), 6);
}

TEST(CleanupGrouping, UnitsWithoutMetricsCanOnlyBeDuplicates)
{
    Scan scan;
    scan.add("a.jpg", 0);
    scan.add("b.jpg", 5);
    scan.metrics.remove("/f/a.jpg");
    scan.metrics.remove("/f/b.jpg");
    scan.digest("a.jpg", "same");
    scan.digest("b.jpg", "same");
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::duplicate), QStringList{"[ ]*a.jpg [x]b.jpg"});
    EXPECT_TRUE(result.groups.at(CleanupCategory::similar).isEmpty());
    EXPECT_TRUE(result.groups.at(CleanupCategory::blurry).isEmpty());
}

TEST(CleanupGrouping, BurstsChainNeighboursWithinThirtySeconds)
{
    Scan scan;
    scan.add("s0.jpg", 1000);
    scan.add("s1.jpg", 1010);
    scan.add("s2.jpg", 1025);
    scan.add("s3.jpg", 1070);
    scan.alike("s0.jpg", "s1.jpg");
    scan.alike("s1.jpg", "s2.jpg");
    scan.alike("s2.jpg", "s3.jpg");
    const CleanupResult result = scan.build();
    const QVector<CleanupGroup> &similar = result.groups.at(CleanupCategory::similar);
    ASSERT_EQ(similar.size(), 1);
    EXPECT_EQ(similar[0].units.size(), 3);
    EXPECT_EQ(similar[0].date, QDateTime::fromSecsSinceEpoch(1000));
    EXPECT_EQ(similar[0].units.last().primary, "/f/s2.jpg");
}

TEST(CleanupGrouping, AGapOfExactlyThirtySecondsStillJoins)
{
    Scan scan;
    scan.add("a.jpg", 0.0);
    scan.add("b.jpg", 30.0);
    scan.add("c.jpg", 60.001);
    scan.alike("a.jpg", "b.jpg");
    scan.alike("b.jpg", "c.jpg");
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::similar), QStringList{"[ ]*a.jpg [x]b.jpg"});
}

TEST(CleanupGrouping, ADistanceAtTheThresholdJoinsAndJustAboveSplits)
{
    Scan scan;
    scan.add("a.jpg", 0);
    scan.add("b.jpg", 1);
    scan.add("c.jpg", 2);
    scan.alike("a.jpg", "b.jpg", threshold);
    scan.alike("b.jpg", "c.jpg", std::nextafter(threshold, 1.0f));
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::similar), QStringList{"[ ]*a.jpg [x]b.jpg"});
}

TEST(CleanupGrouping, AMissingPrintOrFailedDistanceEndsTheRun)
{
    Scan scan;
    scan.add("a.jpg", 0);
    scan.add("b.jpg", 1);
    scan.add("c.jpg", 2);
    scan.add("d.jpg", 3);
    scan.add("e.jpg", 4);
    scan.alike("a.jpg", "b.jpg");
    scan.m("c.jpg").featurePrint.reset();
    scan.alike("c.jpg", "d.jpg");
    // d -> e is not in the table: the distance answers the largest float.
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::similar), QStringList{"[ ]*a.jpg [x]b.jpg"});
}

TEST(CleanupGrouping, EqualCaptureDatesAreOrderedByName)
{
    Scan scan;
    scan.add("img10.jpg", 5);
    scan.add("img9.jpg", 5);
    scan.alike("img9.jpg", "img10.jpg");
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::similar), QStringList{"[ ]*img9.jpg [x]img10.jpg"});
}

TEST(CleanupGrouping, OpenEyesOutweighSharpnessWhenChoosingTheKeeper)
{
    Scan scan;
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        scan.add(name, name[0] - 'a');
    scan.alike("a.jpg", "b.jpg");
    scan.alike("b.jpg", "c.jpg");
    scan.m("a.jpg").faceSharpness = 90;
    scan.m("a.jpg").closedFaces = {QRectF(0.1, 0.1, 0.2, 0.2)};
    scan.m("b.jpg").faceSharpness = 12;
    scan.m("c.jpg").faceSharpness = 80;
    scan.m("c.jpg").closedFaces = {QRectF(0.1, 0.1, 0.2, 0.2)};
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::similar), QStringList{"[x]a.jpg [ ]*b.jpg [x]c.jpg"});
    EXPECT_EQ(describe(result, CleanupCategory::closedEyes), QStringList{"[x]a.jpg [x]c.jpg"});
}

TEST(CleanupGrouping, FaceSharpnessCountsFourfoldAndTiesKeepTheEarlierShot)
{
    Scan scan;
    scan.add("a.jpg", 0, 100);
    scan.add("b.jpg", 1, 300);
    scan.add("c.jpg", 2, 999);
    scan.alike("a.jpg", "b.jpg");
    scan.alike("b.jpg", "c.jpg");
    scan.m("a.jpg").faceSharpness = 75; // 300, same as b's whole-image 300
    scan.m("c.jpg").faceSharpness = 74; // 296
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::similar), QStringList{"[ ]*a.jpg [x]b.jpg [x]c.jpg"});

    // Unless the later shot of the tie carries its RAW, which would go with it.
    scan.units[1].companions = {QStringLiteral("/f/b.NEF")};
    EXPECT_EQ(describe(scan.build(), CleanupCategory::similar), QStringList{"[x]a.jpg [ ]*b.jpg [x]c.jpg"});
}

TEST(CleanupGrouping, BlurRulesUseTheFaceWhenThereIsOne)
{
    Scan scan;
    scan.add("face.jpg", 0, 100);
    scan.m("face.jpg").faceSharpness = 9.9f;
    scan.add("soft.jpg", 100, 19.9f);
    scan.add("sharpface.jpg", 200, 5);
    scan.m("sharpface.jpg").faceSharpness = 10.0f;
    scan.add("edge.jpg", 300, 20.0f);
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::blurry), QStringList{"[x]face.jpg [x]soft.jpg"});
}

TEST(CleanupGrouping, ABlurryKeeperIsListedButNotSuggested)
{
    Scan scan;
    scan.add("a.jpg", 0, 15);
    scan.add("b.jpg", 1, 12);
    scan.add("c.jpg", 2, 50);
    scan.alike("a.jpg", "b.jpg");
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::similar), QStringList{"[ ]*a.jpg [x]b.jpg"});
    EXPECT_EQ(describe(result, CleanupCategory::blurry), QStringList{"[ ]a.jpg [x]b.jpg"});
    EXPECT_FALSE(result.groups.at(CleanupCategory::blurry).first().keeper.has_value());
}

TEST(CleanupGrouping, ADuplicateKeeperThatLosesABurstIsSuggested)
{
    Scan scan;
    scan.add("x.jpg", 0, 50);
    scan.add("x copy.jpg", 0, 50);
    scan.add("y.jpg", 5, 500);
    scan.digest("x.jpg", "d");
    scan.digest("x copy.jpg", "d");
    scan.alike("x.jpg", "y.jpg");
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::duplicate), QStringList{"[x]*x.jpg [x]x copy.jpg"});
    EXPECT_EQ(describe(result, CleanupCategory::similar), QStringList{"[x]x.jpg [ ]*y.jpg"});
    EXPECT_EQ(result.keepers, QSet<QString>{"/f/y.jpg"});
}

// The person's rating outranks every measure: the best rated copy and the
// best rated shot of a burst are kept, and no rated photo is suggested, for
// shut eyes or blur either.
TEST(CleanupGrouping, RatedPhotosAreKept)
{
    Scan scan;
    scan.copies({{"x.jpg", 0}, {"x copy.jpg", 0}, {"x 2.jpg", 0}}, "d");
    scan.rate("x copy.jpg", 2);
    scan.rate("x 2.jpg", 5);
    scan.add("a.jpg", 100, 500);
    scan.add("b.jpg", 101, 30);
    scan.add("c.jpg", 102, 400);
    scan.alike("a.jpg", "b.jpg");
    scan.alike("b.jpg", "c.jpg");
    scan.rate("b.jpg", 1);
    scan.rate("c.jpg", 1);
    scan.add("shut.jpg", 500);
    scan.m("shut.jpg").closedFaces = {QRectF(0.1, 0.1, 0.2, 0.2)};
    scan.add("soft.jpg", 600, 5);
    for (const char *name : {"shut.jpg", "soft.jpg"})
        scan.rate(name, 3);
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::duplicate), QStringList{"[ ]*x 2.jpg [ ]x copy.jpg [x]x.jpg"});
    EXPECT_EQ(describe(result, CleanupCategory::similar), QStringList{"[x]a.jpg [ ]b.jpg [ ]*c.jpg"});
    EXPECT_EQ(describe(result, CleanupCategory::closedEyes), QStringList{"[ ]shut.jpg"});
    EXPECT_EQ(describe(result, CleanupCategory::blurry), QStringList{"[ ]soft.jpg"});
    EXPECT_EQ(result.suggested, (QSet<QString>{"/f/x.jpg", "/f/a.jpg"}));
}

// Of a burst, a copy saved smaller is never kept over the full-size shot,
// and of an exposure bracket the frame nearest the metered exposure is kept
// though a darker one measures sharper; shut eyes still weigh more.
TEST(CleanupGrouping, FullSizeAndTheMeteredExposureChooseTheKeeper)
{
    Scan scan;
    scan.add("big.jpg", 0, 40);
    scan.m("big.jpg").pixelCount = 4000 * 3000;
    scan.add("small.jpg", 1, 90);
    scan.m("small.jpg").pixelCount = 2000 * 1500;
    scan.alike("big.jpg", "small.jpg");
    const float biases[] = {0.0f, -0.7f, 0.7f, -1.3f, 1.3f};
    for (int i = 0; i < 5; ++i) {
        const QString name = QString("ev%1.jpg").arg(i);
        scan.add(name, 100 + i, 50 + 10 * float(i));
        scan.m(name).exposureBias = biases[i];
        if (i > 0)
            scan.alike(QString("ev%1.jpg").arg(i - 1), name);
    }
    scan.add("blink.jpg", 200, 30);
    scan.m("blink.jpg").exposureBias = 0.0f;
    scan.m("blink.jpg").closedFaces = {QRectF(0.1, 0.1, 0.2, 0.2)};
    scan.add("open.jpg", 201, 20);
    scan.m("open.jpg").exposureBias = -0.7f;
    scan.alike("blink.jpg", "open.jpg");
    const CleanupResult result = scan.build();
    EXPECT_EQ(describe(result, CleanupCategory::similar),
              (QStringList{"[ ]*big.jpg [x]small.jpg", "[ ]*ev0.jpg [x]ev1.jpg [x]ev2.jpg [x]ev3.jpg [x]ev4.jpg",
                           "[x]blink.jpg [ ]*open.jpg"}));
}

TEST(CleanupGrouping, EveryCategoryHasAnEntryAndEmptyOnesHaveTheirTexts)
{
    Scan scan;
    scan.add("only.jpg", 0);
    const CleanupResult result = scan.build();
    for (CleanupCategory category : allCleanupCategories()) {
        ASSERT_EQ(result.groups.count(category), 1u);
        EXPECT_TRUE(result.groups.at(category).isEmpty());
        EXPECT_EQ(result.unitCount(category), 0);
    }
    EXPECT_TRUE(result.suggested.isEmpty());
    EXPECT_EQ(CleanupResult{}.unitCount(CleanupCategory::blurry), 0);

    Texts::setLanguage("zh");
    EXPECT_EQ(cleanupCategoryEmptyText(CleanupCategory::closedEyes), QString::fromUtf8("没有发现闭眼的照片"));
    EXPECT_EQ(cleanupCategoryTitle(CleanupCategory::blurry), QString::fromUtf8("模糊 / 虚焦"));
    EXPECT_EQ(cleanupCategoryTitle(CleanupCategory::similar), QString::fromUtf8("相似连拍"));
    EXPECT_EQ(cleanupCategoryEmptyText(CleanupCategory::duplicate), QString::fromUtf8("没有内容完全相同的文件"));
}

TEST(CleanupGrouping, CategoriesHaveRawValuesAndCaseNames)
{
    EXPECT_EQ(cleanupCategoryFromRaw(2), CleanupCategory::closedEyes);
    EXPECT_FALSE(cleanupCategoryFromRaw(4).has_value());
    EXPECT_FALSE(cleanupCategoryFromRaw(-1).has_value());
    QStringList names;
    for (CleanupCategory category : allCleanupCategories())
        names.append(cleanupCategoryName(category));
    EXPECT_EQ(names, (QStringList{"similar", "duplicate", "closedEyes", "blurry"}));
}
