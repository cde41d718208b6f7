// The classic icon-file entries: the entry walk, the run-length planes and the
// masks. The size the probe reports must be the size the decode gives.

#include "FuzzSupport.h"

#include "platform/CodecInternal.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = Fuzz::view(data, size);
    const std::optional<QSize> probed = CodecDetail::icnsClassicSize(bytes);
    const QImage image = CodecDetail::icnsClassicDecode(bytes);
    if (!image.isNull()) {
        FUZZ_CHECK(probed.has_value());
        FUZZ_CHECK(image.size() == *probed);
    }
    if (!probed)
        FUZZ_CHECK(image.isNull());
    return 0;
}
