// The XMP sidecar patcher: reading the rating from sidecar text, then setting it.
// The first byte picks the rating to set (out of range on purpose at times), the
// rest is the sidecar's text. Whatever the patcher accepts must read back as the
// rating set, by the same reader the rating writer verifies with, and patching
// that result again must change nothing.

#include "FuzzSupport.h"

#include "fileops/XmpRating.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int n = int(data[0] % 9) - 1; // -1 ... 7
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    if (const std::optional<int> rating = XmpRating::ratingInSidecarText(text))
        FUZZ_CHECK(*rating >= 0 && *rating <= 5);

    SafeFile::Failure failure;
    const std::optional<QString> patched = XmpRating::patchSidecarText(text, n, &failure);
    if (!patched)
        return 0;
    const int expected = XmpRating::clampRating(n);
    FUZZ_CHECK(XmpRating::ratingInSidecarText(*patched) == expected);
    SafeFile::Failure again;
    const std::optional<QString> twice = XmpRating::patchSidecarText(*patched, n, &again);
    FUZZ_CHECK(twice.has_value());
    FUZZ_CHECK(*twice == *patched);
    return 0;
}
