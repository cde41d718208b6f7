// The update feed: what an answer from the site means. The first two bytes pick
// the HTTP status (around the 2xx range, and far outside it), the rest is the
// body. Only a usable version may ever be offered, with a link the program may
// open; and comparing versions must be a strict order.

#include "FuzzSupport.h"

#include "update/UpdateChecker.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int raw = data[0] | (data[1] << 8);
    const int status = raw % 2 ? 200 + raw % 7 : raw % 1000 - 100;
    const QByteArray body = Fuzz::view(data + 2, size - 2);
    const QString running = QStringLiteral("1.4.2");

    const UpdateChecker::Result result = UpdateChecker::interpretResponse(status, body, QString(), running);
    if (status < 200 || status > 299)
        FUZZ_CHECK(result.kind == UpdateChecker::Result::Kind::failed);
    if (result.kind == UpdateChecker::Result::Kind::newer) {
        static const QRegularExpression usable(QStringLiteral("^[0-9A-Za-z._+~-]{1,32}$"));
        FUZZ_CHECK(usable.match(result.release.version).hasMatch());
        FUZZ_CHECK(UpdateChecker::isNewer(result.release.version, running));
        FUZZ_CHECK(UpdateChecker::isSafeLink(result.release.download));
        FUZZ_CHECK(result.release.download.toString().size() <= UpdateChecker::maxLinkLength
                   || result.release.download == UpdateChecker::builtInDownloadURL());
    }

    // The body split at its first newline: two versions, compared both ways.
    const QString text = QString::fromUtf8(body);
    const qsizetype split = text.indexOf(QLatin1Char('\n'));
    const QString a = text.left(split), b = split < 0 ? QString() : text.mid(split + 1);
    FUZZ_CHECK(!(UpdateChecker::isNewer(a, b) && UpdateChecker::isNewer(b, a)));
    FUZZ_CHECK(!UpdateChecker::isNewer(a, a));
    return 0;
}
