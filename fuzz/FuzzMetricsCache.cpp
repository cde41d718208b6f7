// The metrics cache reader: the structural check of the binary property list,
// libplist's parse behind it, and the records. Whatever it accepts must survive
// being written back and read again unchanged, as the scanner saves what it loaded.

#include "FuzzSupport.h"

#include "cleanup/MetricsCache.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto decoded = MetricsCache::decode(Fuzz::view(data, size));
    if (!decoded || decoded->isEmpty())
        return 0;
    const QByteArray again = MetricsCache::encode(*decoded);
    FUZZ_CHECK(!again.isEmpty());
    const auto reread = MetricsCache::decode(again);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(*reread == *decoded);
    return 0;
}
