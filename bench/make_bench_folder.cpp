// Makes the folder for `glanto --bench`: N different 24 MP (6000 x 4000) JPEGs,
// each a corpus photo enlarged, shifted and numbered so that no two files share
// pixels. Usage: glanto_bench_folder OUT_DIR [N=200]
#include "platform/Codec.h"

#include <QGuiApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR [COUNT]\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int count = argc > 2 ? std::max(1, atoi(argv[2])) : 200;
    QDir().mkpath(out);

    QStringList sources;
    const QDir corpus(QStringLiteral(GLANTO_CORPUS_DIR));
    for (const char *sub : {"bursts", "sharp", "blurry", "faces-open"}) {
        const QDir d(corpus.filePath(QString::fromLatin1(sub)));
        for (const QString &name : d.entryList({"*.jpg", "*.JPG", "*.jpeg"}, QDir::Files, QDir::Name))
            sources << d.absoluteFilePath(name);
    }
    if (sources.isEmpty()) {
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
            const QImage source = Codec::decodeFull(sources.at(i % sources.size()));
            if (source.isNull()) {
                ++failures;
                continue;
            }
            QImage big = source.scaled(6000 + (i % 7) * 16, 4000, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .copy(i % 7 * 16, 0, 6000, 4000)
                             .convertToFormat(QImage::Format_RGBA8888_Premultiplied);
            QPainter painter(&big);
            painter.fillRect(200 + (i * 97) % 5000, 200 + (i * 53) % 3000, 400, 300, QColor::fromHsv((i * 37) % 360, 200, 230));
            QFont font = painter.font();
            font.setPixelSize(260);
            painter.setFont(font);
            painter.setPen(Qt::white);
            painter.drawText(QRect(0, 3500, 6000, 400), Qt::AlignCenter, QString::number(i));
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
