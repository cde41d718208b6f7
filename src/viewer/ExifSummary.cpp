#include "viewer/ExifSummary.h"

#include "library/CaptureDate.h"
#include "platform/Codec.h"
#include "platform/Metadata.h"
#include "settings/Texts.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

QString cString(const char *format, double value)
{
    return QString::asprintf(format, value);
}

QString cameraLine(const QString &make, const QString &model)
{
    if (model.isEmpty())
        return {};
    if (make.isEmpty() || model.startsWith(make))
        return model;
    return make + QLatin1Char(' ') + model;
}

QString parametersLine(const ExifSummaryInput &in)
{
    QStringList parts;
    if (const auto t = Metadata::number(in.exposureTime); t && *t > 0) {
        // A fraction only where it is the time: 0.8 s is no "1/1 s", 0.6 s no "1/2 s".
        const qint64 n = *t < 1 ? qint64(std::llround(1.0 / *t)) : 0;
        if (n >= 2 && std::abs(double(n) * *t - 1.0) <= 0.05)
            parts << QStringLiteral("1/%1 s").arg(n);
        else
            parts << cString("%.1f s", *t);
    }
    if (const auto f = Metadata::number(in.fNumber); f && *f > 0)
        parts << QString::fromUtf8("ƒ/") + cString("%.1f", *f);
    // The first value of the ISO list that is an integer.
    for (const QString &token : in.isoSpeedRatings.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        bool ok = false;
        const qint64 iso = token.toLongLong(&ok);
        if (ok) {
            parts << QStringLiteral("ISO %1").arg(iso);
            break;
        }
    }
    if (const auto mm = Metadata::number(in.focalLength); mm && *mm > 0)
        parts << cString("%.0f mm", *mm);
    return parts.join(QString::fromUtf8(" · "));
}

// The capture time as the camera's clock read it; else what DateTimeOriginal
// holds, as written, unless it is the placeholder of a camera without a clock.
QString dateLine(const ExifSummaryInput &in)
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm");
    if (in.captureDate)
        return in.captureDate->toString(format);
    if (const auto date = parseExifDateTime(in.dateTimeOriginal))
        return date->toString(format);
    const bool placeholder = std::none_of(in.dateTimeOriginal.cbegin(), in.dateTimeOriginal.cend(),
                                          [](QChar c) { return c >= u'1' && c <= u'9'; });
    return placeholder ? QString() : in.dateTimeOriginal;
}

} // namespace


QList<ExifEntry> exifSummary(const ExifSummaryInput &in)
{
    QList<ExifEntry> lines;
    auto add = [&](const char *key, const QString &value) {
        if (!value.isEmpty())
            lines.append({Texts::text(key), value});
    };
    add("exif.camera", cameraLine(in.make, in.model));
    add("exif.lens", in.lensModel);
    add("exif.params", parametersLine(in));
    if (const auto bias = Metadata::number(in.exposureBias); bias && *bias != 0)
        add("exif.bias", cString("%+.1f EV", *bias));
    add("exif.date", dateLine(in));
    if (in.pixelSize)
        add("exif.size", QStringLiteral("%1 × %2").arg(in.pixelSize->width()).arg(in.pixelSize->height()));
    add("exif.profile", in.profileName);
    if (!in.fileSize)
        return lines;
    add("exif.file", in.fileName + QString::fromUtf8(" · ") + Texts::byteCount(*in.fileSize));
    return lines;
}

QList<ExifEntry> exifSummary(const QString &path)
{
    // Files that no decoder recognises have no summary, whatever their name.
    const auto header = Codec::probe(path);
    if (!header)
        return {};
    static const QStringList keys = QStringList{"Exif.Image.Make",         "Exif.Image.Model",
                                                "Exif.Photo.LensModel",    "Exif.Photo.ExposureTime",
                                                "Exif.Photo.FNumber",      "Exif.Photo.ISOSpeedRatings",
                                                "Exif.Photo.FocalLength",  "Exif.Photo.ExposureBiasValue"}
                                    + Metadata::captureDateKeys();
    const MetadataTags tags = Metadata::readMetadata(path, keys).value_or(MetadataTags{});
    auto text = [&](const char *key) { return tags.value(QLatin1String(key)).value_or(QString()).trimmed(); };
    ExifSummaryInput in;
    in.make = text("Exif.Image.Make");
    in.model = text("Exif.Image.Model");
    in.lensModel = text("Exif.Photo.LensModel");
    in.exposureTime = text("Exif.Photo.ExposureTime");
    in.fNumber = text("Exif.Photo.FNumber");
    in.isoSpeedRatings = text("Exif.Photo.ISOSpeedRatings");
    in.focalLength = text("Exif.Photo.FocalLength");
    in.exposureBias = text("Exif.Photo.ExposureBiasValue");
    in.dateTimeOriginal = text("Exif.Photo.DateTimeOriginal");
    in.captureDate = captureDateFrom(Metadata::captureDateStrings(tags));
    in.pixelSize = header->storedSize;
    in.profileName = Codec::colorProfileName(path);
    const QFileInfo file(path);
    in.fileName = file.fileName();
    if (file.exists())
        in.fileSize = file.size();
    return exifSummary(in);
}
