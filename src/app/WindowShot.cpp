#include "app/WindowShot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QPixmap>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

// Long enough for the window to be mapped, laid out and painted.
constexpr int settleDelayMs = 1500;

} // namespace

QString saveWindowShot(QWidget *window, const QString &path)
{
    const QPixmap picture = window->grab();
    if (picture.isNull())
        return QStringLiteral("the window could not be drawn");

    const QFileInfo target(path);
    if (!QDir().mkpath(target.absolutePath()))
        return QStringLiteral("cannot create the folder %1").arg(target.absolutePath());

    // Written aside and moved into place, so a failed shot never leaves half a file.
    QSaveFile file(target.absoluteFilePath());
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QImageWriter writer(&file, "png");
    if (!writer.write(picture.toImage()))
        return writer.errorString();
    if (!file.commit())
        return file.errorString();
    return {};
}

void scheduleWindowShot(QWidget *window, const QString &path)
{
    QTimer::singleShot(settleDelayMs, window, [window = QPointer(window), path] {
        if (!window)
            return;
        const QString error = saveWindowShot(window, path);
        const QString shown = QFileInfo(path).absoluteFilePath();
        if (error.isEmpty()) {
            std::fprintf(stdout, "glanto: screenshot saved to %s\n", qPrintable(shown));
            std::fflush(stdout);
            QCoreApplication::exit(0);
        } else {
            std::fprintf(stderr, "glanto: cannot save the screenshot %s: %s\n", qPrintable(shown),
                         qPrintable(error));
            QCoreApplication::exit(1);
        }
    });
}
