#include "cleanup/DistanceCache.h"

#include "platform/RegularFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace DistanceCache {

namespace {

constexpr char magic[8] = {'G', 'L', 'D', 'I', 'S', 'T', '1', '\n'};
constexpr int headerSize = 8 + 4;
constexpr int recordSize = 8 + 8 + 4;

} // namespace

QString fileBeside(const QString &metricsFile)
{
    QString path = metricsFile;
    if (path.endsWith(QLatin1String(".plist")))
        path.chop(6);
    return path + QStringLiteral(".distances");
}

quint64 printKey(const QByteArray &print)
{
    const QByteArray digest = QCryptographicHash::hash(print, QCryptographicHash::Sha256);
    return qFromLittleEndian<quint64>(digest.constData());
}

QByteArray encode(const QHash<KeyPair, float> &byKey)
{
    QByteArray bytes(headerSize + qsizetype(byKey.size()) * recordSize, Qt::Uninitialized);
    char *p = bytes.data();
    std::memcpy(p, magic, sizeof magic);
    qToLittleEndian<quint32>(quint32(byKey.size()), p + 8);
    p += headerSize;
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it, p += recordSize) {
        qToLittleEndian<quint64>(it.key().first, p);
        qToLittleEndian<quint64>(it.key().second, p + 8);
        quint32 raw = 0;
        const float value = it.value();
        std::memcpy(&raw, &value, 4);
        qToLittleEndian<quint32>(raw, p + 16);
    }
    return bytes;
}

std::optional<QHash<KeyPair, float>> decode(const QByteArray &bytes)
{
    if (bytes.size() < headerSize || std::memcmp(bytes.constData(), magic, sizeof magic) != 0)
        return std::nullopt;
    const quint32 count = qFromLittleEndian<quint32>(bytes.constData() + 8);
    if (count > quint32(maxRecords) || bytes.size() != headerSize + qsizetype(count) * recordSize)
        return std::nullopt;
    QHash<KeyPair, float> byKey;
    byKey.reserve(qsizetype(count));
    const char *p = bytes.constData() + headerSize;
    for (quint32 i = 0; i < count; ++i, p += recordSize) {
        const quint32 raw = qFromLittleEndian<quint32>(p + 16);
        float value = 0;
        std::memcpy(&value, &raw, 4);
        // A distance is a length: anything else means the file is not ours.
        if (!std::isfinite(value) || value < 0)
            return std::nullopt;
        byKey.insert(KeyPair(qFromLittleEndian<quint64>(p), qFromLittleEndian<quint64>(p + 8)), value);
    }
    return byKey;
}

Distances load(const QString &path, const QList<QByteArray> &prints)
{
    QFile file;
    constexpr qint64 maxSize = headerSize + qint64(maxRecords) * recordSize;
    if (path.isEmpty() || !RegularFile::open(file, path) || file.size() > maxSize)
        return {};
    const std::optional<QHash<KeyPair, float>> byKey = decode(file.read(maxSize + 1));
    if (!byKey || byKey->isEmpty())
        return {};
    QHash<quint64, QByteArray> printsByKey;
    printsByKey.reserve(prints.size());
    for (const QByteArray &print : prints)
        printsByKey.insert(printKey(print), print);
    Distances distances;
    for (auto it = byKey->cbegin(); it != byKey->cend(); ++it) {
        const auto a = printsByKey.constFind(it.key().first);
        const auto b = printsByKey.constFind(it.key().second);
        if (a != printsByKey.cend() && b != printsByKey.cend())
            distances.insert(PrintPair(a.value(), b.value()), it.value());
    }
    return distances;
}

bool save(const QString &path, const Distances &distances)
{
    if (path.isEmpty() || distances.isEmpty() || distances.size() > maxRecords)
        return false;
    QHash<QByteArray, quint64> keys;
    const auto keyOf = [&keys](const QByteArray &print) {
        auto it = keys.find(print);
        if (it == keys.end())
            it = keys.insert(print, printKey(print));
        return it.value();
    };
    QHash<KeyPair, float> byKey;
    byKey.reserve(distances.size());
    for (auto it = distances.cbegin(); it != distances.cend(); ++it) {
        if (std::isfinite(it.value()) && it.value() >= 0)
            byKey.insert(KeyPair(keyOf(it.key().first), keyOf(it.key().second)), it.value());
    }
    const QByteArray bytes = encode(byKey);
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

} // namespace DistanceCache
