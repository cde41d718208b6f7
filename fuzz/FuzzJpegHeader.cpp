// The JPEG marker walk that reads the size, orientation, ICC profile and EXIF
// thumbnail before any decoding, and, as the decoder then does, the same walk over
// the thumbnail it points at.

#include "FuzzSupport.h"

#include "platform/CodecInternal.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto facts = CodecDetail::jpegFacts(data, size);
    if (!facts)
        return 0;
    FUZZ_CHECK(!facts->size.isEmpty());
    if (facts->thumbLength > 0) {
        // The decoder reads the thumbnail straight from the file's bytes.
        FUZZ_CHECK(facts->thumbOffset <= size && facts->thumbLength <= size - facts->thumbOffset);
        CodecDetail::jpegFacts(data + facts->thumbOffset, facts->thumbLength);
    }
    return 0;
}
