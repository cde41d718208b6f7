#include "fileops/XmpRating.h"

#include "fileops/ExivEdit.h"
#include "fileops/JpegSegments.h"
#include "fileops/PngChunks.h"
#include "platform/Metadata.h"
#include "platform/Trash.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QLoggingCategory>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>

namespace XmpRating {

using SafeFile::Failure;
using SafeFile::Outcome;

namespace {

constexpr char xmpNamespace[] = "http://ns.adobe.com/xap/1.0/";
constexpr char rdfNamespace[] = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

QString suffixOf(const QString &path)
{
    return QFileInfo(path).suffix().toLower();
}

// The markup of sidecar text, as far as ratings need it: its start tags with
// their attributes, each name with the namespace its prefix is bound to where
// it stands. Comments, processing instructions, CDATA sections and the text
// between tags (junk before the packet among it) are stepped over, so that
// "xmp:Rating" written inside any of them is never taken for the property:
// the XMP library does not read them either.
struct Attribute
{
    QString name;
    QString uri; // of its prefix; none without one
    qsizetype valueStart = 0;
    qsizetype valueLength = 0;
};
struct StartTag
{
    QString name;
    QString uri;           // of its prefix, or the default namespace
    qsizetype nameEnd = 0; // where an attribute can be inserted
    qsizetype end = 0;     // just past the closing '>'
    bool empty = false;    // "/>": no content, no end tag
    QList<Attribute> attributes;
};

bool isXmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

QString localName(const QString &name)
{
    return name.mid(name.indexOf(u':') + 1);
}

// The start tags up to where the markup can no longer be followed (an unclosed
// comment, tag or quote, an end tag that closes another element, a document
// type declaration). Text that cannot be followed to its end is not patched;
// what comes before the damage can still be read.
struct Markup
{
    QList<StartTag> tags;
    bool complete = false;
};

Markup markupOf(const QString &text)
{
    Markup markup;
    QList<StartTag> &tags = markup.tags;
    // The open elements' names and the prefixes each binds ("" for the default namespace).
    QList<std::pair<QString, QHash<QString, QString>>> open;
    const auto resolve = [&](const QString &prefix) {
        for (auto it = open.crbegin(); it != open.crend(); ++it) {
            const auto found = it->second.constFind(prefix);
            if (found != it->second.constEnd())
                return *found;
        }
        // Some writers leave the usual prefix undeclared; it means nothing else.
        return prefix == QLatin1String("xmp") ? QString::fromLatin1(xmpNamespace) : QString();
    };
    const qsizetype size = text.size();
    qsizetype i = 0;
    // Moves past the next `close` after `from`; false when there is none.
    const auto skipPast = [&](QLatin1StringView close, qsizetype from) {
        const qsizetype at = text.indexOf(close, from);
        if (at < 0)
            return false;
        i = at + close.size();
        return true;
    };
    const auto skipSpace = [&](qsizetype at) {
        while (at < size && isXmlSpace(text[at]))
            ++at;
        return at;
    };
    const auto nameEnd = [&](qsizetype at) {
        while (at < size && !isXmlSpace(text[at]) && text[at] != u'=' && text[at] != u'/' && text[at] != u'>'
               && text[at] != u'<')
            ++at;
        return at;
    };
    while ((i = text.indexOf(u'<', i)) >= 0) {
        const QStringView rest = QStringView(text).mid(i);
        if (rest.startsWith(QLatin1StringView("<!--"))) {
            if (!skipPast(QLatin1StringView("-->"), i + 4))
                return markup;
            continue;
        }
        if (rest.startsWith(QLatin1StringView("<![CDATA["))) {
            if (!skipPast(QLatin1StringView("]]>"), i + 9))
                return markup;
            continue;
        }
        if (rest.startsWith(QLatin1StringView("<?"))) {
            if (!skipPast(QLatin1StringView("?>"), i + 2))
                return markup;
            continue;
        }
        // A document type declaration has no place in a packet, and its
        // internal subset could hide anything.
        if (rest.startsWith(QLatin1StringView("<!")))
            return markup;
        if (rest.startsWith(QLatin1StringView("</"))) {
            const qsizetype end = nameEnd(i + 2);
            const qsizetype close = skipSpace(end);
            if (open.isEmpty() || QStringView(text).mid(i + 2, end - i - 2) != open.last().first || close >= size
                || text[close] != u'>')
                return markup;
            open.removeLast();
            i = close + 1;
            continue;
        }

        StartTag tag;
        QHash<QString, QString> bindings;
        qsizetype at = nameEnd(i + 1);
        if (at == i + 1)
            return markup;
        tag.name = text.mid(i + 1, at - i - 1);
        tag.nameEnd = at;
        while (true) {
            at = skipSpace(at);
            if (at >= size)
                return markup;
            if (text[at] == u'>') {
                tag.end = at + 1;
                break;
            }
            if (text[at] == u'/') {
                if (at + 1 >= size || text[at + 1] != u'>')
                    return markup;
                tag.end = at + 2;
                tag.empty = true;
                break;
            }
            Attribute attribute;
            const qsizetype attributeStart = at;
            at = nameEnd(at);
            if (at == attributeStart)
                return markup;
            attribute.name = text.mid(attributeStart, at - attributeStart);
            at = skipSpace(at);
            if (at >= size || text[at] != u'=')
                return markup;
            at = skipSpace(at + 1);
            if (at >= size || (text[at] != u'"' && text[at] != u'\''))
                return markup;
            // A value runs to its own closing quote: the other quote may be inside it.
            const qsizetype close = text.indexOf(text[at], at + 1);
            if (close < 0)
                return markup;
            attribute.valueStart = at + 1;
            attribute.valueLength = close - at - 1;
            const QString value = text.mid(attribute.valueStart, attribute.valueLength);
            if (value.contains(u'<'))
                return markup;
            if (attribute.name == QLatin1String("xmlns"))
                bindings.insert(QString(), value);
            else if (attribute.name.startsWith(QLatin1String("xmlns:")))
                bindings.insert(attribute.name.mid(6), value);
            tag.attributes.append(std::move(attribute));
            at = close + 1;
        }
        // The tag's own declarations are in scope for its name and attributes.
        open.append({tag.name, std::move(bindings)});
        const qsizetype colon = tag.name.indexOf(u':');
        tag.uri = resolve(colon < 0 ? QString() : tag.name.left(colon));
        for (Attribute &attribute : tag.attributes) {
            const qsizetype c = attribute.name.indexOf(u':');
            if (c >= 0 && !attribute.name.startsWith(QLatin1String("xmlns:")))
                attribute.uri = resolve(attribute.name.left(c));
        }
        if (tag.empty)
            open.removeLast();
        i = tag.end;
        tags.append(std::move(tag));
    }
    markup.complete = true;
    return markup;
}

struct Span
{
    qsizetype start = 0;
    qsizetype length = 0;
};

// Where the values of the XMP basic Rating properties are, in the order of the
// text: an attribute's value, or an element's text up to its own end tag.
// Absent when a rating element holds anything but text, which could not be
// changed in place.
std::optional<QList<Span>> ratingValues(const QString &text, const QList<StartTag> &tags)
{
    const auto isRating = [](const QString &name, const QString &uri) {
        return uri == QLatin1String(xmpNamespace) && localName(name) == QLatin1String("Rating");
    };
    QList<Span> values;
    for (const StartTag &tag : tags) {
        for (const Attribute &attribute : tag.attributes) {
            if (isRating(attribute.name, attribute.uri))
                values.append({attribute.valueStart, attribute.valueLength});
        }
        if (!isRating(tag.name, tag.uri))
            continue;
        if (tag.empty)
            return std::nullopt;
        const qsizetype next = text.indexOf(u'<', tag.end);
        if (next < 0 || !QStringView(text).mid(next).startsWith(QString(QStringLiteral("</") + tag.name)))
            return std::nullopt;
        qsizetype at = next + 2 + tag.name.size();
        while (at < text.size() && isXmlSpace(text[at]))
            ++at;
        if (at >= text.size() || text[at] != u'>')
            return std::nullopt;
        values.append({tag.end, next - tag.end});
    }
    return values;
}

// Whether the text binds one of the prefixes this program reads and writes
// properties under to a namespace other than its own. The XMP library keeps
// one table of prefixes for the whole process and lets a packet rebind them:
// after reading such a text, "Xmp.xmp.Rating" would mean the other namespace
// in every later read and write.
bool rebindsKnownPrefix(const QString &text)
{
    static const QRegularExpression declaration(
        QStringLiteral(R"re(xmlns:(xmp|tiff|rdf|x)\s*=\s*(?:"([^"]*)"|'([^']*)'))re"));
    for (auto it = declaration.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        const QString prefix = m.captured(1);
        const QString value = m.capturedStart(2) >= 0 ? m.captured(2) : m.captured(3);
        const char *own = prefix == QLatin1String("xmp")    ? xmpNamespace
                          : prefix == QLatin1String("tiff") ? "http://ns.adobe.com/tiff/1.0/"
                          : prefix == QLatin1String("rdf")  ? rdfNamespace
                                                            : "adobe:ns:meta/";
        if (value != QLatin1String(own))
            return true;
    }
    return false;
}

// Every property of a parsed packet, key to value text.
std::optional<QMap<QString, QString>> parsedProperties(const QString &text)
{
    const auto parsing = Metadata::lockParsing();
    if (rebindsKnownPrefix(text))
        return std::nullopt;
    try {
        Exiv2::XmpData xmp;
        if (Exiv2::XmpParser::decode(xmp, text.toStdString()) != 0)
            return std::nullopt;
        QMap<QString, QString> properties;
        for (const Exiv2::Xmpdatum &datum : xmp)
            properties.insert(QString::fromStdString(datum.key()), QString::fromStdString(datum.toString()));
        return properties;
    } catch (...) {
        return std::nullopt;
    }
}

// A new sidecar takes its photo's read and write bits (newMode).
Outcome writeSidecar(int n, const QString &sidecar, mode_t newMode)
{
    const SidecarRead read = readSidecar(sidecar);
    QString text;
    std::optional<SafeFile::FileStamp> expected;
    switch (read.state) {
    case SidecarRead::State::unreadable:
        // Never replaced by a fresh packet: it may hold another tool's work.
        return read.failure;
    case SidecarRead::State::absent:
        // No file is created to say "unrated".
        if (n == 0)
            return std::nullopt;
        text = QString::fromUtf8(sidecarTemplate(n));
        break;
    case SidecarRead::State::text: {
        if (read.text.trimmed().isEmpty()) {
            text = QString::fromUtf8(sidecarTemplate(n));
        } else {
            Failure failure;
            const auto patched = patchSidecarText(read.text, n, &failure);
            if (!patched)
                return failure;
            if (*patched == read.text)
                return std::nullopt;
            text = *patched;
        }
        expected = read.stamp;
        break;
    }
    }
    if (!ratingInSidecarText(text) || *ratingInSidecarText(text) != n)
        return Failure::of(Failure::Kind::verify);

    Failure failure;
    auto replacement = SafeFile::Replacement::begin(sidecar, "xmp", expected, &failure, newMode);
    if (!replacement)
        return failure;
    QByteArray bytes = text.toUtf8();
    if (read.hasBom)
        bytes.prepend("\xEF\xBB\xBF");
    if (const Outcome written = replacement->writeAndSync(bytes))
        return written;
    // The file on disk must read back as what was meant.
    const SidecarRead back = readSidecar(replacement->temporaryPath());
    if (back.state != SidecarRead::State::text || ratingInSidecarText(back.text) != n)
        return Failure::of(Failure::Kind::verify);
    if (!SafeFile::step("verified"))
        return Failure::of(Failure::Kind::aborted);
    return replacement->commit();
}

// Raised by setRatingIn for a packet exiv2 could not read.
struct UnreadablePacket : std::exception
{
    const char *what() const noexcept override { return "unreadable XMP packet"; }
};

// Sets the rating in exiv2's model of a photo, an edit for ExivEdit::rewrite.
// The model of a packet exiv2 cannot read (a document type declaration, broken
// markup) is empty, and rewrite marks such a packet to be written back as it
// was: the rating set there would be lost, and set in a new packet it would
// replace the title, the creator and every other property. Such a photo is
// left as it is.
void setRatingIn(Exiv2::Image &image, int n)
{
    if (image.writeXmpFromPacket())
        throw UnreadablePacket();
    image.xmpData()["Xmp.xmp.Rating"] = std::to_string(n);
}

// The rewritten bytes of a photo with its rating set, or why not.
std::optional<QByteArray> ratedBytes(const QByteArray &original, int n, Failure *failure)
{
    // Decided by the content: a PNG under another name must not reach exiv2's
    // PNG writer either.
    if (original.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8))) {
        const auto chunks = PngChunks::parse(original);
        if (!chunks) {
            *failure = Failure::of(Failure::Kind::unrecognised);
            return std::nullopt;
        }
        const QByteArray existing = PngChunks::xmpPacket(original, *chunks);
        const auto packet = ExivEdit::packetWithRating(existing.toStdString(), n);
        if (!packet) {
            *failure = Failure::of(Failure::Kind::unrecognised);
            return std::nullopt;
        }
        return PngChunks::withXmpPacket(original, *chunks, QByteArray::fromStdString(*packet));
    }
    QString error;
    bool unreadable = false;
    auto bytes = ExivEdit::rewrite(original, [n, &unreadable](Exiv2::Image &image) {
        try {
            setRatingIn(image, n);
        } catch (const UnreadablePacket &) {
            unreadable = true;
            throw;
        }
    }, &error);
    if (!bytes)
        *failure = unreadable       ? Failure::of(Failure::Kind::unrecognised)
                   : error.isEmpty() ? Failure::of(Failure::Kind::unsupported)
                                     : Failure::withReason(Failure::Kind::unsupported, error);
    return bytes;
}

Outcome writeInFile(int n, const QString &photo)
{
    const QString suffix = suffixOf(photo);
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) {
        const auto verify = [n](const QString &temporary) { return embeddedRating(temporary) == n; };
        // The XMP segment alone is replaced: every other byte of the header
        // (EXIF with the camera's maker note, IPTC, the profile) stays as it was.
        auto done = ExivEdit::replaceJpegHeadBytes(
            photo, "rating",
            [n](const QByteArray &header, const ExivEdit::JpegScan &scan) -> std::optional<QByteArray> {
                const QByteArray head = header.left(scan.start);
                const auto segments = JpegSegments::parse(head);
                if (!segments)
                    return std::nullopt;
                const QByteArray existing = JpegSegments::xmpPacket(head, *segments);
                const auto packet = ExivEdit::packetWithRating(existing.toStdString(), n);
                if (!packet)
                    return std::nullopt;
                return JpegSegments::withXmpPacket(head, *segments, QByteArray::fromStdString(*packet));
            },
            verify);
        if (!done) // a header this cannot edit in place: exiv2 rewrites it
            done = ExivEdit::replaceJpegHead(
                photo, "rating", [n](Exiv2::Image &image) { setRatingIn(image, n); }, verify);
        if (done)
            return *done;
    }
    Failure failure;
    const auto read = SafeFile::readWhole(photo, &failure);
    if (!read)
        return failure;
    const auto bytes = ratedBytes(read->bytes, n, &failure);
    if (!bytes)
        return failure;
    auto replacement = SafeFile::Replacement::begin(photo, "rating", read->stamp, &failure);
    if (!replacement)
        return failure;
    if (const Outcome written = replacement->writeAndSync(*bytes))
        return written;
    if (embeddedRating(replacement->temporaryPath()) != n)
        return Failure::of(Failure::Kind::verify);
    if (!SafeFile::step("verified"))
        return Failure::of(Failure::Kind::aborted);
    return replacement->commit();
}

bool sidecarHasRating(const QString &sidecar)
{
    const SidecarRead read = readSidecar(sidecar);
    return read.state == SidecarRead::State::text && ratingInSidecarText(read.text);
}

std::optional<int> sidecarRating(const QString &sidecar)
{
    const SidecarRead read = readSidecar(sidecar);
    if (read.state != SidecarRead::State::text)
        return std::nullopt;
    return ratingInSidecarText(read.text);
}

} // namespace

int clampRating(int n)
{
    return std::clamp(n, 0, 5);
}

QString starText(int n)
{
    n = clampRating(n);
    return QString(n, QChar(0x2605)) + QString(5 - n, QChar(0x2606));
}

QString badgeText(int n)
{
    return QString(clampRating(n), QChar(0x2605));
}

QString sidecarPath(const QString &photo)
{
    const QFileInfo info(photo);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString base = dot > 0 ? name.left(dot) : name;
    return sidecarOf(info.dir().filePath(base));
}

bool isRawExtension(const QString &extension)
{
    // The program's camera-raw list (the folder model keeps the same ten).
    static const QSet<QString> raw{QStringLiteral("dng"), QStringLiteral("arw"), QStringLiteral("cr2"),
                                   QStringLiteral("cr3"), QStringLiteral("nef"), QStringLiteral("raf"),
                                   QStringLiteral("orf"), QStringLiteral("rw2"), QStringLiteral("srw"),
                                   QStringLiteral("pef")};
    return raw.contains(extension.toLower());
}

bool isInFileExtension(const QString &extension)
{
    static const QSet<QString> inFile{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("heic"),
                                      QStringLiteral("heif"), QStringLiteral("png"), QStringLiteral("tif"),
                                      QStringLiteral("tiff"), QStringLiteral("dng")};
    return inFile.contains(extension.toLower());
}

bool isWrittenInFile(const QString &extension)
{
    const QString e = extension.toLower();
    return isInFileExtension(e) && e != QLatin1String("heic") && e != QLatin1String("heif");
}

bool isSidecarFirst(const QString &extension)
{
    return !isWrittenInFile(extension);
}

bool sidecarBelongsToRaw(const QString &sidecar, const QString &photo)
{
    static const char *const raw[] = {"dng", "arw", "cr2", "cr3", "nef", "raf", "orf", "rw2", "srw", "pef"};
    const QFileInfo info(sidecar);
    const QString stem = info.dir().filePath(info.completeBaseName());
    const QString photoPath = QFileInfo(photo).absoluteFilePath();
    for (const char *ext : raw) {
        for (const QString &e : {QString::fromLatin1(ext), QString::fromLatin1(ext).toUpper()}) {
            const QFileInfo candidate(stem + u'.' + e);
            if (candidate.exists() && candidate.absoluteFilePath() != photoPath)
                return true;
        }
    }
    return false;
}

QByteArray sidecarTemplate(int n)
{
    return QByteArray("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"Glanto\">\n"
                      " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                      "  <rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"")
           + QByteArray::number(clampRating(n))
           + QByteArray("\"/>\n"
                        " </rdf:RDF>\n"
                        "</x:xmpmeta>\n");
}

SidecarRead readSidecar(const QString &path)
{
    SidecarRead result;
    Failure failure;
    // Sidecars are small; a huge one is not a sidecar we would rewrite.
    const auto read = SafeFile::readWhole(path, &failure, 16 * 1024 * 1024);
    if (!read) {
        result.state = failure.kind == Failure::Kind::gone ? SidecarRead::State::absent : SidecarRead::State::unreadable;
        result.failure = failure.kind == Failure::Kind::notRegular ? failure : Failure::of(Failure::Kind::unreadable);
        return result;
    }
    QByteArray bytes = read->bytes;
    result.stamp = read->stamp;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        result.hasBom = true;
        bytes.remove(0, 3);
    }
    // UTF-16 and UTF-32 text of ASCII characters is valid UTF-8 full of NULs.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder(bytes);
    if (decoder.hasError() || bytes.contains('\0')) {
        result.state = SidecarRead::State::unreadable;
        result.failure = Failure::of(Failure::Kind::unreadable);
        return result;
    }
    result.state = SidecarRead::State::text;
    result.text = std::move(text);
    return result;
}

std::optional<int> ratingInSidecarText(const QString &text)
{
    // The usual form, a one-digit rating in the markup, is read without the XMP
    // library: the first one under a prefix bound to the XMP basic namespace
    // where it stands.
    const auto values = ratingValues(text, markupOf(text).tags);
    if (values && !values->isEmpty()) {
        static const QRegularExpression digit(QStringLiteral(R"re(\A-?\d\z)re"));
        const QString value = text.mid(values->first().start, values->first().length).trimmed();
        if (digit.match(value).hasMatch())
            return clampRating(value.toInt());
    }
    if (!text.contains(QLatin1String("Rating")))
        return std::nullopt;
    const auto properties = parsedProperties(text);
    if (!properties)
        return std::nullopt;
    const auto found = properties->constFind(QStringLiteral("Xmp.xmp.Rating"));
    if (found == properties->constEnd())
        return std::nullopt;
    const auto value = ExivEdit::parseRatingValue(*found);
    return value ? std::optional<int>(clampRating(*value)) : std::nullopt;
}

std::optional<QString> patchSidecarText(const QString &text, int n, Failure *failure)
{
    n = clampRating(n);
    *failure = Failure::of(Failure::Kind::unrecognised);
    const auto before = parsedProperties(text);
    if (!before)
        return std::nullopt;
    // Only the markup is changed: a rating written in a comment, or in junk
    // around the packet, stays as it is.
    const Markup markup = markupOf(text);
    if (!markup.complete)
        return std::nullopt;
    const auto values = ratingValues(text, markup.tags);
    if (!values)
        return std::nullopt;

    QString patched = text;
    if (!values->isEmpty()) {
        // From the last to the first, so that the earlier positions still hold.
        for (auto it = values->crbegin(); it != values->crend(); ++it)
            patched.replace(it->start, it->length, QString::number(n));
    } else {
        const auto description = std::find_if(markup.tags.cbegin(), markup.tags.cend(), [](const StartTag &tag) {
            return tag.uri == QLatin1String(rdfNamespace) && localName(tag.name) == QLatin1String("Description");
        });
        if (description == markup.tags.cend())
            return std::nullopt;
        // Declared on the description itself unless its own start tag already
        // does: a declaration elsewhere may not be in scope here.
        QString insertion = QStringLiteral(" xmp:Rating=\"%1\"").arg(n);
        const bool declared = std::any_of(description->attributes.cbegin(), description->attributes.cend(),
                                          [](const Attribute &a) { return a.name == QLatin1String("xmlns:xmp"); });
        if (!declared)
            insertion += QStringLiteral(" xmlns:xmp=\"%1\"").arg(QLatin1String(xmpNamespace));
        patched.insert(description->nameEnd, insertion);
    }

    // The patched text must parse, carry n, and keep every other property.
    const auto after = parsedProperties(patched);
    if (!after)
        return std::nullopt;
    auto withoutRating = [](QMap<QString, QString> properties) {
        properties.remove(QStringLiteral("Xmp.xmp.Rating"));
        return properties;
    };
    const auto rating = after->constFind(QStringLiteral("Xmp.xmp.Rating"));
    if (rating == after->constEnd() || ExivEdit::parseRatingValue(*rating) != n
        || withoutRating(*after) != withoutRating(*before))
        return std::nullopt;
    *failure = {};
    return patched;
}

std::optional<int> embeddedRating(const QString &path)
{
    // The XMP rating, else the EXIF one that cameras rating in the camera
    // (Fujifilm, Sony) and Windows write: 0-5 in the same scale.
    const QString xmpKey = QStringLiteral("Xmp.xmp.Rating");
    const QString exifKey = QStringLiteral("Exif.Image.Rating");
    const auto tags = Metadata::readMetadata(path, {xmpKey, exifKey});
    if (!tags)
        return std::nullopt;
    auto value = tags->value(xmpKey);
    if (!value)
        value = tags->value(exifKey);
    if (!value)
        return std::nullopt;
    // A value that is there but not a number counts as unrated, as other tools read it.
    return clampRating(ExivEdit::parseRatingValue(*value).value_or(0));
}

int readRating(const QString &photo)
{
    // The shared sidecar first, then darktable's and digiKam's "photo.NEF.xmp"
    // of this one file.
    const auto fromSidecars = [&photo]() -> std::optional<int> {
        if (const auto shared = sidecarRating(sidecarPath(photo)))
            return shared;
        if (const std::optional<QString> own = wholeNameSidecar(photo))
            return sidecarRating(*own);
        return std::nullopt;
    };
    if (isSidecarFirst(suffixOf(photo))) {
        if (const auto fromSidecar = fromSidecars())
            return *fromSidecar;
        if (const auto inFile = embeddedRating(photo))
            return *inFile;
        return 0;
    }
    if (const auto inFile = embeddedRating(photo))
        return *inFile;
    return fromSidecars().value_or(0);
}

Outcome writeRating(int n, const QString &photo)
{
    n = clampRating(n);
    // A photo's own XMP packet, read by the library while showing it, may have
    // rebound "xmp" to another namespace for the whole process; the rating
    // must be written in the real one.
    try {
        const auto parsing = Metadata::lockParsing();
        Exiv2::XmpProperties::registerNs(xmpNamespace, "xmp");
    } catch (...) {
        return Failure::of(Failure::Kind::unsupported);
    }
    const QString target = SafeFile::writablePath(photo);
    if (target.isEmpty())
        return Failure::of(Failure::Kind::gone);
    const QString sidecar = sidecarPath(photo);
    const std::optional<QString> ownSidecar = wholeNameSidecar(photo);
    const SafeFile::PathLocks::Guard guard =
        SafeFile::PathLocks::lock(ownSidecar ? QStringList{target, sidecar, *ownSidecar} : QStringList{target, sidecar});

    // The photo must still be there: a rating queued before a rename fails
    // rather than leave an orphan sidecar under the old name.
    Failure failure;
    if (!SafeFile::stampOf(target, &failure))
        return failure;
    const mode_t sidecarMode = SafeFile::newFileModeFor(target);

    Outcome outcome;
    if (isWrittenInFile(suffixOf(photo))) {
        outcome = writeInFile(n, target);
        if (!outcome) {
            if (sidecarHasRating(sidecar) && !sidecarBelongsToRaw(sidecar, photo)) {
                if (const Outcome side = writeSidecar(n, sidecar, sidecarMode))
                    qCWarning(lcSafeFile, "rating sidecar %s left as it was: %s", qUtf8Printable(sidecar),
                              qUtf8Printable(side->reason));
            }
        } else {
            switch (outcome->kind) {
            case Failure::Kind::gone:
            case Failure::Kind::notRegular:
            case Failure::Kind::changed:
            case Failure::Kind::aborted:
                return outcome;
            default:
                // A read-only photo, or one exiv2 cannot rewrite, is rated in its
                // sidecar instead; but a rating the file holds itself is read
                // before any sidecar, so there the sidecar would change nothing
                // and the file's own failure is the answer.
                if (const auto own = embeddedRating(target); own && *own != n)
                    return outcome;
                qCWarning(lcSafeFile, "rating %s in its sidecar: %s", qUtf8Printable(photo),
                          qUtf8Printable(outcome->reason));
                outcome = writeSidecar(n, sidecar, sidecarMode);
                if (outcome)
                    outcome->path = sidecar;
            }
        }
    } else {
        outcome = writeSidecar(n, sidecar, sidecarMode);
        if (outcome)
            outcome->path = sidecar;
    }
    if (outcome)
        return outcome;
    // The sidecar darktable or digiKam keeps for this one file says the same,
    // when it holds a rating.
    if (ownSidecar && sidecarHasRating(*ownSidecar)) {
        if (const Outcome side = writeSidecar(n, *ownSidecar, sidecarMode))
            qCWarning(lcSafeFile, "rating sidecar %s left as it was: %s", qUtf8Printable(*ownSidecar),
                      qUtf8Printable(side->reason));
    }
    if (readRating(photo) != n)
        return Failure::of(Failure::Kind::verify);
    return std::nullopt;
}

} // namespace XmpRating
