#include "cleanup/CleanupReport.h"

#include "cleanup/CleanupGrouping.h"
#include "cleanup/CleanupScanner.h"
#include "cleanup/CleanupUnits.h"
#include "cleanup/ImageMeasures.h"
#include "library/FolderModel.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cmath>
#include <limits>

namespace {

// A name may hold any byte but '/': a line feed or a tab in it is written as
// its C escape, so that each photo stays on one line and in one field.
QString nameOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QString::asprintf("\\x%02x", unsigned(c.unicode()));
        else
            out += c;
    }
    return out;
}

void appendMeasurements(QStringList &lines, CleanupScanner &scanner)
{
    lines.append(QStringLiteral("file\tsharp\tfaceSharp\tfaces\topen\tclosed\tblurry"));
    for (const CleanupUnit &unit : scanner.units) {
        const QString name = nameOf(unit.primary);
        const auto it = scanner.metrics.constFind(unit.primary);
        if (it == scanner.metrics.cend()) {
            lines.append(name + QStringLiteral("\tFAILED"));
            continue;
        }
        const CleanupMetrics &m = it.value();
        QStringList eyes;
        const qsizetype pairs = std::min(m.eyeOpenness.size(), m.eyeDarkness.size());
        for (qsizetype i = 0; i < pairs; ++i)
            eyes.append(QString::asprintf("%.2f/%.2f", double(m.eyeOpenness[i]), double(m.eyeDarkness[i])));
        const QStringList fields{
            name,
            QString::asprintf("%.1f", double(m.sharpness)),
            m.faceSharpness ? QString::asprintf("%.1f", double(*m.faceSharpness)) : QStringLiteral("-"),
            QString::number(m.faceCount),
            eyes.join(QLatin1Char(',')),
            QString::number(m.closedFaces.size()),
            isBlurry(m) ? QStringLiteral("Y") : QString(),
        };
        lines.append(fields.join(QLatin1Char('\t')));
    }
}

void appendNeighbours(QStringList &lines, CleanupScanner &scanner)
{
    lines.append(QStringLiteral("\n# adjacent distances"));
    struct Measured {
        const CleanupUnit *unit;
        const CleanupMetrics *metrics;
    };
    QVector<Measured> measured;
    for (const CleanupUnit &unit : scanner.units) {
        const auto it = scanner.metrics.constFind(unit.primary);
        if (it != scanner.metrics.cend())
            measured.append({&unit, &it.value()});
    }
    std::stable_sort(measured.begin(), measured.end(), [](const Measured &a, const Measured &b) {
        return a.metrics->captureDate < b.metrics->captureDate;
    });
    for (qsizetype i = 1; i < measured.size(); ++i) {
        const Measured &previous = measured[i - 1];
        const Measured &next = measured[i];
        double distance = -1;
        const std::optional<QByteArray> a = scanner.printFor(previous.unit->primary);
        const std::optional<QByteArray> b = scanner.printFor(next.unit->primary);
        if (a && b) {
            const float d = FeaturePrint::distance(*a, *b);
            // The largest finite float is how a failed comparison answers.
            if (std::isfinite(d) && d < std::numeric_limits<float>::max())
                distance = d;
        }
        lines.append(QString::asprintf("%s -> %s\t%.3f\tdt=%.0f",
                                       qUtf8Printable(nameOf(previous.unit->primary)),
                                       qUtf8Printable(nameOf(next.unit->primary)), distance,
                                       next.metrics->captureDate - previous.metrics->captureDate));
    }
}

void appendGroups(QStringList &lines, CleanupScanner &scanner)
{
    lines.append(QStringLiteral("\n# categories"));
    const CleanupResult result = buildCleanupResult(scanner.units, scanner);
    for (CleanupCategory category : allCleanupCategories()) {
        const auto it = result.groups.find(category);
        if (it == result.groups.end())
            continue;
        for (const CleanupGroup &group : it->second) {
            QStringList entries;
            for (const CleanupUnit &unit : group.units) {
                QString entry = result.suggested.contains(unit.primary) ? QStringLiteral("[x]")
                                                                        : QStringLiteral("[ ]");
                if (group.keeper && *group.keeper == unit.primary)
                    entry += QLatin1Char('*');
                entries.append(entry + nameOf(unit.primary));
            }
            lines.append(cleanupCategoryName(category) + QLatin1Char('\t') + entries.join(QLatin1Char(' ')));
        }
    }
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, p, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        p += written;
        left -= written;
    }
    return true;
}

} // namespace

QString formatCleanupReport(CleanupScanner &scanner)
{
    QStringList lines;
    appendMeasurements(lines, scanner);
    appendNeighbours(lines, scanner);
    appendGroups(lines, scanner);
    const qsizetype count = scanner.units.size();
    lines.append(QString::asprintf("\n# %d units, %.2fs, %.0f ms/unit (2 workers)", int(count),
                                   scanner.elapsed,
                                   scanner.elapsed * 1000.0 / double(count > 0 ? count : 1)));
    return lines.join(QLatin1Char('\n'));
}

QString cleanupReport(const QString &folder, int *listingError)
{
    FolderModel model;
    // A path that is not there would list the folder it would be in: it is an
    // error, and nothing is measured.
    const bool there = QFileInfo::exists(folder);
    if (there)
        model.load(folder);
    if (listingError)
        *listingError = there ? model.listingError() : ENOENT;
    CleanupScanner scanner(folder, there ? makeUnits(model.items()) : QList<CleanupUnit>(), false);
    QEventLoop loop;
    scanner.onFinish = [&loop] { loop.quit(); };
    scanner.start();
    if (!scanner.finished)
        loop.exec();
    return formatCleanupReport(scanner);
}

int runCleanupReport(const QString &folder)
{
    int listingError = 0;
    const QByteArray text = cleanupReport(folder, &listingError).toUtf8() + '\n';
    // The report of a folder that cannot be listed is its headers alone, as
    // scripts expect; the person reading it learns why on the error stream.
    if (listingError)
        std::fprintf(stderr, "glanto: cannot list %s: %s\n", QFile::encodeName(folder).constData(),
                     std::strerror(listingError));
    std::fflush(stdout); // nothing buffered earlier may land inside the report
    // A report that did not reach its reader (a full disk, a closed pipe) is a
    // failure the caller must be able to see.
    if (!writeAll(STDOUT_FILENO, text)) {
        const int error = errno;
        std::fprintf(stderr, "glanto: cannot write the cleanup report: %s\n", std::strerror(error));
        return 1;
    }
    return 0;
}
