#include "fileops/ExivEdit.h"

namespace ExivEdit {

std::optional<SafeFile::Outcome> replaceJpegHead(const QString &target, const char *purpose,
                                                 const std::function<void(Exiv2::Image &)> &edit,
                                                 const std::function<bool(const QString &temporary)> &verify)
{
    using SafeFile::Failure;
    Failure failure;
    const auto file = SafeFile::OpenFile::open(target, &failure);
    if (!file)
        return SafeFile::Outcome(failure);
    // Camera headers (EXIF with a thumbnail, maker notes, MPF previews) fit in
    // the first 256 KiB almost always; larger ones are read in growing steps.
    const qint64 size = file->stamp().size;
    std::optional<JpegScan> scan;
    QByteArray header;
    for (qint64 want = 256 * 1024; !scan; want *= 4) {
        const auto read = file->read(0, std::min(want, size));
        if (!read)
            return std::nullopt;
        header = *read;
        scan = jpegFirstScan(header);
        if (scan || want >= size || want > (qint64(64) << 20))
            break;
    }
    if (!scan)
        return std::nullopt;
    QString error;
    const auto head = jpegHeadEdited(header, *scan, edit, &error);
    if (!head)
        return std::nullopt;

    auto replacement = SafeFile::Replacement::begin(target, purpose, file->stamp(), &failure);
    if (!replacement)
        return SafeFile::Outcome(failure);
    if (const SafeFile::Outcome written = replacement->writeAndSync(head->head, *file, head->originalScanStart))
        return written;
    if (!verify(replacement->temporaryPath()))
        return SafeFile::Outcome(Failure::of(Failure::Kind::verify));
    if (!SafeFile::step("verified"))
        return SafeFile::Outcome(Failure::of(Failure::Kind::aborted));
    return replacement->commit();
}

} // namespace ExivEdit
