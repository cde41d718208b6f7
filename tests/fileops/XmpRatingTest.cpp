// Star ratings on real files: every in-file format round-trips with its pixels
// untouched, sidecars keep other tools' properties byte for byte, and sidecars
// the program cannot read or understand are never replaced.

#include "fileops/JpegSegments.h"
#include "fileops/PngChunks.h"
#include "fileops/RotationSave.h"
#include "fileops/XmpRating.h"

#include "FileOpsTestSupport.h"

#include <QProcess>
#include <QRegularExpression>

#include <sys/stat.h>

using XmpRating::readRating;
using XmpRating::writeRating;

namespace {

QByteArray chunkData(const QByteArray &png, const char *type)
{
    const auto chunks = PngChunks::parse(png);
    if (!chunks)
        return {};
    for (const auto &c : *chunks) {
        if (c.type == type)
            return png.mid(c.offset, c.end() - c.offset);
    }
    return {};
}

// The changed bytes between two texts must be the rating value, or the
// rating attribute (with its namespace) inserted.
void expectOnlyRatingChanged(const QByteArray &before, const QByteArray &after, int n)
{
    qsizetype prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix
           && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const QString removed = QString::fromUtf8(before.mid(prefix, before.size() - prefix - suffix));
    const QString added = QString::fromUtf8(after.mid(prefix, after.size() - prefix - suffix));
    const QRegularExpression value(QStringLiteral("^-?[0-9.]*$"));
    const QRegularExpression inserted(QStringLiteral("^ xmp:Rating=\"%1\"( xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\")?$").arg(n));
    const bool valueChanged = value.match(removed).hasMatch() && QRegularExpression(QStringLiteral("^[0-9]*$")).match(added).hasMatch();
    // An insertion after a space may be reported shifted by that space.
    const QString insertedText = added.startsWith(u' ') ? added : u' ' + added.trimmed();
    const bool attributeAdded = removed.isEmpty() && inserted.match(insertedText).hasMatch()
                                && (added.startsWith(u' ') || added.endsWith(u' '));
    EXPECT_TRUE(valueChanged || attributeAdded) << "removed [" << removed.toStdString() << "] added ["
                                                << added.toStdString() << "]";
}

class RatingFiles : public ::testing::Test
{
protected:
    QTemporaryDir dir;
};

} // namespace

TEST(RatingRules, SidecarNamesAndTemplate)
{
    EXPECT_EQ(XmpRating::sidecarPath(QStringLiteral("/a/IMG_1234.CR2")), QStringLiteral("/a/IMG_1234.xmp"));
    EXPECT_EQ(XmpRating::sidecarPath(QStringLiteral("/a/b.c.jpg")), QStringLiteral("/a/b.c.xmp"));
    EXPECT_EQ(XmpRating::sidecarTemplate(4),
              QByteArray("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"Glanto\">\n"
                         " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                         "  <rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\"/>\n"
                         " </rdf:RDF>\n"
                         "</x:xmpmeta>\n"));
    EXPECT_TRUE(XmpRating::isSidecarFirst(QStringLiteral("heic")));
    EXPECT_TRUE(XmpRating::isSidecarFirst(QStringLiteral("avif")));
    EXPECT_FALSE(XmpRating::isSidecarFirst(QStringLiteral("dng")));
}

TEST(RatingRules, SidecarTextReadsUsualAndOtherForms)
{
    const auto t = [](const char *body) {
        return QStringLiteral("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/"
                              "22-rdf-syntax-ns#\">%1</rdf:RDF></x:xmpmeta>")
            .arg(QLatin1String(body));
    };
    EXPECT_EQ(XmpRating::ratingInSidecarText(t("<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"-1\"/>")), 0);
    EXPECT_EQ(XmpRating::ratingInSidecarText(t("<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"><xmp:Rating> 4 </xmp:Rating></rdf:Description>")), 4);
    EXPECT_EQ(XmpRating::ratingInSidecarText(t("<rdf:Description xmlns:xap=\"http://ns.adobe.com/xap/1.0/\" xap:Rating='5.0'/>")), 5);
    EXPECT_EQ(XmpRating::ratingInSidecarText(t("<rdf:Description rdf:about=\"\"/>")), std::nullopt);
}

TEST(RatingRules, PatcherUpdatesOtherFormsInPlaceAndRefusesTheUnknown)
{
    const QString head = QStringLiteral("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">");
    const QString tail = QStringLiteral("</rdf:RDF></x:xmpmeta>");
    SafeFile::Failure failure;
    // Single quotes, another prefix, a decimal value: changed where they are, once.
    for (const char *form : {"<rdf:Description xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='2'/>",
                             "<rdf:Description xmlns:xap=\"http://ns.adobe.com/xap/1.0/\" xap:Rating=\"2\"/>",
                             "<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"5.0\"/>",
                             "<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"><xmp:Rating>2</xmp:Rating></rdf:Description>"}) {
        const QString text = head + QLatin1String(form) + tail;
        const auto patched = XmpRating::patchSidecarText(text, 3, &failure);
        ASSERT_TRUE(patched) << form;
        EXPECT_EQ(patched->count(QLatin1String("Rating")), text.count(QLatin1String("Rating"))) << form;
        EXPECT_EQ(XmpRating::ratingInSidecarText(*patched), 3) << form;
        expectOnlyRatingChanged(text.toUtf8(), patched->toUtf8(), 3);
    }
    // A rating of another namespace (percent ratings) is not ours to change.
    const QString microsoft = head
        + QStringLiteral("<rdf:Description xmlns:MicrosoftPhoto=\"http://ns.microsoft.com/photo/1.0/\" MicrosoftPhoto:Rating=\"75\"/>")
        + tail;
    const auto added = XmpRating::patchSidecarText(microsoft, 4, &failure);
    ASSERT_TRUE(added);
    EXPECT_TRUE(added->contains(QLatin1String("MicrosoftPhoto:Rating=\"75\"")));
    EXPECT_EQ(XmpRating::ratingInSidecarText(*added), 4);

    // Not XMP, or XMP without a description to hold the property: refused.
    EXPECT_FALSE(XmpRating::patchSidecarText(QStringLiteral("hello, world"), 3, &failure));
    EXPECT_EQ(failure.kind, SafeFile::Failure::Kind::unrecognised);
    EXPECT_FALSE(XmpRating::patchSidecarText(head + tail, 3, &failure));
    EXPECT_FALSE(XmpRating::patchSidecarText(head + QStringLiteral("<rdf:Description xmp:Rating=\"2\">") + tail, 3, &failure));
}

TEST_F(RatingFiles, JpegRoundTripKeepsPixelsAndScanData)
{
    SKIP_WITHOUT_CORPUS("exif/Canon_40D.jpg");
    const QString photo = copyCorpus(dir, QStringLiteral("exif/Canon_40D.jpg"), QStringLiteral("a.jpg"));
    const QImage before = shown(photo);
    const QByteArray original = bytesOf(photo);
    ASSERT_FALSE(writeRating(4, photo));
    EXPECT_EQ(readRating(photo), 4);
    EXPECT_EQ(shown(photo), before);
    // The compressed picture is copied, not re-encoded: the scan data is the same bytes.
    const QByteArray after = bytesOf(photo);
    // (The last start-of-scan: an EXIF thumbnail has one of its own.)
    const qsizetype scan = original.lastIndexOf("\xFF\xDA");
    ASSERT_GT(scan, 0);
    EXPECT_TRUE(after.endsWith(original.mid(scan)));
    ASSERT_FALSE(writeRating(0, photo));
    EXPECT_EQ(readRating(photo), 0);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("a.xmp"))));
    EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("a.jpg")});
}

TEST_F(RatingFiles, PngRoundTripLeavesExifChunkUntouched)
{
    SKIP_WITHOUT_CORPUS("exif/exif.png");
    const QString photo = copyCorpus(dir, QStringLiteral("exif/exif.png"), QStringLiteral("p.png"));
    const QByteArray exifBefore = chunkData(bytesOf(photo), "eXIf");
    ASSERT_FALSE(exifBefore.isEmpty());
    const QImage before = shown(photo);
    ASSERT_FALSE(writeRating(5, photo));
    EXPECT_EQ(readRating(photo), 5);
    ASSERT_FALSE(writeRating(2, photo));
    EXPECT_EQ(readRating(photo), 2);
    const QByteArray after = bytesOf(photo);
    EXPECT_TRUE(PngChunks::parse(after));
    EXPECT_EQ(chunkData(after, "eXIf"), exifBefore);
    EXPECT_EQ(shown(photo), before);
    EXPECT_EQ(after.count("XML:com.adobe.xmp"), 1);
}

TEST_F(RatingFiles, PngMadeHereGetsOneXmpChunk)
{
    const QString photo = dir.filePath(QStringLiteral("made.png"));
    ASSERT_TRUE(patternImage(40, 30).save(photo, "PNG"));
    const QImage before = shown(photo);
    ASSERT_FALSE(writeRating(3, photo));
    EXPECT_EQ(readRating(photo), 3);
    EXPECT_EQ(shown(photo), before);
}

TEST_F(RatingFiles, TiffAndDngRoundTrip)
{
    SKIP_WITHOUT_CORPUS("formats/hopper.tif");
    SKIP_WITHOUT_CORPUS("raw/DNG.dng");
    for (const auto &[relative, name] : {std::pair{"formats/hopper.tif", "t.tif"}, std::pair{"raw/DNG.dng", "d.dng"}}) {
        const QString photo = copyCorpus(dir, QString::fromLatin1(relative), QString::fromLatin1(name));
        const QImage before = shown(photo);
        const auto header = Codec::probe(photo);
        ASSERT_FALSE(writeRating(3, photo)) << relative;
        EXPECT_EQ(readRating(photo), 3) << relative;
        EXPECT_EQ(shown(photo), before) << relative;
        const auto headerAfter = Codec::probe(photo);
        ASSERT_TRUE(header && headerAfter);
        EXPECT_EQ(headerAfter->storedSize, header->storedSize);
        EXPECT_FALSE(QFile::exists(XmpRating::sidecarPath(photo))) << relative;
    }
}

TEST_F(RatingFiles, HeicIsRatedInItsSidecarAndReadSidecarFirst)
{
    SKIP_WITHOUT_CORPUS("formats/sample.heic");
    const QString photo = copyCorpus(dir, QStringLiteral("formats/sample.heic"), QStringLiteral("h.heic"));
    const QByteArray original = bytesOf(photo);
    ASSERT_FALSE(writeRating(3, photo));
    EXPECT_EQ(bytesOf(dir.filePath(QStringLiteral("h.xmp"))), XmpRating::sidecarTemplate(3));
    EXPECT_EQ(readRating(photo), 3);
    ASSERT_FALSE(writeRating(1, photo));
    EXPECT_EQ(readRating(photo), 1);
    EXPECT_EQ(bytesOf(photo), original);
}

TEST_F(RatingFiles, AvifWithEmbeddedRatingReadsItsSidecarFirst)
{
    SKIP_WITHOUT_CORPUS("sidecar/avif_exif_xmp.avif");
    const QString photo = copyCorpus(dir, QStringLiteral("sidecar/avif_exif_xmp.avif"), QStringLiteral("v.avif"));
    EXPECT_EQ(readRating(photo), 5);
    ASSERT_FALSE(writeRating(2, photo));
    EXPECT_EQ(readRating(photo), 2);
}

TEST_F(RatingFiles, GoldenSidecarsKeepEveryOtherByte)
{
    SKIP_WITHOUT_CORPUS("raw/CanonRaw.cr2");
    for (const char *golden : {"sidecar/digikam-example.xmp", "sidecar/jPhotoTagger-example.xmp",
                               "sidecar/BlueSquare.xmp", "sidecar/IMG_5910.xmp"}) {
        SCOPED_TRACE(golden);
        const QString photo = copyCorpus(dir, QStringLiteral("raw/CanonRaw.cr2"), QStringLiteral("r.cr2"));
        const QString sidecar = copyCorpus(dir, QString::fromLatin1(golden), QStringLiteral("r.xmp"));
        const QByteArray before = bytesOf(sidecar);
        ASSERT_FALSE(writeRating(4, photo));
        const QByteArray after = bytesOf(sidecar);
        EXPECT_EQ(readRating(photo), 4);
        expectOnlyRatingChanged(before, after, 4);
        // Rated again: the value changes where it now is, nothing is added.
        ASSERT_FALSE(writeRating(1, photo));
        EXPECT_EQ(bytesOf(sidecar).size(), after.size());
        EXPECT_EQ(readRating(photo), 1);
    }
}

TEST_F(RatingFiles, SidecarExivCannotParseIsRefusedUntouched)
{
    // ExifTool's torture packet (a typed top-level node, one prefix bound to
    // two namespaces): the patch could not be checked, so it is not made.
    SKIP_WITHOUT_CORPUS("sidecar/XMP6.xmp");
    SKIP_WITHOUT_CORPUS("raw/CanonRaw.cr2");
    const QString photo = copyCorpus(dir, QStringLiteral("raw/CanonRaw.cr2"), QStringLiteral("r.cr2"));
    const QString sidecar = copyCorpus(dir, QStringLiteral("sidecar/XMP6.xmp"), QStringLiteral("r.xmp"));
    const QByteArray before = bytesOf(sidecar);
    EXPECT_EQ(readRating(photo), 2);
    const auto failure = writeRating(4, photo);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, SafeFile::Failure::Kind::unrecognised);
    EXPECT_EQ(bytesOf(sidecar), before);
    EXPECT_EQ(folderNames(dir.path()), (QStringList{QStringLiteral("r.cr2"), QStringLiteral("r.xmp")}));
}

// A JPEG whose own XMP exiv2 cannot read (a document type declaration, a
// broken packet) is left as it is and rated in its sidecar: rewritten from
// exiv2's empty model, its creator would have gone with the new rating. The
// same packet without the declaration is rated in the file and keeps it. A
// turn saved on such a photo keeps the packet too.
TEST_F(RatingFiles, AJpegWhosePacketCannotBeReadKeepsItsOtherProperties)
{
    const QString packet = QStringLiteral(
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmp:Rating=\"2\">"
        "<dc:creator><rdf:Seq><rdf:li>Jane Photographer</rdf:li></rdf:Seq></dc:creator>"
        "</rdf:Description></rdf:RDF></x:xmpmeta>");
    const auto jpegWith = [this](const QString &name, const QString &xmp) {
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(QColor(90, 120, 30));
        const QString path = dir.filePath(name);
        EXPECT_TRUE(picture.save(path, "JPEG"));
        QByteArray bytes = bytesOf(path);
        const QByteArray payload = QByteArray("http://ns.adobe.com/xap/1.0/", 29) + xmp.toUtf8();
        QByteArray segment("\xFF\xE1", 2);
        segment.append(char((payload.size() + 2) >> 8)).append(char((payload.size() + 2) & 0xFF)).append(payload);
        bytes.insert(2, segment);
        EXPECT_TRUE(writeBytes(path, bytes));
        return path;
    };
    const QString plain = jpegWith(QStringLiteral("plain.jpg"), packet);
    ASSERT_FALSE(writeRating(4, plain));
    EXPECT_EQ(readRating(plain), 4);
    EXPECT_TRUE(bytesOf(plain).contains("Jane Photographer"));

    const QString header = QStringLiteral("<?xml version=\"1.0\"?>");
    for (const QString &xmp : {header + QStringLiteral("<!DOCTYPE x:xmpmeta>") + packet,
                               header + QStringLiteral("<!DOCTYPE x [<!ENTITY a \"b\">]>") + packet,
                               packet.left(packet.size() - 40)}) {
        const QString photo = jpegWith(QStringLiteral("held.jpg"), xmp);
        const QByteArray before = bytesOf(photo);
        ASSERT_FALSE(writeRating(4, photo)) << xmp.toStdString();
        EXPECT_EQ(bytesOf(photo), before);
        EXPECT_EQ(readRating(photo), 4);
        EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("held.xmp"))));
        // A turn saved through exiv2 (the photo has no EXIF to change in
        // place) writes the packet back as it was.
        const qsizetype packetAt = before.indexOf(xmp.toUtf8());
        ASSERT_GT(packetAt, 0);
        ASSERT_TRUE(RotationSave::writeRotation(photo, 1).succeeded());
        EXPECT_EQ(RotationSave::fileOrientation(photo), 6);
        EXPECT_TRUE(bytesOf(photo).contains(xmp.toUtf8()));
        QFile::remove(photo);
        QFile::remove(dir.filePath(QStringLiteral("held.xmp")));
    }
    EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("plain.jpg")});
}

TEST_F(RatingFiles, UnreadableAndUtf16SidecarsAreLeftAloneWithAnError)
{
    SKIP_WITHOUT_CORPUS("raw/CanonRaw.cr2");
    const QString photo = copyCorpus(dir, QStringLiteral("raw/CanonRaw.cr2"), QStringLiteral("r.cr2"));
    const QString sidecar = dir.filePath(QStringLiteral("r.xmp"));

    // UTF-16 with a byte-order mark: a valid XMP file in another encoding.
    QByteArray utf16("\xFF\xFE", 2);
    const QString text = QString::fromUtf8(XmpRating::sidecarTemplate(2));
    utf16.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    ASSERT_TRUE(writeBytes(sidecar, utf16));
    auto failure = writeRating(4, photo);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, SafeFile::Failure::Kind::unreadable);
    EXPECT_FALSE(failure->reason.isEmpty());
    EXPECT_EQ(bytesOf(sidecar), utf16);

    // No permissions at all: not read, not replaced, even by a privileged user.
    ASSERT_TRUE(writeBytes(sidecar, XmpRating::sidecarTemplate(2)));
    ASSERT_EQ(::chmod(QFile::encodeName(sidecar).constData(), 0), 0);
    failure = writeRating(4, photo);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, SafeFile::Failure::Kind::unreadable);
    struct stat info;
    ASSERT_EQ(::stat(QFile::encodeName(sidecar).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0u);
    ::chmod(QFile::encodeName(sidecar).constData(), 0644);
    EXPECT_EQ(bytesOf(sidecar), XmpRating::sidecarTemplate(2));

    // Text that is not XMP is refused, not replaced by a fresh packet.
    ASSERT_TRUE(writeBytes(sidecar, "notes the photographer keeps here\n"));
    failure = writeRating(4, photo);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, SafeFile::Failure::Kind::unrecognised);
    EXPECT_EQ(bytesOf(sidecar), QByteArray("notes the photographer keeps here\n"));
    EXPECT_EQ(folderNames(dir.path()), (QStringList{QStringLiteral("r.cr2"), QStringLiteral("r.xmp")}));
}

TEST_F(RatingFiles, RawSidecarRulesAndZero)
{
    SKIP_WITHOUT_CORPUS("raw/CanonRaw.cr2");
    SKIP_WITHOUT_CORPUS("exif/Canon_40D.jpg");
    const QString raw = copyCorpus(dir, QStringLiteral("raw/CanonRaw.cr2"), QStringLiteral("IMG.CR2"));
    const QString sidecar = dir.filePath(QStringLiteral("IMG.xmp"));
    // 0 without a sidecar creates nothing.
    ASSERT_FALSE(writeRating(0, raw));
    EXPECT_FALSE(QFile::exists(sidecar));
    ASSERT_FALSE(writeRating(2, raw));
    EXPECT_EQ(bytesOf(sidecar), XmpRating::sidecarTemplate(2));
    ASSERT_FALSE(writeRating(0, raw));
    EXPECT_EQ(bytesOf(sidecar), XmpRating::sidecarTemplate(0));

    // A JPEG of the same name is rated in-file; the RAW's sidecar is not its to change.
    const QString jpeg = copyCorpus(dir, QStringLiteral("exif/Canon_40D.jpg"), QStringLiteral("IMG.jpg"));
    EXPECT_TRUE(XmpRating::sidecarBelongsToRaw(sidecar, jpeg));
    EXPECT_FALSE(XmpRating::sidecarBelongsToRaw(sidecar, raw));
    ASSERT_FALSE(writeRating(5, jpeg));
    EXPECT_EQ(XmpRating::embeddedRating(jpeg), 5);
    EXPECT_EQ(bytesOf(sidecar), XmpRating::sidecarTemplate(0));
}

TEST_F(RatingFiles, JpegWithItsOwnSidecarUpdatesBoth)
{
    SKIP_WITHOUT_CORPUS("sidecar/IMG_5910.jpg");
    const QString photo = copyCorpus(dir, QStringLiteral("sidecar/IMG_5910.jpg"), QStringLiteral("IMG_5910.jpg"));
    const QString sidecar = copyCorpus(dir, QStringLiteral("sidecar/IMG_5910.xmp"), QStringLiteral("IMG_5910.xmp"));
    ASSERT_FALSE(writeRating(1, photo));
    EXPECT_EQ(XmpRating::embeddedRating(photo), 1);
    EXPECT_EQ(XmpRating::ratingInSidecarText(QString::fromUtf8(bytesOf(sidecar))), 1);
}

// darktable and digiKam keep a sidecar per file, "photo.RAF.xmp": its rating
// is read when the photo has none of its own, and a new rating is written into
// it too, so the two programs never disagree.
TEST_F(RatingFiles, ASidecarOfTheWholeFileNameIsReadAndKeptInStep)
{
    const QString raw = dir.filePath(QStringLiteral("DSCF1.RAF"));
    ASSERT_TRUE(writeBytes(raw, "not decoded here"));
    const QString own = raw + QStringLiteral(".xmp");
    const QByteArray darktable =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
        " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "  <rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
        "    xmlns:darktable=\"http://darktable.sf.net/\" xmp:Rating=\"5\" darktable:xmp_version=\"5\"/>\n"
        " </rdf:RDF>\n</x:xmpmeta>\n";
    ASSERT_TRUE(writeBytes(own, darktable));
    EXPECT_EQ(readRating(raw), 5);
    ASSERT_FALSE(writeRating(2, raw));
    EXPECT_EQ(readRating(raw), 2);
    EXPECT_EQ(XmpRating::ratingInSidecarText(QString::fromUtf8(bytesOf(own))), 2);
    EXPECT_TRUE(bytesOf(own).contains("darktable:xmp_version=\"5\""));

    // A JPEG without a rating of its own reads its file's sidecar too.
    const QString jpeg = dir.filePath(QStringLiteral("p.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(64, 48), jpeg, ImageFormat::jpeg, 90));
    ASSERT_TRUE(writeBytes(jpeg + QStringLiteral(".xmp"), QByteArray(darktable).replace("xmp:Rating=\"5\"", "xmp:Rating=\"4\"")));
    EXPECT_EQ(readRating(jpeg), 4);

    // Sidecars spelt in capitals, as cameras and some tools write them, are
    // read and rated in place: no second sidecar beside them.
    const QString shot = dir.filePath(QStringLiteral("U.NEF"));
    ASSERT_TRUE(writeBytes(shot, "not decoded here"));
    ASSERT_TRUE(writeBytes(dir.filePath(QStringLiteral("U.XMP")), XmpRating::sidecarTemplate(3)));
    ASSERT_TRUE(writeBytes(dir.filePath(QStringLiteral("V.NEF")), "not decoded here"));
    ASSERT_TRUE(writeBytes(dir.filePath(QStringLiteral("V.NEF.XMP")), darktable));
    EXPECT_EQ(readRating(shot), 3);
    EXPECT_EQ(readRating(dir.filePath(QStringLiteral("V.NEF"))), 5);
    ASSERT_FALSE(writeRating(1, shot));
    ASSERT_FALSE(writeRating(4, dir.filePath(QStringLiteral("V.NEF"))));
    EXPECT_EQ(bytesOf(dir.filePath(QStringLiteral("U.XMP"))), XmpRating::sidecarTemplate(1));
    EXPECT_EQ(XmpRating::ratingInSidecarText(QString::fromUtf8(bytesOf(dir.filePath(QStringLiteral("V.NEF.XMP"))))), 4);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("U.xmp"))));
}

TEST_F(RatingFiles, ReadOnlyJpegIsRatedThroughItsSidecar)
{
    const QString photo = dir.filePath(QStringLiteral("ro.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(64, 48), photo, ImageFormat::jpeg, 90));
    const QByteArray original = bytesOf(photo);
    ASSERT_EQ(::chmod(QFile::encodeName(photo).constData(), 0444), 0);
    ASSERT_FALSE(writeRating(3, photo));
    EXPECT_EQ(bytesOf(photo), original);
    EXPECT_EQ(readRating(photo), 3);
    EXPECT_EQ(bytesOf(dir.filePath(QStringLiteral("ro.xmp"))), XmpRating::sidecarTemplate(3));

    // One that holds a rating of its own, which is read before any sidecar:
    // the failure is said with its reason, and no sidecar is left to disagree.
    const QString rated = dir.filePath(QStringLiteral("rated.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(64, 48), rated, ImageFormat::jpeg, 90));
    ASSERT_FALSE(writeRating(2, rated));
    ASSERT_EQ(::chmod(QFile::encodeName(rated).constData(), 0444), 0);
    const auto refused = writeRating(4, rated);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->kind, SafeFile::Failure::Kind::readOnly);
    EXPECT_EQ(readRating(rated), 2);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("rated.xmp"))));
}

// Cameras that rate in the camera (Fujifilm, Sony) and Windows keep the
// rating in EXIF: it is read when there is no XMP rating, which takes over
// once the photo is rated here.
TEST_F(RatingFiles, AnExifRatingIsReadWhenThereIsNoXmpOne)
{
    const QString photo = dir.filePath(QStringLiteral("camera.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(64, 48), photo, ImageFormat::jpeg, 90));
    ASSERT_EQ(QProcess::execute(QStringLiteral("exiv2"), {QStringLiteral("-M"), QStringLiteral("set Exif.Image.Rating 4"), photo}), 0);
    EXPECT_EQ(readRating(photo), 4);
    ASSERT_FALSE(writeRating(2, photo));
    EXPECT_EQ(readRating(photo), 2);
    ASSERT_FALSE(writeRating(0, photo));
    EXPECT_EQ(readRating(photo), 0);
}

// Rating a camera JPEG replaces its XMP segment and nothing else: the EXIF
// block with the maker note, IPTC, the profile and the picture stay byte for
// byte (a library's rewrite of the EXIF block lost maker notes).
TEST_F(RatingFiles, RatingACameraJpegChangesOnlyItsXmpSegment)
{
    const QString photo = dir.filePath(QStringLiteral("7d.jpg"));
    ASSERT_TRUE(QFile::copy(TestData::photo(QStringLiteral("exif/Canon EOS 7D.jpg")), photo));
    ::chmod(QFile::encodeName(photo).constData(), 0644);
    const auto segmentsOf = [](const QByteArray &bytes) {
        const QByteArray head = bytes.left(JpegSegments::firstScanStart(bytes).value_or(0));
        QList<QByteArray> kept;
        const auto segments = JpegSegments::parse(head);
        EXPECT_TRUE(segments.has_value());
        for (const JpegSegments::Segment &s : segments.value_or(QVector<JpegSegments::Segment>{}))
            if (!bytes.mid(s.payloadStart(), 28).startsWith("http://ns.adobe.com/xap/1.0/"))
                kept << bytes.mid(s.start, s.size);
        return kept;
    };
    const QByteArray original = bytesOf(photo);
    for (int n : {4, 0, 5}) {
        ASSERT_FALSE(writeRating(n, photo));
        EXPECT_EQ(readRating(photo), n);
        const QByteArray after = bytesOf(photo);
        EXPECT_EQ(segmentsOf(after), segmentsOf(original)) << n;
        EXPECT_TRUE(after.endsWith(original.mid(*JpegSegments::firstScanStart(original)))) << n;
    }

    // A JPEG without XMP gets a segment after its EXIF, the rest unchanged.
    const QString plain = dir.filePath(QStringLiteral("plain.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(64, 48), plain, ImageFormat::jpeg, 90));
    const QByteArray before = bytesOf(plain);
    const QByteArray plainHead = before.left(*JpegSegments::firstScanStart(before));
    ASSERT_TRUE(JpegSegments::xmpPacket(plainHead, *JpegSegments::parse(plainHead)).isEmpty());
    ASSERT_FALSE(writeRating(3, plain));
    EXPECT_EQ(readRating(plain), 3);
    EXPECT_EQ(segmentsOf(bytesOf(plain)), segmentsOf(before));
}

TEST_F(RatingFiles, WhatIsNotARegularFileIsNeverWritten)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.jpg")));
    auto failure = writeRating(3, dir.filePath(QStringLiteral("folder.jpg")));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, SafeFile::Failure::Kind::notRegular);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe.jpg"))).constData(), 0644), 0);
    failure = writeRating(3, dir.filePath(QStringLiteral("pipe.jpg")));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, SafeFile::Failure::Kind::notRegular);
    failure = writeRating(3, dir.filePath(QStringLiteral("missing.jpg")));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, SafeFile::Failure::Kind::gone);
    EXPECT_EQ(folderNames(dir.path()), (QStringList{QStringLiteral("folder.jpg"), QStringLiteral("pipe.jpg")}));

    // A RAW's sidecar that is a folder: the failure names the sidecar, not the
    // RAW (which is a regular file).
    const QString raw = dir.filePath(QStringLiteral("r.nef"));
    ASSERT_TRUE(writeBytes(raw, QByteArray("not really a raw")));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("r.xmp")));
    failure = writeRating(3, raw);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, SafeFile::Failure::Kind::notRegular);
    EXPECT_EQ(failure->path, dir.filePath(QStringLiteral("r.xmp")));
}

TEST_F(RatingFiles, ExivToolReadsWhatWeWrote)
{
    if (QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("command -v exiv2 >/dev/null")}) != 0)
        GTEST_SKIP() << "the exiv2 command-line tool is not installed";
    const QString photo = dir.filePath(QStringLiteral("x.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(64, 48), photo, ImageFormat::jpeg, 90));
    ASSERT_FALSE(writeRating(3, photo));
    QProcess exiv;
    exiv.start(QStringLiteral("exiv2"), {QStringLiteral("-q"), QStringLiteral("-K"), QStringLiteral("Xmp.xmp.Rating"),
                                         QStringLiteral("-Pv"), photo});
    ASSERT_TRUE(exiv.waitForFinished());
    EXPECT_EQ(exiv.readAllStandardOutput().trimmed(), QByteArray("3"));
}

// A sidecar that binds the prefix "xmp" to another namespace (found by
// fuzzing). Reading it must not teach the XMP library that "xmp" means that
// namespace for the rest of the session, or every rating written afterwards
// would land in it, unseen by other programs; and a rating put into it would
// not be the one other programs read, so the patcher refuses it.
TEST_F(RatingFiles, ASidecarRebindingTheXmpPrefixIsRefusedAndLeavesLaterWritesAlone)
{
    QFile hostile(QStringLiteral(GLANTO_TEST_DATA_DIR "/fuzz/xmp_sidecar/xmp-prefix-bound-elsewhere.xmp"));
    ASSERT_TRUE(hostile.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(hostile.readAll().mid(1)); // the first byte is the harness's rating
    ASSERT_TRUE(text.contains(QLatin1String("xmlns:xmp=\"http://ns.adobe.com>xap/1.0/\"")));

    SafeFile::Failure failure;
    EXPECT_FALSE(XmpRating::patchSidecarText(text, 3, &failure));
    EXPECT_EQ(failure.kind, SafeFile::Failure::Kind::unrecognised);
    EXPECT_FALSE(XmpRating::ratingInSidecarText(text));

    // The same packet inside a photo, read as the viewer reads its rating.
    const QString other = dir.filePath(QStringLiteral("other.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(64, 48), other, ImageFormat::jpeg, 90));
    QFile otherFile(other);
    ASSERT_TRUE(otherFile.open(QIODevice::ReadWrite));
    QByteArray jpeg = otherFile.readAll();
    const QByteArray payload = QByteArray("http://ns.adobe.com/xap/1.0/", 29) + text.toUtf8();
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char((payload.size() + 2) >> 8)).append(char((payload.size() + 2) & 0xFF)).append(payload);
    jpeg.insert(2, segment);
    otherFile.seek(0);
    ASSERT_EQ(otherFile.write(jpeg), jpeg.size());
    otherFile.close();
    readRating(other);

    const QString photo = dir.filePath(QStringLiteral("x.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(64, 48), photo, ImageFormat::jpeg, 90));
    ASSERT_FALSE(writeRating(2, photo));
    QFile written(photo);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    EXPECT_TRUE(bytes.contains("xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\""));
    EXPECT_FALSE(bytes.contains("ns.adobe.com>xap"));
    EXPECT_EQ(readRating(photo), 2);
}

// Every sidecar the fuzzer once tripped on (its first byte is the rating to
// set): either refused, or patched into text that reads back as that rating
// and that a second patch leaves as it is, so the rating can be changed again.
TEST(RatingRules, FuzzFoundSidecarsArePatchedOnceAndForAllOrRefused)
{
    const QDir dir(QStringLiteral(GLANTO_TEST_DATA_DIR "/fuzz/xmp_sidecar"));
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 2);
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        ASSERT_FALSE(bytes.isEmpty());
        const int n = XmpRating::clampRating(int(uchar(bytes[0]) % 9) - 1);
        const QString text = QString::fromUtf8(bytes.mid(1));
        SafeFile::Failure failure;
        const auto patched = XmpRating::patchSidecarText(text, n, &failure);
        if (!patched)
            continue;
        EXPECT_EQ(XmpRating::ratingInSidecarText(*patched), n);
        EXPECT_EQ(XmpRating::patchSidecarText(*patched, n, &failure), patched);
    }
}

// "xmp:Rating" may also be spelt in a comment, a processing instruction, junk
// before the packet, or under a prefix bound to another namespace. The XMP
// library reads none of those, so neither may the reader or the patcher: a
// patched sidecar once read back the rating in the junk (found by fuzzing).
TEST(RatingRules, OnlyMarkupOfTheXmpNamespaceHoldsTheRating)
{
    const QString head = QStringLiteral("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">");
    const QString tail = QStringLiteral("</rdf:RDF></x:xmpmeta>");
    const QString rated = QStringLiteral("<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\"/>");
    const QString unrated = QStringLiteral("<rdf:Description rdf:about=\"\"/>");
    struct Case
    {
        const char *what;
        QString text;
        std::optional<int> rating;
        bool patched;
    };
    const Case cases[] = {
        {"comment before the packet", QStringLiteral("<!-- axmp:Rating=\"2\" -->") + head + rated + tail, 4, true},
        {"processing instruction before the packet", QStringLiteral("<?junk xmp:Rating=\"2\"?>") + head + rated + tail, 4, true},
        {"comment beside the property", head + QStringLiteral("<!-- xmp:Rating=\"1\" -->") + rated + tail, 4, true},
        {"CDATA in another property",
         head + QStringLiteral("<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:source><![CDATA[<xmp:Rating>1</xmp:Rating>]]></dc:source></rdf:Description>") + rated + tail,
         4, true},
        {"a look-alike prefix of another namespace",
         head + QStringLiteral("<rdf:Description rdf:about=\"\" xmlns:myxmp=\"http://example.com/ns/\" myxmp:Rating=\"2\"/>") + tail,
         std::nullopt, true},
        {"the xmp prefix bound elsewhere where it stands",
         head + QStringLiteral("<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://purl.org/dc/elements/1.1/\" xmp:Rating=\"2\"/>") + tail,
         std::nullopt, false},
        {"the default namespace",
         head + QStringLiteral("<rdf:Description rdf:about=\"\"><Rating xmlns=\"http://ns.adobe.com/xap/1.0/\">2</Rating></rdf:Description>") + tail,
         2, true},
        {"junk text before the packet", QStringLiteral("garbage xmp:Rating=\"2\" garbage") + head + rated + tail, 4, false},
        {"an unclosed comment", head + rated + tail + QStringLiteral("<!-- xmp:Rating=\"2\""), 4, false},
        {"an unrated packet after a comment", QStringLiteral("<!-- xmp:Rating=\"2\" -->") + head + unrated + tail, std::nullopt, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(XmpRating::ratingInSidecarText(c.text), c.rating);
        SafeFile::Failure failure;
        const auto patched = XmpRating::patchSidecarText(c.text, 3, &failure);
        ASSERT_EQ(patched.has_value(), c.patched);
        if (!patched) {
            EXPECT_EQ(failure.kind, SafeFile::Failure::Kind::unrecognised);
            continue;
        }
        EXPECT_EQ(XmpRating::ratingInSidecarText(*patched), 3);
        expectOnlyRatingChanged(c.text.toUtf8(), patched->toUtf8(), 3);
        EXPECT_EQ(XmpRating::patchSidecarText(*patched, 3, &failure), patched);
    }
}

// Rated through the file: the fuzz-found sidecars with a rating in the junk
// before their packet are rated in the packet, the junk kept; junk that makes
// the text no XML at all is refused, and the sidecar left as it was.
TEST_F(RatingFiles, SidecarWithJunkBeforeItsPacketIsRatedInThePacketOrLeftAlone)
{
    const QString photo = dir.filePath(QStringLiteral("r.arw"));
    const QString sidecar = dir.filePath(QStringLiteral("r.xmp"));
    ASSERT_TRUE(writeBytes(photo, QByteArray("not really a raw file")));

    const QDir fuzzDir(QStringLiteral(GLANTO_TEST_DATA_DIR "/fuzz/xmp_sidecar"));
    const QStringList names = fuzzDir.entryList({QStringLiteral("xmp-rating-in-*")}, QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 2);
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray text = bytesOf(fuzzDir.filePath(name)).mid(1);
        ASSERT_TRUE(writeBytes(sidecar, text));
        EXPECT_EQ(readRating(photo), 4);
        ASSERT_FALSE(writeRating(3, photo));
        EXPECT_EQ(readRating(photo), 3);
        const QByteArray after = bytesOf(sidecar);
        const qsizetype packet = text.indexOf("<x:xmpmeta");
        EXPECT_EQ(after.left(packet), text.left(packet));
        expectOnlyRatingChanged(text, after, 3);
    }

    const QByteArray garbled = "garbage xmp:Rating=\"2\" " + XmpRating::sidecarTemplate(4);
    ASSERT_TRUE(writeBytes(sidecar, garbled));
    EXPECT_EQ(readRating(photo), 4);
    const auto failure = writeRating(3, photo);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, SafeFile::Failure::Kind::unrecognised);
    EXPECT_EQ(bytesOf(sidecar), garbled);
    EXPECT_EQ(readRating(photo), 4);
    EXPECT_EQ(folderNames(dir.path()), (QStringList{QStringLiteral("r.arw"), QStringLiteral("r.xmp")}));
}
