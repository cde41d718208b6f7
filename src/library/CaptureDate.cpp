#include "library/CaptureDate.h"

#include <utility>

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

// The milliseconds of a decimal fraction's digits: "75" is 750, "054" is 54;
// digits past the third are dropped.
int fractionMsecs(QStringView digits)
{
    int msec = 0;
    int scale = 100;
    for (qsizetype i = 0; i < digits.size() && i < 3; ++i, scale /= 10)
        msec += (digits[i].unicode() - u'0') * scale;
    return msec;
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
    return QDateTime(date, time, Qt::UTC);
}

std::optional<QDateTime> parseXmpDateTime(const QString &text)
{
    const QStringView view = QStringView(text).trimmed();
    // yyyy-MM-dd, then optionally Thh:mm, :ss, a fraction and a zone.
    if (view.size() < 10 || view[4] != u'-' || view[7] != u'-')
        return std::nullopt;
    const int year = digitsAt(view, 0, 4), month = digitsAt(view, 5, 2), day = digitsAt(view, 8, 2);
    const QDate date(year, month, day);
    if (year < 0 || month < 0 || day < 0 || !date.isValid())
        return std::nullopt;
    if (view.size() == 10)
        return QDateTime(date, QTime(0, 0), Qt::UTC);
    if (view.size() < 16 || view[10] != u'T' || view[13] != u':')
        return std::nullopt;
    const int hour = digitsAt(view, 11, 2), minute = digitsAt(view, 14, 2);
    int second = 0, msec = 0;
    qsizetype at = 16;
    if (at < view.size() && view[at] == u':') {
        if (view.size() < at + 3 || (second = digitsAt(view, at + 1, 2)) < 0)
            return std::nullopt;
        at += 3;
        if (at < view.size() && view[at] == u'.') {
            const qsizetype from = ++at;
            while (at < view.size() && view[at] >= u'0' && view[at] <= u'9')
                ++at;
            msec = fractionMsecs(view.sliced(from, at - from));
        }
    }
    // What may follow is a zone: Z, +hh:mm or -hh:mm.
    const QStringView zone = view.sliced(at);
    const bool zoneFits = zone.isEmpty() || zone == u"Z"
                          || ((zone.size() == 6 || zone.size() == 5) && (zone[0] == u'+' || zone[0] == u'-'));
    const QTime time(hour, minute, second, msec);
    if (hour < 0 || minute < 0 || !zoneFits || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

QDateTime clockReading(const QDateTime &moment)
{
    const QDateTime local = moment.toLocalTime();
    return QDateTime(local.date(), local.time(), Qt::UTC);
}

namespace {

// "750" after 15:56:01 is 15:56:01.750; "5" is half a second. Blanks around
// the digits are allowed; anything else leaves the reading whole.
QDateTime withSubSeconds(const QDateTime &reading, const std::optional<QString> &subSeconds)
{
    if (!subSeconds)
        return reading;
    const QString digits = subSeconds->trimmed();
    if (digits.isEmpty() || digits.size() > 9)
        return reading;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return reading;
    }
    return reading.addMSecs(fractionMsecs(digits));
}

} // namespace

std::optional<QDateTime> captureDateFrom(const Metadata::CaptureDateStrings &strings)
{
    // The first that parses: a camera without a set clock writes zeros into
    // one field and may still have a usable date in the next.
    const std::pair<const std::optional<QString> &, const std::optional<QString> &> exif[] = {
        {strings.dateTimeOriginal, strings.subSecTimeOriginal},
        {strings.dateTimeDigitized, strings.subSecTimeDigitized}};
    for (const auto &[text, subSeconds] : exif) {
        if (const auto date = text ? parseExifDateTime(*text) : std::nullopt)
            return withSubSeconds(*date, subSeconds);
    }
    // An editor's export may carry the capture time only in XMP; the TIFF
    // DateTime, the time of the last change, comes after it.
    for (const auto &text : {strings.xmpDateTimeOriginal, strings.xmpDateCreated}) {
        if (const auto date = text ? parseXmpDateTime(*text) : std::nullopt)
            return date;
    }
    if (const auto date = strings.dateTime ? parseExifDateTime(*strings.dateTime) : std::nullopt)
        return withSubSeconds(*date, strings.subSecTime);
    return std::nullopt;
}

std::optional<QDateTime> readCaptureDate(const QString &path)
{
    const auto strings = Metadata::readCaptureDateStrings(path);
    return strings ? captureDateFrom(*strings) : std::nullopt;
}

QDateTime captureDate(const QString &path, const std::optional<QDateTime> &fallback)
{
    return captureDate(Metadata::readMetadata(path, Metadata::captureDateKeys()), fallback);
}

QDateTime captureDate(const std::optional<MetadataTags> &tags, const std::optional<QDateTime> &fallback)
{
    if (auto date = tags ? captureDateFrom(Metadata::captureDateStrings(*tags)) : std::nullopt)
        return *date;
    return fallback ? clockReading(*fallback) : distantPast();
}
