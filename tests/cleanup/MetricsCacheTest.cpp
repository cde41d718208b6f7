#include "cleanup/MetricsCache.h"
#include "cleanup/DistanceCache.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtEndian>

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

// The largest single allocation made while tracking is on: the cache file is
// untrusted, and checking it must not take more memory than the file itself.
namespace {
std::atomic<bool> trackAllocations{false};
std::atomic<size_t> largestAllocation{0};
} // namespace

void *operator new(size_t size)
{
    if (trackAllocations.load(std::memory_order_relaxed)) {
        size_t seen = largestAllocation.load(std::memory_order_relaxed);
        while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
        }
    }
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
    std::free(p);
}

void operator delete(void *p, size_t) noexcept
{
    std::free(p);
}

namespace {

CleanupMetrics sampleMetrics(int seed)
{
    CleanupMetrics m;
    m.fileSize = 4'000'000 + seed;
    m.modified = 1714564800.125 + seed;
    m.captureDate = 1714564000.0 + seed;
    m.pixelCount = 24'000'000 + seed;
    m.exposureBias = -0.7f;
    m.sharpness = 123.456f + float(seed);
    m.faceCount = 2;
    m.faceSharpness = 33.25f;
    m.closedFaces = {QRectF(0.1, 0.2, 0.05, 0.07)};
    m.eyeOpenness = {0.31f, 0.12f};
    m.eyeDarkness = {0.2f, 0.05f};
    m.featurePrint = QByteArray("\x00\x01\xfe\xff print", 10);
    m.printRevision = 7;
    m.version = cleanupMetricsVersion;
    return m;
}

QByteArray bigEndian(quint64 value, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xff));
    return out;
}

// A binary property list from raw objects (each already encoded), with refSize
// and offset sizes of 4 bytes and object 0 at the top.
QByteArray binaryPlist(const QVector<QByteArray> &objects)
{
    QByteArray out("bplist00");
    QVector<quint64> offsets;
    for (const QByteArray &object : objects) {
        offsets.append(quint64(out.size()));
        out += object;
    }
    const quint64 table = quint64(out.size());
    for (quint64 offset : offsets)
        out += bigEndian(offset, 4);
    out += QByteArray(6, '\0');
    out += char(4);
    out += char(4);
    out += bigEndian(quint64(objects.size()), 8);
    out += bigEndian(0, 8);
    out += bigEndian(table, 8);
    return out;
}

QByteArray arrayOf(const QVector<quint32> &refs)
{
    QByteArray out;
    if (refs.size() < 15) {
        out += char(0xA0 | refs.size());
    } else {
        out += char(0xAF);
        out += char(0x12);
        out += bigEndian(quint64(refs.size()), 4);
    }
    for (quint32 ref : refs)
        out += bigEndian(ref, 4);
    return out;
}

} // namespace

TEST(MetricsCache, FileNameIsTheHashOfTheStandardizedFolderPath)
{
    EXPECT_EQ(MetricsCache::fileName("/tmp/photos"), "5905c0aa15bfcd1ee4b0883f.plist");
    EXPECT_EQ(MetricsCache::fileName("/tmp/photos/"), "5905c0aa15bfcd1ee4b0883f.plist");
    EXPECT_EQ(MetricsCache::fileName("/tmp/x/../photos/./"), "5905c0aa15bfcd1ee4b0883f.plist");
    EXPECT_NE(MetricsCache::fileName("/tmp/Photos"), MetricsCache::fileName("/tmp/photos"));
    const std::optional<QString> file = MetricsCache::fileFor("/tmp/photos");
    ASSERT_TRUE(file.has_value());
    EXPECT_TRUE(file->endsWith("/Glanto/Cleanup/5905c0aa15bfcd1ee4b0883f.plist")) << qPrintable(*file);
}

TEST(MetricsCache, RecordsSurviveARoundTripThroughABinaryPlist)
{
    CleanupMetrics bare = sampleMetrics(1);
    bare.faceSharpness.reset();
    bare.pixelCount = 0;
    bare.exposureBias.reset();
    bare.featurePrint.reset();
    bare.closedFaces.clear();
    bare.eyeOpenness.clear();
    bare.eyeDarkness.clear();
    const QHash<QString, CleanupMetrics> entries{
        {"IMG_0001.JPG", sampleMetrics(0)}, {QString::fromUtf8("照片 2.heic"), bare}};
    const QByteArray bytes = MetricsCache::encode(entries);
    ASSERT_TRUE(bytes.startsWith("bplist00"));
    const auto decoded = MetricsCache::decode(bytes);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, entries);
}

TEST(MetricsCache, SaveReplacesTheFileAtomicallyAndSkipsEmptyMetrics)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("cache.plist");
    EXPECT_FALSE(MetricsCache::save(path, {}));
    EXPECT_FALSE(QFile::exists(path));

    ASSERT_TRUE(MetricsCache::save(path, {{"a.jpg", sampleMetrics(0)}}));
    ASSERT_TRUE(MetricsCache::save(path, {{"b.jpg", sampleMetrics(1)}}));
    const QHash<QString, CleanupMetrics> loaded = MetricsCache::load(path);
    EXPECT_EQ(loaded.keys(), QStringList{"b.jpg"});
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"cache.plist"});

    EXPECT_FALSE(MetricsCache::save(dir.filePath("missing/cache.plist"), {{"a.jpg", sampleMetrics(0)}}));
    EXPECT_TRUE(MetricsCache::load(dir.filePath("missing/cache.plist")).isEmpty());
}

// A link planted under a cache's name is never written through: the file it
// points to keeps its bytes, and the save says it did not happen.
TEST(MetricsCache, ASaveNeverWritesThroughALink)
{
    QTemporaryDir dir;
    const QString victim = dir.filePath("notes.txt");
    QFile notes(victim);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("my notes");
    notes.close();
    const QString metrics = dir.filePath("cache.plist");
    const QString distances = DistanceCache::fileBeside(metrics);
    ASSERT_TRUE(QFile::link(victim, metrics));
    ASSERT_TRUE(QFile::link(victim, distances));

    EXPECT_FALSE(MetricsCache::save(metrics, {{"a.jpg", sampleMetrics(0)}}));
    const QByteArray a(2368, 'a'), b(2368, 'b');
    EXPECT_FALSE(DistanceCache::save(distances, {{{a, b}, 0.25f}}));
    ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
    EXPECT_EQ(notes.readAll(), "my notes");
    EXPECT_TRUE(QFileInfo(metrics).isSymLink());
}

TEST(MetricsCache, AnEntryIsValidOnlyForTheSameSizeTimeRevisionAndVersion)
{
    const QDateTime modified = QDateTime::fromMSecsSinceEpoch(1714564800125, QTimeZone::utc());
    const CleanupUnit unit{"/f/a.jpg", {}, 1234, modified};
    CleanupMetrics entry;
    entry.fileSize = 1234;
    entry.modified = 1714564800.125;
    entry.printRevision = 7;
    entry.version = cleanupMetricsVersion;
    EXPECT_TRUE(MetricsCache::isValidFor(entry, unit, 7, true));
    EXPECT_FALSE(MetricsCache::isValidFor(entry, unit, 8, true));

    CleanupMetrics changed = entry;
    changed.fileSize = 1235;
    EXPECT_FALSE(MetricsCache::isValidFor(changed, unit, 7, true));
    changed = entry;
    changed.modified = 1714564800.126;
    EXPECT_FALSE(MetricsCache::isValidFor(changed, unit, 7, true));
    changed = entry;
    changed.version = 0;
    EXPECT_FALSE(MetricsCache::isValidFor(changed, unit, 7, true));

    // A unit without a date matches only an entry that stored 0.
    const CleanupUnit undated{"/f/a.jpg", {}, 1234, std::nullopt};
    EXPECT_FALSE(MetricsCache::isValidFor(entry, undated, 7, true));
    changed = entry;
    changed.modified = 0;
    EXPECT_TRUE(MetricsCache::isValidFor(changed, undated, 7, true));
}

TEST(MetricsCache, FacesMeasuredWithoutTheLandmarkModelAreMeasuredAgainOnceItIsThere)
{
    const QDateTime modified = QDateTime::fromMSecsSinceEpoch(1714564800125, QTimeZone::utc());
    const CleanupUnit unit{"/f/a.jpg", {}, 4'000'000, modified};
    CleanupMetrics blind = sampleMetrics(0);
    blind.modified = 1714564800.125;
    blind.eyeOpenness.clear();
    blind.eyeDarkness.clear();
    blind.eyesMeasured = false;
    EXPECT_TRUE(MetricsCache::isValidFor(blind, unit, 7, false));
    EXPECT_FALSE(MetricsCache::isValidFor(blind, unit, 7, true));
    // Without faces the model would not have changed anything.
    CleanupMetrics faceless = blind;
    faceless.faceCount = 0;
    EXPECT_TRUE(MetricsCache::isValidFor(faceless, unit, 7, true));

    // The mark survives the cache file; records of the first version, which
    // never had it, are all measured again.
    const auto decoded = MetricsCache::decode(MetricsCache::encode({{"a.jpg", blind}, {"b.jpg", sampleMetrics(1)}}));
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->value("a.jpg").eyesMeasured);
    EXPECT_TRUE(decoded->value("b.jpg").eyesMeasured);
    CleanupMetrics old = sampleMetrics(0);
    old.modified = 1714564800.125;
    old.version = 1;
    EXPECT_FALSE(MetricsCache::isValidFor(old, unit, 7, true));
}

TEST(MetricsCache, TruncatedFilesReadAsEmpty)
{
    const QByteArray bytes = MetricsCache::encode({{"a.jpg", sampleMetrics(0)}, {"b.jpg", sampleMetrics(1)}});
    for (qsizetype length = 0; length < bytes.size(); ++length)
        EXPECT_FALSE(MetricsCache::decode(bytes.left(length)).has_value()) << length;
}

TEST(MetricsCache, ForeignFilesReadAsEmpty)
{
    QTemporaryDir dir;
    const auto loadBytes = [&](const QByteArray &bytes) {
        QFile file(dir.filePath("c.plist"));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        file.close();
        return MetricsCache::load(file.fileName());
    };
    EXPECT_TRUE(loadBytes("").isEmpty());
    EXPECT_TRUE(loadBytes("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>").isEmpty());
    QFile jpeg(TestData::photo("formats/hopper.jpg"));
    ASSERT_TRUE(jpeg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(loadBytes(jpeg.readAll()).isEmpty());

    // A well-formed plist of another shape: root array; entry missing a key;
    // a key of the wrong type; a non-finite real.
    const CleanupMetrics good = sampleMetrics(0);
    const QByteArray valid = MetricsCache::encode({{"a.jpg", good}});
    ASSERT_FALSE(loadBytes(valid).isEmpty());
    QByteArray missing = valid;
    missing.replace("faceCount", "faceCounT");
    EXPECT_TRUE(loadBytes(missing).isEmpty());
    CleanupMetrics infinite = good;
    infinite.sharpness = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(loadBytes(MetricsCache::encode({{"a.jpg", infinite}, {"b.jpg", good}})).isEmpty());
    QByteArray retyped = valid;
    retyped.replace("sharpness", "faceCount"); // two faceCount keys, one a real; no sharpness
    EXPECT_TRUE(loadBytes(retyped).isEmpty());
    EXPECT_TRUE(loadBytes(binaryPlist({arrayOf({})})).isEmpty());

    // A directory, a FIFO (opening it would wait for a writer forever), a
    // device, and a file past the size bound, under the cache's name.
    QDir(dir.path()).mkdir("d.plist");
    EXPECT_TRUE(MetricsCache::load(dir.filePath("d.plist")).isEmpty());
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo.plist")).constData(), 0600), 0);
    EXPECT_TRUE(MetricsCache::load(dir.filePath("fifo.plist")).isEmpty());
    ASSERT_TRUE(QFile::link("/dev/zero", dir.filePath("zero.plist")));
    EXPECT_TRUE(MetricsCache::load(dir.filePath("zero.plist")).isEmpty());
    QFile huge(dir.filePath("huge.plist"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    huge.write(valid);
    ASSERT_TRUE(huge.resize(MetricsCache::maxFileSize + 1)); // sparse
    huge.close();
    EXPECT_TRUE(MetricsCache::load(huge.fileName()).isEmpty());
}

// Found by hand: libplist 2.2 parses nesting recursively, and a 900 KB file of
// 100,000 nested arrays crashed the program on its stack.
TEST(MetricsCache, DeeplyNestedFileIsRejectedBeforeParsing)
{
    QVector<QByteArray> objects;
    const int depth = 100'000;
    for (int i = 0; i < depth; ++i)
        objects.append(arrayOf({quint32(i + 1)}));
    objects.append(arrayOf({}));
    EXPECT_FALSE(MetricsCache::decode(binaryPlist(objects)).has_value());
}

TEST(MetricsCache, SelfReferenceAndReferenceBombsAreRejected)
{
    EXPECT_FALSE(MetricsCache::decode(binaryPlist({arrayOf({0})})).has_value());
    EXPECT_FALSE(MetricsCache::decode(binaryPlist({arrayOf({1}), arrayOf({0})})).has_value());

    // Three levels of 20,000 references to one shared array: 8e12 nodes once
    // expanded, from a file of 240 KB.
    const QVector<quint32> toOne(20'000, 1);
    const QVector<quint32> toTwo(20'000, 2);
    const QVector<quint32> toThree(20'000, 3);
    EXPECT_FALSE(MetricsCache::decode(binaryPlist({arrayOf(toOne), arrayOf(toTwo), arrayOf(toThree),
                                                   QByteArray("\x10\x01", 2)}))
                     .has_value());

    // References and offsets that point outside the file.
    EXPECT_FALSE(MetricsCache::decode(binaryPlist({arrayOf({5})})).has_value());
    QByteArray badOffset = binaryPlist({arrayOf({})});
    badOffset[badOffset.size() - 32 - 1] = char(0x7f);
    EXPECT_FALSE(MetricsCache::decode(badOffset).has_value());
    QByteArray longData = binaryPlist({QByteArray("\x4f\x13", 2) + bigEndian(1ull << 40, 8)});
    EXPECT_FALSE(MetricsCache::decode(longData).has_value());
}

TEST(MetricsCache, BitFlipsNeverCrashTheReader)
{
    const QByteArray valid = MetricsCache::encode({{"a.jpg", sampleMetrics(0)}, {"b.jpg", sampleMetrics(1)}});
    quint32 state = 12345;
    int decoded = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes = valid;
        for (int flips = 0; flips < 3; ++flips) {
            state = state * 1664525u + 1013904223u;
            const qsizetype at = qsizetype(state % quint32(bytes.size()));
            bytes[at] = char(bytes[at] ^ (1 << (state >> 29)));
        }
        decoded += MetricsCache::decode(bytes).has_value();
    }
    EXPECT_LT(decoded, 3000); // most flips break something; none may crash
}

// An offset table whose every slot names the same one-byte object claims as many
// objects as the file has bytes. The check turns it down without a per-object
// table many times the file's size.
TEST(MetricsCache, CheckingAFileTakesNoMoreMemoryThanTheFile)
{
    constexpr int objects = 1'000'000;
    QByteArray bytes("bplist00");
    bytes.append(char(0xA0)); // an empty array at offset 8
    const qsizetype table = bytes.size();
    bytes.append(QByteArray(objects, char(8)));
    bytes.append(QByteArray(6, '\0'));
    bytes.append(char(1)); // offset size
    bytes.append(char(1)); // reference size
    bytes.append(bigEndian(objects, 8));
    bytes.append(bigEndian(0, 8));
    bytes.append(bigEndian(quint64(table), 8));

    largestAllocation = 0;
    trackAllocations = true;
    const auto decoded = MetricsCache::decode(bytes);
    trackAllocations = false;
    EXPECT_FALSE(decoded.has_value());
    EXPECT_LE(largestAllocation.load(), size_t(bytes.size()));

    // A real file of many records still loads, and its check stays within its size too.
    QHash<QString, CleanupMetrics> many;
    for (int i = 0; i < 2000; ++i)
        many.insert(QStringLiteral("IMG_%1.jpg").arg(i), sampleMetrics(i));
    const QByteArray real = MetricsCache::encode(many);
    const auto back = MetricsCache::decode(real);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, many);
}

// Inputs kept in tests/data/fuzz/metrics_cache/, each named after its fault: files
// the reader once accepted but could not write back readably. Each holds one
// otherwise valid record, which also reads back once the fault is gone.
TEST(MetricsCache, FuzzFoundFilesAreRefused)
{
    const QDir dir(QStringLiteral(GLANTO_TEST_DATA_DIR "/fuzz/metrics_cache"));
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty());
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const auto decoded = MetricsCache::decode(file.readAll());
        EXPECT_FALSE(decoded.has_value());
        if (decoded && !decoded->isEmpty()) {
            const auto reread = MetricsCache::decode(MetricsCache::encode(*decoded));
            EXPECT_TRUE(reread.has_value() && *reread == *decoded);
        }
    }
}

// The neighbour distances stored beside the metrics.
TEST(DistanceCache, RoundTripKeepsOnlyPairsOfKnownPrintsAndRefusesDamagedFiles)
{
    const QByteArray a(2368, 'a'), b(2368, 'b'), c(2368, 'c');
    const DistanceCache::Distances distances{{{a, b}, 0.25f}, {{b, c}, 3.5f}};
    QTemporaryDir dir;
    const QString path = DistanceCache::fileBeside(dir.filePath(QStringLiteral("0123.plist")));
    EXPECT_EQ(QFileInfo(path).fileName(), QStringLiteral("0123.distances"));
    ASSERT_TRUE(DistanceCache::save(path, distances));
    EXPECT_EQ(DistanceCache::load(path, {a, b, c}), distances);
    // c changed (or went away): only the pair without it is still known.
    EXPECT_EQ(DistanceCache::load(path, {a, b, QByteArray(2368, 'd')}),
              (DistanceCache::Distances{{{a, b}, 0.25f}}));

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    ASSERT_TRUE(DistanceCache::decode(good).has_value());
    EXPECT_FALSE(DistanceCache::decode(good.left(good.size() - 1)).has_value());
    EXPECT_FALSE(DistanceCache::decode(good + 'x').has_value());
    QByteArray hugeCount = good;
    hugeCount[11] = char(0x7f);
    EXPECT_FALSE(DistanceCache::decode(hugeCount).has_value());
    QByteArray foreign = good;
    foreign[0] = 'X';
    EXPECT_FALSE(DistanceCache::decode(foreign).has_value());
    // A distance that is not a length: NaN, then a negative number.
    for (const quint32 raw : {0x7fc00000u, 0xbf800000u}) {
        QByteArray bad = good;
        qToLittleEndian<quint32>(raw, bad.data() + 12 + 16);
        EXPECT_FALSE(DistanceCache::decode(bad).has_value());
    }
    EXPECT_TRUE(DistanceCache::load(dir.filePath(QStringLiteral("missing.distances")), {a, b}).isEmpty());
}
