#include "platform/Codec.h"

#include "platform/CodecInternal.h"
#include "platform/FileNames.h"
#include "platform/RegularFile.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QTransform>

#include <lcms2.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

using namespace CodecDetail;

QSize ImageHeader::displayedSize() const
{
    if (orientation >= 5 && orientation <= 8)
        return storedSize.transposed();
    return storedSize;
}

namespace {

bool startsWith(const QByteArray &head, const char *magic, int offset = 0)
{
    const auto n = qsizetype(std::strlen(magic));
    return head.size() >= offset + n && std::memcmp(head.constData() + offset, magic, size_t(n)) == 0;
}

bool startsWithBytes(const QByteArray &head, std::initializer_list<uint8_t> bytes, int offset = 0)
{
    if (head.size() < offset + qsizetype(bytes.size()))
        return false;
    int i = offset;
    for (uint8_t b : bytes) {
        if (uint8_t(head[i++]) != b)
            return false;
    }
    return true;
}

// ISO base media files (HEIF, AVIF, CR3) say what they are in the ftyp box: the major
// brand and the list of compatible brands.
ImageFormat formatOfFtyp(const QByteArray &head)
{
    if (!startsWith(head, "ftyp", 4))
        return ImageFormat::unknown;
    const uint32_t boxSize = (uint8_t(head[0]) << 24) | (uint8_t(head[1]) << 16) | (uint8_t(head[2]) << 8)
                             | uint8_t(head[3]);
    const QByteArray major = head.mid(8, 4);
    QList<QByteArray> brands{major};
    for (uint32_t at = 16; at + 4 <= boxSize && at + 4 <= uint32_t(head.size()); at += 4)
        brands.append(head.mid(at, 4));
    if (major == "crx ")
        return ImageFormat::raw;
    if (major == "avif" || major == "avis")
        return ImageFormat::avif;
    static const QList<QByteArray> heifBrands{"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs"};
    if (heifBrands.contains(major))
        return ImageFormat::heif;
    // Generic brands (mif1, msf1, miaf): the compatible brands decide.
    for (const QByteArray &brand : brands) {
        if (brand == "avif" || brand == "avis")
            return ImageFormat::avif;
    }
    for (const QByteArray &brand : brands) {
        if (heifBrands.contains(brand) || brand == "mif1" || brand == "msf1")
            return ImageFormat::heif;
    }
    return ImageFormat::unknown;
}

// A TIFF container is a camera RAW when it says so in its structure (DNG's version
// tag, Canon's CR2 marker, the ORF and RW2 signatures). Other makers' RAW files
// (NEF, ARW, PEF, SRW) are plain TIFF structures that only their name tells apart;
// for those the name picks LibRaw among the decoders that fit the content.
bool tiffIsDng(const QByteArray &head)
{
    const bool le = head.startsWith("II");
    auto u16 = [&](qsizetype at) -> uint32_t {
        if (at + 2 > head.size())
            return 0;
        const auto *p = reinterpret_cast<const uint8_t *>(head.constData() + at);
        return le ? (p[0] | p[1] << 8) : (p[0] << 8 | p[1]);
    };
    auto u32 = [&](qsizetype at) -> uint32_t {
        if (at + 4 > head.size())
            return 0;
        const auto *p = reinterpret_cast<const uint8_t *>(head.constData() + at);
        return le ? (p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24)
                  : (uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
    };
    const uint32_t ifd = u32(4);
    if (ifd == 0 || ifd + 2 > uint32_t(head.size()))
        return false;
    const uint32_t count = u16(ifd);
    for (uint32_t i = 0; i < count && i < 512; ++i) {
        const uint32_t tag = u16(ifd + 2 + i * 12);
        if (tag == 0xC612) // DNGVersion
            return true;
    }
    return false;
}

const QStringList &rawSuffixes()
{
    static const QStringList suffixes{"dng", "arw", "cr2", "cr3", "nef", "raf", "orf", "rw2", "srw", "pef", "nrw"};
    return suffixes;
}

} // namespace

namespace Codec {

ImageFormat formatOfContent(const QByteArray &head)
{
    if (startsWithBytes(head, {0xFF, 0xD8, 0xFF}))
        return ImageFormat::jpeg;
    if (startsWithBytes(head, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}))
        return ImageFormat::png;
    if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a"))
        return ImageFormat::gif;
    if (startsWith(head, "RIFF") && startsWith(head, "WEBP", 8))
        return ImageFormat::webp;
    if (startsWith(head, "FUJIFILMCCD-RAW"))
        return ImageFormat::raw;
    if (startsWith(head, "IIRO") || startsWith(head, "IIRS") || startsWith(head, "MMOR")
        || startsWithBytes(head, {'I', 'I', 'U', 0}))
        return ImageFormat::raw;
    if (startsWithBytes(head, {'I', 'I', 0x2A, 0}) || startsWithBytes(head, {'M', 'M', 0, 0x2A})) {
        if (startsWith(head, "CR", 8) || tiffIsDng(head))
            return ImageFormat::raw;
        return ImageFormat::tiff;
    }
    if (startsWithBytes(head, {0xFF, 0x0A}) || startsWithBytes(head, {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A}))
        return ImageFormat::jxl;
    if (startsWithBytes(head, {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A})
        || startsWithBytes(head, {0xFF, 0x4F, 0xFF, 0x51}))
        return ImageFormat::jp2;
    if (startsWith(head, "icns"))
        return ImageFormat::icns;
    if (startsWithBytes(head, {0, 0, 1, 0}) && head.size() >= 6 && (uint8_t(head[4]) | uint8_t(head[5]) << 8) > 0)
        return ImageFormat::ico;
    if (startsWith(head, "BM") && head.size() >= 26)
        return ImageFormat::bmp;
    return formatOfFtyp(head);
}

ImageFormat formatOfFile(const QString &path)
{
    const QByteArray head = readHead(path);
    ImageFormat format = formatOfContent(head);
    if (format == ImageFormat::tiff && rawSuffixes().contains(QFileInfo(path).suffix().toLower()))
        format = ImageFormat::raw;
    return format;
}

const char *formatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::unknown: return "unknown";
    case ImageFormat::jpeg: return "jpeg";
    case ImageFormat::png: return "png";
    case ImageFormat::gif: return "gif";
    case ImageFormat::webp: return "webp";
    case ImageFormat::tiff: return "tiff";
    case ImageFormat::heif: return "heif";
    case ImageFormat::avif: return "avif";
    case ImageFormat::jxl: return "jxl";
    case ImageFormat::jp2: return "jp2";
    case ImageFormat::bmp: return "bmp";
    case ImageFormat::ico: return "ico";
    case ImageFormat::icns: return "icns";
    case ImageFormat::raw: return "raw";
    }
    return "unknown";
}

void initialize()
{
    initVips();
}

namespace {
std::atomic<int64_t> decodeBudget{int64_t(512) << 20};
} // namespace

int64_t pixelLimitForFileSize(qint64 fileBytes)
{
    if (fileBytes <= 0)
        return 0;
    const int64_t plausible = fileBytes > maxPixelCount / pixelsPerFileByte ? maxPixelCount
                                                                            : fileBytes * pixelsPerFileByte;
    return std::min(maxPixelCount, std::max(pixelsAnyFileMayClaim, plausible));
}

int64_t decodeBudgetBytes()
{
    return decodeBudget.load(std::memory_order_relaxed);
}

void setDecodeBudgetBytes(int64_t bytes)
{
    decodeBudget.store(std::max<int64_t>(bytes, int64_t(1) << 20), std::memory_order_relaxed);
}

namespace {

// The header as the file claims it, before any limit.
std::optional<ImageHeader> claimedHeader(const QString &path, ImageFormat format)
{
    std::optional<ImageHeader> header;
    switch (format) {
    case ImageFormat::unknown:
        return std::nullopt;
    case ImageFormat::jpeg: {
        // Only the markers before the image data are needed; 256 KiB holds them in
        // every camera file (EXIF with its thumbnail is at most 64 KiB). A print
        // workflow's CMYK profile can take a megabyte or more (up to 255 segments
        // of 64 KiB): then up to 20 MiB are read.
        QFile file;
        if (!RegularFile::open(file, path))
            return std::nullopt;
        const QByteArray head = file.read(256 * 1024);
        auto facts = jpegFacts(reinterpret_cast<const uint8_t *>(head.constData()), size_t(head.size()));
        if (!facts && file.size() > head.size()) {
            const QByteArray more = head + file.read(20 * 1024 * 1024 - head.size());
            facts = jpegFacts(reinterpret_cast<const uint8_t *>(more.constData()), size_t(more.size()));
        }
        if (!facts)
            return std::nullopt;
        header = ImageHeader{ImageFormat::jpeg, facts->size, facts->orientation, false};
        break;
    }
    case ImageFormat::bmp:
    case ImageFormat::ico:
    case ImageFormat::icns:
        header = qtProbe(path, format);
        break;
    case ImageFormat::raw:
        header = rawProbe(path);
        break;
    case ImageFormat::heif:
    case ImageFormat::avif:
        header = heifProbe(path, format);
        break;
    default:
        header = vipsProbe(path, format);
        break;
    }
    if (!header || header->storedSize.isEmpty())
        return std::nullopt;
    return header;
}

bool claimsTooMuch(const QString &path, const ImageHeader &header)
{
    const int64_t pixels = int64_t(header.storedSize.width()) * header.storedSize.height();
    return pixels > pixelLimitForFileSize(QFileInfo(path).size());
}

} // namespace

std::optional<ImageHeader> probe(const QString &path)
{
    const ImageFormat format = formatOfFile(path);
    std::optional<ImageHeader> header = claimedHeader(path, format);
    if (!header || claimsTooMuch(path, *header))
        return std::nullopt;
    if (header->orientation < 1 || header->orientation > 8)
        header->orientation = 1;
    if (format == ImageFormat::png) {
        header->isAnimated = pngHasAnimationControl(path);
        if (!vipsReadsPngOrientation())
            header->orientation = pngExifOrientation(path);
    }
    return header;
}

RefusalReason whyRefused(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const auto failed = [](int error) -> RefusalReason {
        if (FileNames::isAbsence(error))
            return {Refusal::missing, {}};
        if (error == EACCES || error == EPERM)
            return {Refusal::noPermission, {}};
        return {Refusal::unreadable, {}, error};
    };
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return failed(errno);
    if (!S_ISREG(st.st_mode))
        return {Refusal::notAFile, {}};
    const int fd = RegularFile::openForReading(path);
    if (fd < 0)
        return failed(errno);
    // Read through (as far as any photo goes): a drive that fails part-way (a
    // read error, a link lost mid-file) is said to, rather than the picture
    // being called damaged.
    int readError = 0;
    std::vector<char> chunk(1 << 16);
    for (qint64 total = 0; total < (qint64(1) << 28);) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            readError = errno;
        if (n <= 0)
            break;
        total += n;
    }
    ::close(fd);
    if (readError != 0)
        return {Refusal::unreadable, {}, readError};
    if (st.st_size == 0)
        return {Refusal::empty, {}};
    const ImageFormat format = formatOfFile(path);
    if (format == ImageFormat::unknown)
        return {Refusal::notAnImage, {}};
    const std::optional<ImageHeader> header = claimedHeader(path, format);
    if (header && claimsTooMuch(path, *header))
        return {Refusal::tooLarge, header->storedSize};
    return {};
}

QImage decodeScaled(const QString &path, int maxPixelSize, bool preferEmbedded, ScaleQuality quality)
{
    if (maxPixelSize < 1)
        return {};
    const ImageFormat format = formatOfFile(path);
    QImage image;
    switch (format) {
    case ImageFormat::unknown:
        return {};
    case ImageFormat::jpeg:
        image = jpegDecodeFile(path, maxPixelSize, preferEmbedded, quality);
        // CMYK and other exotic JPEGs are left to libvips.
        if (image.isNull())
            image = vipsDecode(path, format, maxPixelSize);
        break;
    case ImageFormat::bmp:
    case ImageFormat::ico:
    case ImageFormat::icns:
        image = qtDecode(path, format, maxPixelSize, quality);
        break;
    case ImageFormat::raw:
        image = rawDecode(path, maxPixelSize, false, quality);
        break;
    case ImageFormat::heif:
    case ImageFormat::avif:
        image = heifDecode(path, format, maxPixelSize, preferEmbedded, quality);
        break;
    default:
        image = vipsDecode(path, format, maxPixelSize);
        // A PNG's eXIf orientation (written by rotation saves) when libvips
        // leaves it unapplied.
        if (format == ImageFormat::png && !image.isNull() && !vipsReadsPngOrientation())
            image = applyOrientation(image, pngExifOrientation(path));
        break;
    }
    return image;
}

QImage decodeFull(const QString &path, std::optional<int> cap, ScaleQuality quality)
{
    const auto header = probe(path);
    if (!header)
        return {};
    const QSize shown = header->displayedSize();
    int limit = std::max(shown.width(), shown.height());
    if (cap && *cap > 0)
        limit = std::min(limit, *cap);
    if (header->format == ImageFormat::raw)
        return rawDecode(path, limit, true, quality);
    return decodeScaled(path, limit, false, quality);
}

OwnColours decodeFullInOwnColours(const QString &path)
{
    const auto header = probe(path);
    if (!header)
        return {};
    if (header->format != ImageFormat::heif && header->format != ImageFormat::avif)
        return {decodeFull(path), {}};
    const QSize shown = header->displayedSize();
    OwnColours result;
    result.image = heifDecode(path, header->format, std::max(shown.width(), shown.height()), false,
                              ScaleQuality::fine, &result.iccProfile);
    if (result.image.isNull())
        return {};
    if (!result.iccProfile.isEmpty()) {
        // The pixels come as RGB: a grey or broken profile cannot describe them.
        cmsHPROFILE profile = cmsOpenProfileFromMem(result.iccProfile.constData(),
                                                    cmsUInt32Number(result.iccProfile.size()));
        const bool rgb = profile && cmsGetColorSpace(profile) == cmsSigRgbData;
        if (profile)
            cmsCloseProfile(profile);
        if (!rgb)
            return {decodeFull(path), {}};
    }
    return result;
}

std::optional<AnimatedFrames> frames(const QString &path)
{
    const auto header = probe(path);
    if (!header || !header->isAnimated)
        return std::nullopt;
    std::optional<AnimatedFrames> animation;
    if (header->format == ImageFormat::gif)
        animation = vipsGifFrames(path);
    else if (header->format == ImageFormat::png)
        animation = apngFrames(path);
    if (animation && animation->isShortened())
        qWarning("%s: an animation of %d frames of %d x %d plays its first %d: the others would take more than "
                 "the %lld MiB allowed for decoding one picture",
                 qUtf8Printable(QFileInfo(path).fileName()), animation->totalFrames, header->storedSize.width(),
                 header->storedSize.height(), int(animation->frames.size()),
                 static_cast<long long>(decodeBudgetBytes() >> 20));
    return animation;
}

QString colorProfileName(const QString &path)
{
    const ImageFormat format = formatOfFile(path);
    switch (format) {
    case ImageFormat::unknown:
    case ImageFormat::raw:
        return {};
    case ImageFormat::jpeg: {
        const auto file = readWholeFile(path);
        if (!file)
            return {};
        const auto facts = jpegFacts(file->data, file->size);
        return facts ? iccDescription(facts->icc) : QString();
    }
    case ImageFormat::bmp:
    case ImageFormat::ico:
    case ImageFormat::icns:
        return {};
    case ImageFormat::heif:
    case ImageFormat::avif:
        return iccDescription(heifIccProfile(path));
    default:
        return iccDescription(vipsIccProfile(path));
    }
}

bool encode(const QImage &image, const QString &path, ImageFormat format, int quality)
{
    if (image.isNull())
        return false;
    if (format == ImageFormat::bmp) {
        QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        return rgb.save(path, "BMP");
    }
    return vipsEncode(image, path, format, quality);
}

} // namespace Codec

// --- helpers shared by the back ends -----------------------------------------

namespace CodecDetail {

QByteArray readHead(const QString &path, qint64 bytes)
{
    // Every decode starts here, through formatOfFile: anything but a regular file
    // has no format, so no decoder below ever opens it.
    QFile file;
    if (!RegularFile::open(file, path))
        return {};
    return file.read(bytes);
}

namespace {

// Kept per thread: decode threads read file after file of similar sizes.
uint8_t *threadBuffer(size_t size)
{
    struct Buffer {
        std::unique_ptr<uint8_t[]> data;
        size_t capacity = 0;
    };
    thread_local Buffer buffer;
    if (size > buffer.capacity) {
        buffer.data.reset(new (std::nothrow) uint8_t[size]);
        buffer.capacity = buffer.data ? size : 0;
    }
    return buffer.data.get();
}

std::optional<FileView> readInto(QFile &file, qint64 size)
{
    uint8_t *data = threadBuffer(size_t(size));
    if (!data)
        return std::nullopt;
    qint64 got = 0;
    while (got < size) {
        const qint64 n = file.read(reinterpret_cast<char *>(data) + got, size - got);
        if (n <= 0)
            break;
        got += n;
    }
    if (got <= 0)
        return std::nullopt;
    return FileView{data, size_t(got)};
}

} // namespace

std::optional<FileView> readWholeFile(const QString &path, qint64 limit)
{
    QFile file;
    if (!RegularFile::open(file, path))
        return std::nullopt;
    const qint64 size = file.size();
    if (size <= 0 || size > limit)
        return std::nullopt;
    return readInto(file, size);
}

std::optional<FileView> readFileRange(const QString &path, qint64 offset, qint64 length)
{
    QFile file;
    if (!RegularFile::open(file, path) || offset < 0 || length <= 0 || offset > file.size()
        || length > file.size() - offset || !file.seek(offset))
        return std::nullopt;
    return readInto(file, length);
}

QSize fitWithin(QSize size, int maxPixelSize)
{
    const int longSide = std::max(size.width(), size.height());
    if (longSide <= maxPixelSize || longSide <= 0)
        return size;
    const double scale = double(maxPixelSize) / longSide;
    const int w = std::max(1, int(std::lround(size.width() * scale)));
    const int h = std::max(1, int(std::lround(size.height() * scale)));
    return {std::min(w, maxPixelSize), std::min(h, maxPixelSize)};
}

QImage applyOrientation(const QImage &image, int orientation)
{
    if (image.isNull() || orientation <= 1 || orientation > 8)
        return image;
    QImage out;
    switch (orientation) {
    case 2: out = image.mirrored(true, false); break;
    case 3: out = image.transformed(QTransform().rotate(180)); break;
    case 4: out = image.mirrored(false, true); break;
    case 5: out = image.transformed(QTransform().rotate(90)).mirrored(true, false); break;
    case 6: out = image.transformed(QTransform().rotate(90)); break;
    case 7: out = image.transformed(QTransform().rotate(270)).mirrored(true, false); break;
    case 8: out = image.transformed(QTransform().rotate(270)); break;
    }
    if (out.format() != QImage::Format_RGBA8888_Premultiplied)
        out = out.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    return out;
}

namespace {

struct ProfileDeleter {
    void operator()(void *p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileDeleter>;

QString profileDescription(cmsHPROFILE profile)
{
    const cmsUInt32Number n = cmsGetProfileInfo(profile, cmsInfoDescription, "en", "US", nullptr, 0);
    if (n == 0)
        return {};
    std::vector<wchar_t> text(n / sizeof(wchar_t) + 1, 0);
    cmsGetProfileInfo(profile, cmsInfoDescription, "en", "US", text.data(), n);
    return QString::fromWCharArray(text.data()).trimmed();
}

// Transforms are built once per distinct profile and shared; lcms2 transforms made
// with NOCACHE may be used from several threads at once. Each holder keeps its
// transform alive: when the cache lets go of its entries (past its bound), a
// decode still converting rows with one of them finishes with it first.
using SharedTransform = std::shared_ptr<void>; // null = profile unusable or sRGB already

struct TransformCache {
    std::mutex lock;
    QHash<QByteArray, SharedTransform> transforms;
};

TransformCache &transformCache()
{
    static TransformCache *cache = new TransformCache; // lives for the process
    return *cache;
}

bool isAchromatic(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const uchar *pixel = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x, pixel += 4) {
            if (pixel[0] != pixel[1] || pixel[0] != pixel[2])
                return false;
        }
    }
    return true;
}

// Odd folders with many distinct profiles keep the cache from growing without end.
constexpr qsizetype maxCachedTransforms = 64;

SharedTransform transformFor(const QByteArray &icc)
{
    TransformCache &cache = transformCache();
    {
        std::lock_guard guard(cache.lock);
        const auto it = cache.transforms.constFind(icc);
        if (it != cache.transforms.constEnd())
            return it.value();
    }
    SharedTransform transform;
    Profile in(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
    const cmsColorSpaceSignature space = in ? cmsGetColorSpace(in.get()) : cmsColorSpaceSignature{};
    if (space == cmsSigRgbData && !profileDescription(in.get()).startsWith("sRGB")) {
        Profile out(cmsCreate_sRGBProfile());
        if (cmsHTRANSFORM made = cmsCreateTransform(in.get(), TYPE_RGBA_8, out.get(), TYPE_RGBA_8,
                                                    INTENT_RELATIVE_COLORIMETRIC,
                                                    cmsFLAGS_NOCACHE | cmsFLAGS_COPY_ALPHA))
            transform = SharedTransform(made, cmsDeleteTransform);
    } else if (space == cmsSigGrayData) {
        // A grey picture arrives as RGBA with three equal channels: the grey is
        // read from the first byte of each pixel, and the alpha is left as it is.
        Profile out(cmsCreate_sRGBProfile());
        constexpr cmsUInt32Number greyInRgba = COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(3);
        constexpr cmsUInt32Number rgbInRgba = COLORSPACE_SH(PT_RGB) | CHANNELS_SH(3) | BYTES_SH(1) | EXTRA_SH(1);
        if (cmsHTRANSFORM made = cmsCreateTransform(in.get(), greyInRgba, out.get(), rgbInRgba,
                                                    INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE))
            transform = SharedTransform(made, cmsDeleteTransform);
    }
    std::lock_guard guard(cache.lock);
    const auto it = cache.transforms.constFind(icc);
    if (it != cache.transforms.constEnd())
        return it.value(); // another thread made it meanwhile; ours goes with this scope
    if (cache.transforms.size() >= maxCachedTransforms)
        cache.transforms.clear(); // transforms still in use live on with their users
    cache.transforms.insert(icc, transform);
    return transform;
}

} // namespace

bool iccToSrgbInPlace(QImage &image, const QByteArray &iccProfile)
{
    if (iccProfile.isEmpty() || image.isNull() || image.format() != QImage::Format_RGBA8888_Premultiplied)
        return false;
    const SharedTransform transform = transformFor(iccProfile);
    if (!transform)
        return false;
    // A grey profile on a colour picture (a mislabelled file) describes nothing
    // here: read through it, the picture would lose its colours.
    if (T_COLORSPACE(cmsGetTransformInputFormat(transform.get())) == PT_GRAY && !isAchromatic(image))
        return false;
    // Opaque pixels only reach here (JPEG), so premultiplied and straight agree.
    for (int y = 0; y < image.height(); ++y) {
        uchar *row = image.scanLine(y);
        cmsDoTransform(transform.get(), row, row, cmsUInt32Number(image.width()));
    }
    return true;
}

QString iccDescription(const QByteArray &iccProfile)
{
    if (iccProfile.isEmpty())
        return {};
    Profile profile(cmsOpenProfileFromMem(iccProfile.constData(), cmsUInt32Number(iccProfile.size())));
    if (!profile)
        return {};
    return profileDescription(profile.get());
}

QImage toDisplayFormat(QImage image)
{
    if (image.isNull())
        return image;
    const QColorSpace srgb(QColorSpace::SRgb);
    if (image.colorSpace().isValid() && image.colorSpace() != srgb) {
        image.convertToColorSpace(srgb);
    }
    if (image.format() != QImage::Format_RGBA8888_Premultiplied)
        image = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    image.setColorSpace(QColorSpace());
    return image;
}

} // namespace CodecDetail
