#include "platform/Metadata.h"
#include "platform/CodecInternal.h"
#include "platform/RegularFile.h"

#include <QFile>
#include <QLoggingCategory>

#include <exiv2/exiv2.hpp>

#include <cmath>
#include <mutex>
#include <string>
#include <utility>

Q_LOGGING_CATEGORY(lcMetadata, "glanto.metadata", QtWarningMsg)

namespace {

// Larger values are maker-note blobs and embedded previews: nothing a reader
// of tag text wants, and their string form is several times their size.
constexpr long maxValueBytes = 64 * 1024;

std::recursive_mutex &xmpToolkitMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

void lockXmpToolkit(void *data, bool lock)
{
    auto *mutex = static_cast<std::recursive_mutex *>(data);
    if (lock)
        mutex->lock();
    else
        mutex->unlock();
}

// exiv2 reports damaged directories and odd types of perfectly viewable photos
// on stderr; a folder of them would flood the terminal. They are kept for
// whoever turns the category on.
void forwardExivMessage(int level, const char *message)
{
    QByteArray text(message);
    while (text.endsWith('\n'))
        text.chop(1);
    qCDebug(lcMetadata, "exiv2 (%d): %s", level, text.constData());
}

QString textOf(const std::string &value)
{
    return QString::fromStdString(value);
}

// exiv2 finds no metadata in some HEIF files that hold it, such as libheif's
// own copies of pictures of odd width or height (their item locations carry a
// base offset exiv2 does not expect). libheif reads those blocks for it.
void readHeifBlocks(Exiv2::Image &image, const QString &path)
{
    const CodecDetail::HeifMetadata blocks = CodecDetail::heifMetadata(path);
    if (!blocks.exif.isEmpty()) {
        Exiv2::ExifData exif;
        Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(blocks.exif.constData()),
                                  uint32_t(blocks.exif.size()));
        image.setExifData(exif);
    }
    if (!blocks.xmp.isEmpty() && image.xmpData().empty()) {
        Exiv2::XmpData xmp;
        if (Exiv2::XmpParser::decode(xmp, blocks.xmp.toStdString()) == 0)
            image.setXmpData(xmp);
    }
}

// Opens the file, parses its metadata and hands the image to read(). Every
// exception exiv2 (or the standard library below it) throws ends here.
template<typename Reader>
auto withParsedImage(const QString &path, Reader &&read)
    -> std::optional<decltype(read(std::declval<Exiv2::Image &>()))>
{
    if (path.isEmpty())
        return std::nullopt;
    const QByteArray encodedPath = QFile::encodeName(path);
    // A FIFO or device named photo.jpg would block or stream forever; exiv2
    // gets regular files only.
    if (!RegularFile::isRegular(encodedPath))
        return std::nullopt;
    const auto parsing = Metadata::lockParsing();
    try {
        // A FileIo of our own rather than ImageFactory::open(path), which would
        // treat a path that looks like a URL as something to fetch.
        Exiv2::BasicIo::AutoPtr io(new Exiv2::FileIo(encodedPath.toStdString()));
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(io);
        if (!image.get())
            return std::nullopt;
        image->readMetadata();
        if (image->imageType() == Exiv2::ImageType::bmff && image->exifData().empty())
            readHeifBlocks(*image, path);
        return read(*image);
    } catch (const Exiv2::AnyError &error) {
        qCDebug(lcMetadata, "metadata of %s: %s", qUtf8Printable(path), error.what());
    } catch (const std::exception &error) {
        qCDebug(lcMetadata, "metadata of %s: %s", qUtf8Printable(path), error.what());
    } catch (...) {
        qCDebug(lcMetadata, "metadata of %s: unknown failure", qUtf8Printable(path));
    }
    return std::nullopt;
}

template<typename Data, typename Key>
void insertValue(MetadataTags &tags, const Data &data, const std::string &key)
{
    try {
        const auto found = data.findKey(Key(key));
        if (found != data.end() && found->size() <= maxValueBytes)
            tags.values.insert(textOf(key), textOf(found->toString()));
    } catch (const Exiv2::AnyError &) {
        // An unknown key name: nothing stored under it.
    }
}

} // namespace

std::optional<QString> MetadataTags::value(const QString &key) const
{
    const auto found = values.constFind(key);
    if (found == values.constEnd())
        return std::nullopt;
    return *found;
}

std::optional<QString> MetadataTags::firstOf(std::initializer_list<const char *> keys) const
{
    for (const char *key : keys) {
        const auto found = values.constFind(QLatin1String(key));
        if (found != values.constEnd() && !found->trimmed().isEmpty())
            return *found;
    }
    return std::nullopt;
}

namespace Metadata {

void initialize()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setHandler(forwardExivMessage);
        Exiv2::LogMsg::setLevel(lcMetadata().isDebugEnabled() ? Exiv2::LogMsg::warn : Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(lockXmpToolkit, &xmpToolkitMutex());
        Exiv2::enableBMFF(true);
    });
}

std::unique_lock<std::recursive_mutex> lockParsing()
{
    initialize();
    return std::unique_lock<std::recursive_mutex>(xmpToolkitMutex());
}

std::optional<MetadataTags> readMetadata(const QString &path)
{
    return withParsedImage(path, [](Exiv2::Image &image) {
        MetadataTags tags;
        for (const Exiv2::Exifdatum &datum : image.exifData()) {
            if (datum.size() <= maxValueBytes)
                tags.values.insert(textOf(datum.key()), textOf(datum.toString()));
        }
        for (const Exiv2::Xmpdatum &datum : image.xmpData()) {
            if (datum.size() <= maxValueBytes)
                tags.values.insert(textOf(datum.key()), textOf(datum.toString()));
        }
        return tags;
    });
}

std::optional<MetadataTags> readMetadata(const QString &path, const QStringList &keys)
{
    return withParsedImage(path, [&keys](Exiv2::Image &image) {
        MetadataTags tags;
        for (const QString &key : keys) {
            const std::string name = key.toStdString();
            if (key.startsWith(QLatin1String("Exif.")))
                insertValue<Exiv2::ExifData, Exiv2::ExifKey>(tags, image.exifData(), name);
            else if (key.startsWith(QLatin1String("Xmp.")))
                insertValue<Exiv2::XmpData, Exiv2::XmpKey>(tags, image.xmpData(), name);
            else if (key.startsWith(QLatin1String("Iptc.")))
                insertValue<Exiv2::IptcData, Exiv2::IptcKey>(tags, image.iptcData(), name);
        }
        return tags;
    });
}

namespace {

constexpr char subSecTimeOriginalKey[] = "Exif.Photo.SubSecTimeOriginal";
constexpr char subSecTimeDigitizedKey[] = "Exif.Photo.SubSecTimeDigitized";
constexpr char subSecTimeKey[] = "Exif.Photo.SubSecTime";
constexpr char xmpDateTimeOriginalKey[] = "Xmp.exif.DateTimeOriginal";
constexpr char xmpDateCreatedKey[] = "Xmp.photoshop.DateCreated";

} // namespace

const QStringList &captureDateKeys()
{
    static const QStringList keys{QLatin1String(dateTimeOriginalKey),    QLatin1String(dateTimeDigitizedKey),
                                  QLatin1String(dateTimeKey),            QLatin1String(subSecTimeOriginalKey),
                                  QLatin1String(subSecTimeDigitizedKey), QLatin1String(subSecTimeKey),
                                  QLatin1String(xmpDateTimeOriginalKey), QLatin1String(xmpDateCreatedKey)};
    return keys;
}

CaptureDateStrings captureDateStrings(const MetadataTags &tags)
{
    const auto value = [&tags](const char *key) { return tags.value(QLatin1String(key)); };
    return CaptureDateStrings{value(dateTimeOriginalKey),    value(dateTimeDigitizedKey),  value(dateTimeKey),
                              value(subSecTimeOriginalKey),  value(subSecTimeDigitizedKey), value(subSecTimeKey),
                              value(xmpDateTimeOriginalKey), value(xmpDateCreatedKey)};
}

std::optional<double> number(const QString &text)
{
    const QString first = text.trimmed().section(QLatin1Char(' '), 0, 0);
    if (first.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qsizetype slash = first.indexOf(QLatin1Char('/'));
    if (slash > 0) {
        const double num = first.left(slash).toDouble(&ok);
        if (!ok)
            return std::nullopt;
        const double den = first.mid(slash + 1).toDouble(&ok);
        if (!ok || den == 0)
            return std::nullopt;
        return num / den;
    }
    const double value = first.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<CaptureDateStrings> readCaptureDateStrings(const QString &path)
{
    const auto tags = readMetadata(path, captureDateKeys());
    if (!tags)
        return std::nullopt;
    return captureDateStrings(*tags);
}

} // namespace Metadata
