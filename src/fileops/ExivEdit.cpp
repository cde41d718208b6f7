#include "fileops/ExivEdit.h"

namespace ExivEdit {

namespace {

// The header of a JPEG up to and including its first scan header, read in
// growing steps; with where that scan starts.
struct Header
{
    QByteArray bytes;
    JpegScan scan;
};
std::optional<Header> readHeader(const SafeFile::OpenFile &file)
{
    // Camera headers (EXIF with a thumbnail, maker notes, MPF previews) fit in
    // the first 256 KiB almost always; larger ones are read in growing steps.
    const qint64 size = file.stamp().size;
    for (qint64 want = 256 * 1024;; want *= 4) {
        const auto read = file.read(0, std::min(want, size));
        if (!read)
            return std::nullopt;
        if (const auto scan = jpegFirstScan(*read))
            return Header{*read, *scan};
        if (want >= size || want > (qint64(64) << 20))
            return std::nullopt;
    }
}

} // namespace

std::optional<SafeFile::Outcome> replaceJpegHeadBytes(const QString &target, const char *purpose,
                                                      const HeadEdit &newHead,
                                                      const std::function<bool(const QString &temporary)> &verify)
{
    using SafeFile::Failure;
    Failure failure;
    const auto file = SafeFile::OpenFile::open(target, &failure);
    if (!file)
        return SafeFile::Outcome(failure);
    const auto header = readHeader(*file);
    if (!header)
        return std::nullopt;
    const auto head = newHead(header->bytes, header->scan);
    if (!head)
        return std::nullopt;

    auto replacement = SafeFile::Replacement::begin(target, purpose, file->stamp(), &failure);
    if (!replacement)
        return SafeFile::Outcome(failure);
    if (const SafeFile::Outcome written = replacement->writeAndSync(*head, *file, header->scan.start))
        return written;
    if (!verify(replacement->temporaryPath()))
        return SafeFile::Outcome(Failure::of(Failure::Kind::verify));
    if (!SafeFile::step("verified"))
        return SafeFile::Outcome(Failure::of(Failure::Kind::aborted));
    return replacement->commit();
}

std::optional<SafeFile::Outcome> replaceJpegHead(const QString &target, const char *purpose,
                                                 const std::function<void(Exiv2::Image &)> &edit,
                                                 const std::function<bool(const QString &temporary)> &verify)
{
    return replaceJpegHeadBytes(
        target, purpose,
        [&edit](const QByteArray &header, const JpegScan &scan) {
            QString error;
            return jpegHeadEdited(header, scan, edit, &error);
        },
        verify);
}

} // namespace ExivEdit
