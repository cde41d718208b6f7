// Makes the folder for `glanto --bench`: N different 24 MP (6000 x 4000) JPEGs,
// each a corpus photo enlarged, shifted and numbered so that no two files share
// pixels. Usage: glanto_bench_folder OUT_DIR [N=200] [--faces SHARE] [--megapixels 12|24]
// --faces makes that share of the photos (0 to 1, spread evenly) from the corpus'
// portraits and the rest from photos without people; without it all folders are mixed.
// Face detection dominates the cleanup scan, so its speed depends on this share.
#include "platform/Codec.h"

#include <QGuiApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    double faceShare = -1;
    int width = 6000, height = 4000;
    for (int i = 0; i + 1 < args.size();) {
        if (args[i] == QLatin1String("--faces")) {
            faceShare = std::clamp(args[i + 1].toDouble(), 0.0, 1.0);
            args.remove(i, 2);
        } else if (args[i] == QLatin1String("--megapixels")) {
            if (args[i + 1].toInt() == 12) {
                width = 4000;
                height = 3000;
            }
            args.remove(i, 2);
        } else {
            ++i;
        }
    }
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: %s OUT_DIR [COUNT] [--faces SHARE] [--megapixels 12|24]\n", argv[0]);
        return 2;
    }
    const QString out = args[0];
    const int count = args.size() > 1 ? std::max(1, args[1].toInt()) : 200;
    QDir().mkpath(out);

    QStringList sources, faceSources;
    const QDir corpus(QStringLiteral(GLANTO_CORPUS_DIR));
    for (const char *sub : {"bursts", "sharp", "blurry", "faces-open"}) {
        const QDir d(corpus.filePath(QString::fromLatin1(sub)));
        for (const QString &name : d.entryList({"*.jpg", "*.JPG", "*.jpeg"}, QDir::Files, QDir::Name))
            (faceShare >= 0 && QLatin1String(sub) == QLatin1String("faces-open") ? faceSources : sources) << d.absoluteFilePath(name);
    }
    // Photo i shows faces when the running count of face photos steps up at i.
    const auto showsFaces = [&](int i) { return faceShare >= 0 && int((i + 1) * faceShare) > int(i * faceShare); };
    if (sources.isEmpty() || (faceShare > 0 && faceSources.isEmpty())) {
        std::fprintf(stderr, "no corpus photos under %s\n", qPrintable(corpus.path()));
        return 1;
    }

    std::atomic<int> next{0};
    std::atomic<int> failures{0};
    auto work = [&] {
        for (int i = next++; i < count; i = next++) {
            const QString path = QDir(out).filePath(QStringLiteral("bench-%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
            if (QFileInfo::exists(path))
                continue;
            const QImage source = Codec::decodeFull(showsFaces(i) ? faceSources.at(i % faceSources.size())
                                                                  : sources.at(i % sources.size()));
            if (source.isNull()) {
                ++failures;
                continue;
            }
            QImage big = source.scaled(width + (i % 7) * 16, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .copy(i % 7 * 16, 0, width, height)
                             .convertToFormat(QImage::Format_RGBA8888_Premultiplied);
            QPainter painter(&big);
            painter.fillRect(200 + (i * 97) % (width - 1000), 200 + (i * 53) % (height - 1000), 400, 300,
                             QColor::fromHsv((i * 37) % 360, 200, 230));
            QFont font = painter.font();
            font.setPixelSize(260);
            painter.setFont(font);
            painter.setPen(Qt::white);
            painter.drawText(QRect(0, height - 500, width, 400), Qt::AlignCenter, QString::number(i));
            painter.end();
            if (!Codec::encode(big, path, ImageFormat::jpeg, 90))
                ++failures;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back(work);
    for (auto &t : threads)
        t.join();
    std::printf("%d photos in %s, %d failed\n", count, qPrintable(out), failures.load());
    return failures ? 1 : 0;
}
