#include "library/CaptureDate.h"

#include "platform/Metadata.h"

namespace {

// Digits from text[from] to text[from + count], or -1.
int digitsAt(QStringView text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

bool isPadding(QChar c)
{
    return c.isSpace() || c.isNull();
}

} // namespace

QDateTime distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

std::optional<QDateTime> parseExifDateTime(const QString &text)
{
    QStringView view(text);
    while (!view.isEmpty() && isPadding(view.front()))
        view = view.sliced(1);
    while (!view.isEmpty() && isPadding(view.back()))
        view.chop(1);
    // yyyy:MM:dd HH:mm:ss
    if (view.size() != 19 || view[4] != u':' || view[7] != u':' || view[10] != u' ' || view[13] != u':'
        || view[16] != u':')
        return std::nullopt;
    const int fields[6] = {digitsAt(view, 0, 4),  digitsAt(view, 5, 2),  digitsAt(view, 8, 2),
                           digitsAt(view, 11, 2), digitsAt(view, 14, 2), digitsAt(view, 17, 2)};
    for (int field : fields) {
        if (field < 0)
            return std::nullopt;
    }
    const QDate date(fields[0], fields[1], fields[2]);
    const QTime time(fields[3], fields[4], fields[5]);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const QDateTime local(date, time, Qt::LocalTime);
    if (local.isValid())
        return local.toUTC();
    // A time the local clock skipped (the hour a spring change leaves out),
    // which a camera that keeps standard time writes all the same: read with
    // the offset in force just before the change, as 02:30 then reads 03:30.
    const QDateTime before = QDateTime(date, time, Qt::UTC).addSecs(-3 * 3600).toLocalTime();
    const QDateTime reading = QDateTime(date, time, Qt::UTC).addSecs(-before.offsetFromUtc());
    return reading.isValid() ? std::optional<QDateTime>(reading) : std::nullopt;
}

std::optional<QDateTime> readCaptureDate(const QString &path)
{
    const auto strings = Metadata::readCaptureDateStrings(path);
    if (!strings)
        return std::nullopt;
    // The first that parses: a camera without a set clock writes zeros into
    // one field and may still have a usable date in the next.
    for (const auto &candidate : {strings->dateTimeOriginal, strings->dateTimeDigitized, strings->dateTime}) {
        if (!candidate)
            continue;
        if (auto date = parseExifDateTime(*candidate))
            return date;
    }
    return std::nullopt;
}

QDateTime captureDate(const QString &path, const std::optional<QDateTime> &fallback)
{
    if (auto date = readCaptureDate(path))
        return *date;
    return fallback ? *fallback : distantPast();
}
