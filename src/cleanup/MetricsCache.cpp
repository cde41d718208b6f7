#include "cleanup/MetricsCache.h"
#include "platform/RegularFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace {

// ---------------------------------------------------------------------------
// A structural check of a binary property list before libplist sees it.
//
// libplist 2.2 parses containers recursively and copies every shared object
// reference, so a crafted file of a few hundred kilobytes can nest deeply enough
// to overflow the stack, or reference one array from itself a million times to
// exhaust memory. The cache lives in a user-writable directory, so it is read as
// untrusted input: this walk bounds nesting depth and the size of the tree that
// parsing would build, and checks every offset, reference and length, without
// recursion deeper than the depth limit.

class BinaryPlistCheck
{
public:
    explicit BinaryPlistCheck(const QByteArray &bytes)
        : data(reinterpret_cast<const unsigned char *>(bytes.constData()))
        , size(quint64(bytes.size()))
    {}

    bool ok()
    {
        if (size < 8 + 32 || std::memcmp(data, "bplist00", 8) != 0)
            return false;
        const unsigned char *trailer = data + size - 32;
        offsetSize = trailer[6];
        refSize = trailer[7];
        objectCount = bigEndian(trailer + 8, 8);
        const quint64 top = bigEndian(trailer + 16, 8);
        tableOffset = bigEndian(trailer + 24, 8);
        if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8)
            return false;
        if (objectCount == 0 || top >= objectCount || tableOffset < 8 || tableOffset >= size - 32)
            return false;
        if (objectCount > (size - 32 - tableOffset) / offsetSize)
            return false;
        // Every object of a real cache file takes several bytes (a marker, its
        // value, its slot in the offset table), so a file claiming more objects
        // than a quarter of its size is not ours; and the walk's own memory, four
        // bytes an object, stays within the file's size.
        if (objectCount > size / 4)
            return false;
        // A real cache file parses into fewer nodes than a quarter of its bytes
        // (a record is some hundreds of bytes and a few dozen nodes); a hostile
        // one that shares objects to multiply the tree gets no further.
        nodeBudget = std::min<quint64>(4'000'000, size / 4 + 1000);
        states.assign(objectCount, 0);
        return visit(top, 0);
    }

private:
    static constexpr int maxDepth = 8;

    // One word an object: the phase in the top two bits (0 unseen, 1 in progress,
    // 2 done) and, once done, the nodes its tree holds (below the node budget,
    // which fits the other 30 bits).
    using State = quint32;
    static constexpr State inProgress = State(1) << 30;
    static constexpr State done = State(2) << 30;
    static constexpr State nodeMask = inProgress - 1;

    static quint64 bigEndian(const unsigned char *p, int n)
    {
        quint64 v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 8) | p[i];
        return v;
    }

    bool objectOffset(quint64 index, quint64 &offset) const
    {
        offset = bigEndian(data + tableOffset + index * offsetSize, offsetSize);
        return offset >= 8 && offset < tableOffset;
    }

    // Reads a length from the low nibble, or from the integer object after the
    // marker when the nibble is 0xF. Advances p past the length.
    bool length(quint64 &p, quint8 nibble, quint64 &out) const
    {
        if (nibble != 0xF) {
            out = nibble;
            return true;
        }
        if (p >= tableOffset)
            return false;
        const quint8 marker = data[p++];
        if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3)
            return false;
        const int n = 1 << (marker & 0x0F);
        if (p + n > tableOffset)
            return false;
        out = bigEndian(data + p, n);
        p += n;
        return true;
    }

    bool fits(quint64 p, quint64 count, quint64 unit) const
    {
        return unit == 0 || count <= (tableOffset - p) / unit;
    }

    bool visit(quint64 index, int depth)
    {
        State &state = states[index];
        if (state & inProgress)
            return false; // a container that contains itself
        if (state & done)
            return spend(state & nodeMask);
        if (depth > maxDepth)
            return false;

        quint64 p = 0;
        if (!objectOffset(index, p))
            return false;
        const quint8 marker = data[p++];
        const quint8 type = marker >> 4;
        const quint8 nibble = marker & 0x0F;
        quint64 nodes = 1;

        switch (type) {
        case 0x1: // integer of 2^n bytes
        case 0x2: // real of 2^n bytes
            if (nibble > 4 || !fits(p, quint64(1) << nibble, 1))
                return false;
            break;
        case 0x4:   // data
        case 0x5: { // ASCII string
            quint64 n = 0;
            if (!length(p, nibble, n) || !fits(p, n, 1))
                return false;
            break;
        }
        case 0x6: { // UTF-16 string
            quint64 n = 0;
            if (!length(p, nibble, n) || !fits(p, n, 2))
                return false;
            break;
        }
        case 0xA:   // array
        case 0xD: { // dictionary: keys, then values
            quint64 n = 0;
            if (!length(p, nibble, n))
                return false;
            const quint64 refs = type == 0xD ? 2 * n : n;
            if (n > tableOffset || !fits(p, refs, refSize))
                return false;
            state = inProgress;
            const quint64 before = spent;
            for (quint64 i = 0; i < refs; ++i) {
                const quint64 child = bigEndian(data + p + i * refSize, refSize);
                if (child >= objectCount || !visit(child, depth + 1))
                    return false;
            }
            nodes += spent - before;
            spent = before;
            break;
        }
        default: // booleans, dates, UIDs, sets: never written by this program
            return false;
        }

        if (nodes > nodeMask)
            return false;
        state = done | State(nodes);
        return spend(nodes);
    }

    bool spend(quint64 nodes)
    {
        spent += nodes;
        return spent <= nodeBudget;
    }

    const unsigned char *data;
    quint64 size;
    int offsetSize = 0;
    int refSize = 0;
    quint64 objectCount = 0;
    quint64 tableOffset = 0;
    quint64 nodeBudget = 0;
    quint64 spent = 0;
    std::vector<State> states;
};

struct PlistDeleter {
    void operator()(void *node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// ---------------------------------------------------------------------------
// Reading the records. Every required key must be there with its exact type;
// one bad entry makes the whole file unreadable, as a half-understood cache is
// not worth trusting.

bool readInteger(plist_t dict, const char *key, qint64 max, qint64 &out)
{
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_UINT)
        return false;
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    if (value > uint64_t(max))
        return false;
    out = qint64(value);
    return true;
}

bool readRealNode(plist_t node, double &out)
{
    if (!node || plist_get_node_type(node) != PLIST_REAL)
        return false;
    plist_get_real_val(node, &out);
    return std::isfinite(out);
}

bool readReal(plist_t dict, const char *key, double &out)
{
    return readRealNode(plist_dict_get_item(dict, key), out);
}

// The measures are floats: a stored value beyond a float's range would read as
// infinity, which no measure gives and which the next save would write back as a
// file that no longer reads.
bool readFloatNode(plist_t node, double &out)
{
    return readRealNode(node, out) && std::abs(out) <= double(std::numeric_limits<float>::max());
}

bool readFloatArray(plist_t dict, const char *key, QVector<float> &out)
{
    plist_t array = plist_dict_get_item(dict, key);
    if (!array || plist_get_node_type(array) != PLIST_ARRAY)
        return false;
    const uint32_t n = plist_array_get_size(array);
    out.reserve(int(n));
    for (uint32_t i = 0; i < n; ++i) {
        double v = 0;
        if (!readFloatNode(plist_array_get_item(array, i), v))
            return false;
        out.append(float(v));
    }
    return true;
}

// [[x, y], [width, height]]
bool readRect(plist_t node, QRectF &out)
{
    if (!node || plist_get_node_type(node) != PLIST_ARRAY || plist_array_get_size(node) != 2)
        return false;
    double v[4];
    for (uint32_t pair = 0; pair < 2; ++pair) {
        plist_t inner = plist_array_get_item(node, pair);
        if (!inner || plist_get_node_type(inner) != PLIST_ARRAY || plist_array_get_size(inner) != 2)
            return false;
        for (uint32_t i = 0; i < 2; ++i) {
            if (!readRealNode(plist_array_get_item(inner, i), v[pair * 2 + i]))
                return false;
        }
    }
    out = QRectF(v[0], v[1], v[2], v[3]);
    return true;
}

std::optional<CleanupMetrics> readEntry(plist_t dict)
{
    if (!dict || plist_get_node_type(dict) != PLIST_DICT)
        return std::nullopt;
    constexpr qint64 intMax = std::numeric_limits<int>::max();
    CleanupMetrics m;
    qint64 faceCount = 0, revision = 0, version = 0;
    double sharpness = 0;
    if (!readInteger(dict, "fileSize", std::numeric_limits<qint64>::max(), m.fileSize)
        || !readReal(dict, "modified", m.modified)
        || !readReal(dict, "captureDate", m.captureDate)
        || !readFloatNode(plist_dict_get_item(dict, "sharpness"), sharpness)
        || !readInteger(dict, "faceCount", intMax, faceCount)
        || !readFloatArray(dict, "eyeOpenness", m.eyeOpenness)
        || !readFloatArray(dict, "eyeDarkness", m.eyeDarkness)
        || !readInteger(dict, "printRevision", intMax, revision)
        || !readInteger(dict, "version", intMax, version))
        return std::nullopt;
    m.sharpness = float(sharpness);
    m.faceCount = int(faceCount);
    m.printRevision = int(revision);
    m.version = int(version);
    qint64 withoutLandmarks = 0;
    if (plist_dict_get_item(dict, "withoutLandmarks") && !readInteger(dict, "withoutLandmarks", 1, withoutLandmarks))
        return std::nullopt;
    m.eyesMeasured = withoutLandmarks == 0;

    if (plist_t node = plist_dict_get_item(dict, "faceSharpness")) {
        double v = 0;
        if (!readFloatNode(node, v))
            return std::nullopt;
        m.faceSharpness = float(v);
    }
    if (plist_dict_get_item(dict, "pixelCount")
        && !readInteger(dict, "pixelCount", std::numeric_limits<qint64>::max(), m.pixelCount))
        return std::nullopt;
    if (plist_t node = plist_dict_get_item(dict, "exposureBias")) {
        double v = 0;
        if (!readFloatNode(node, v))
            return std::nullopt;
        m.exposureBias = float(v);
    }

    plist_t faces = plist_dict_get_item(dict, "closedFaces");
    if (!faces || plist_get_node_type(faces) != PLIST_ARRAY)
        return std::nullopt;
    const uint32_t faceTotal = plist_array_get_size(faces);
    for (uint32_t i = 0; i < faceTotal; ++i) {
        QRectF rect;
        if (!readRect(plist_array_get_item(faces, i), rect))
            return std::nullopt;
        m.closedFaces.append(rect);
    }

    if (plist_t node = plist_dict_get_item(dict, "featurePrint")) {
        if (plist_get_node_type(node) != PLIST_DATA)
            return std::nullopt;
        uint64_t length = 0;
        const char *bytes = plist_get_data_ptr(node, &length);
        if (length > uint64_t(std::numeric_limits<int>::max()))
            return std::nullopt;
        m.featurePrint = QByteArray(bytes, qsizetype(length));
    }
    return m;
}

plist_t realArray(const QVector<float> &values)
{
    plist_t array = plist_new_array();
    for (float v : values)
        plist_array_append_item(array, plist_new_real(v));
    return array;
}

plist_t encodeEntry(const CleanupMetrics &m)
{
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "fileSize", plist_new_uint(uint64_t(std::max<qint64>(0, m.fileSize))));
    plist_dict_set_item(dict, "modified", plist_new_real(m.modified));
    plist_dict_set_item(dict, "captureDate", plist_new_real(m.captureDate));
    if (m.pixelCount > 0)
        plist_dict_set_item(dict, "pixelCount", plist_new_uint(uint64_t(m.pixelCount)));
    if (m.exposureBias)
        plist_dict_set_item(dict, "exposureBias", plist_new_real(*m.exposureBias));
    plist_dict_set_item(dict, "sharpness", plist_new_real(m.sharpness));
    if (m.faceSharpness)
        plist_dict_set_item(dict, "faceSharpness", plist_new_real(*m.faceSharpness));
    plist_dict_set_item(dict, "faceCount", plist_new_uint(uint64_t(std::max(0, m.faceCount))));
    plist_t faces = plist_new_array();
    for (const QRectF &r : m.closedFaces) {
        plist_t origin = plist_new_array();
        plist_array_append_item(origin, plist_new_real(r.x()));
        plist_array_append_item(origin, plist_new_real(r.y()));
        plist_t size = plist_new_array();
        plist_array_append_item(size, plist_new_real(r.width()));
        plist_array_append_item(size, plist_new_real(r.height()));
        plist_t face = plist_new_array();
        plist_array_append_item(face, origin);
        plist_array_append_item(face, size);
        plist_array_append_item(faces, face);
    }
    plist_dict_set_item(dict, "closedFaces", faces);
    plist_dict_set_item(dict, "eyeOpenness", realArray(m.eyeOpenness));
    plist_dict_set_item(dict, "eyeDarkness", realArray(m.eyeDarkness));
    if (m.featurePrint)
        plist_dict_set_item(dict, "featurePrint",
                            plist_new_data(m.featurePrint->constData(), uint64_t(m.featurePrint->size())));
    plist_dict_set_item(dict, "printRevision", plist_new_uint(uint64_t(std::max(0, m.printRevision))));
    plist_dict_set_item(dict, "version", plist_new_uint(uint64_t(std::max(0, m.version))));
    if (!m.eyesMeasured)
        plist_dict_set_item(dict, "withoutLandmarks", plist_new_uint(1));
    return dict;
}

} // namespace

namespace MetricsCache {

QString directory()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty())
        return {};
    return base + QStringLiteral("/Glanto/Cleanup");
}

QString standardizedPath(const QString &folder)
{
    return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

QString fileName(const QString &folder)
{
    const QByteArray digest = QCryptographicHash::hash(standardizedPath(folder).toUtf8(),
                                                       QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.left(12).toHex()) + QStringLiteral(".plist");
}

std::optional<QString> fileFor(const QString &folder)
{
    const QString dir = directory();
    if (dir.isEmpty())
        return std::nullopt;
    return dir + QLatin1Char('/') + fileName(folder);
}

QByteArray encode(const QHash<QString, CleanupMetrics> &byName)
{
    PlistPtr root(plist_new_dict());
    for (auto it = byName.cbegin(); it != byName.cend(); ++it)
        plist_dict_set_item(root.get(), it.key().toUtf8().constData(), encodeEntry(it.value()));
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    if (!bytes)
        return {};
    QByteArray out(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    return out;
}

std::optional<QHash<QString, CleanupMetrics>> decode(const QByteArray &bytes)
{
    if (bytes.size() > maxFileSize || !BinaryPlistCheck(bytes).ok())
        return std::nullopt;
    plist_t parsed = nullptr;
    plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &parsed);
    PlistPtr root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return std::nullopt;

    QHash<QString, CleanupMetrics> byName;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(root.get(), &iter);
    if (!iter)
        return std::nullopt;
    bool ok = true;
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root.get(), iter, &key, &value);
        if (!key)
            break;
        const QString name = QString::fromUtf8(key);
        std::free(key);
        const std::optional<CleanupMetrics> entry = readEntry(value);
        if (!entry) {
            ok = false;
            break;
        }
        byName.insert(name, *entry);
    }
    std::free(iter);
    if (!ok)
        return std::nullopt;
    return byName;
}

QHash<QString, CleanupMetrics> load(const QString &path)
{
    // Only a regular file of bounded size is read: a FIFO under that name would
    // block the opening forever, a device would never end.
    QFile file;
    if (path.isEmpty() || !RegularFile::open(file, path) || file.size() > maxFileSize)
        return {};
    const QByteArray bytes = file.read(maxFileSize + 1);
    return decode(bytes).value_or(QHash<QString, CleanupMetrics>{});
}

bool save(const QString &path, const QHash<QString, CleanupMetrics> &byName)
{
    if (path.isEmpty() || byName.isEmpty())
        return false;
    const QByteArray bytes = encode(byName);
    if (bytes.isEmpty())
        return false;
    if (!RegularFile::isOwnFileSlot(path))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool isValidFor(const CleanupMetrics &entry, const CleanupUnit &unit, int printRevision, bool landmarkModel)
{
    if (!entry.eyesMeasured && entry.faceCount > 0 && landmarkModel)
        return false;
    return entry.fileSize == unit.fileSize && entry.modified == secondsSince1970(unit.modified)
        && entry.printRevision == printRevision && entry.version == cleanupMetricsVersion;
}

} // namespace MetricsCache
