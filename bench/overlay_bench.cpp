// Overlay and cross-fade benchmark: the raster renderer's cross-fade between two
// photos on a 2560 x 1600 window (the goal: every frame within 20 ms), and the
// floating toolbar's first show, later shows and fade frames (the goal: none
// blocks the main thread for more than 16 ms).
//
// usage: glanto_overlay_bench [FADE_FRAMES] [RUNS]
// Needs an X server of at least 2560 x 1600, for example:
//   xvfb-run -a -s "-screen 0 2560x1600x24" build/bench/glanto_overlay_bench

#include "platform/Codec.h"
#include "viewer/ControlsFader.h"
#include "viewer/FloatingToolbar.h"
#include "viewer/ImagePyramid.h"
#include "viewer/ImageSurface.h"
#include "viewer/NavigationArrow.h"
#include "viewer/OverlayLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

struct Figures
{
    double median = 0;
    double worst = 0;
    int over = 0;
};

Figures summarise(std::vector<double> ms, double limit)
{
    Figures f;
    if (ms.empty())
        return f;
    f.over = int(std::count_if(ms.begin(), ms.end(), [limit](double v) { return v > limit; }));
    std::sort(ms.begin(), ms.end());
    f.median = ms[ms.size() / 2];
    f.worst = ms.back();
    return f;
}

RenderBitmapPtr photoBitmap(const QString &path, int longSide)
{
    const QImage image = Codec::decodeScaled(path, longSide, false).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull())
        return nullptr;
    auto bitmap = std::make_shared<RenderBitmap>(image);
    // The view builds the halvings off the main thread as soon as a bitmap arrives;
    // a fade starts with them in place for any photo shown for more than a moment.
    bitmap->setLevels(buildMipLevels(image));
    return bitmap;
}

QRectF fitted(QSize image, QRect area)
{
    const QSizeF size = QSizeF(image).scaled(area.size(), Qt::KeepAspectRatio);
    return QRectF(QPointF(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2),
                  size);
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double elapsedMs(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(2, atoi(argv[1])) : 60;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const QSize content(2560, 1600);
    const QString corpus = QStringLiteral(GLANTO_CORPUS_DIR "/exif/");

    QWidget host;
    host.setWindowFlag(Qt::FramelessWindowHint);
    host.setGeometry(QRect(QPoint(0, 0), content));
    host.setAutoFillBackground(true);
    QPalette pal = host.palette();
    pal.setColor(QPalette::Window, Qt::black);
    host.setPalette(pal);
    std::unique_ptr<ImageSurface> surface = ImageSurface::createRaster(&host);
    const QRect area = OverlayLayout::imageArea(content, OverlayLayout::filmstripShownHeight, false);
    surface->widget()->setGeometry(area);
    host.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QApplication::processEvents();

    // The preview a 2560-wide view asks for is 2560 pixels on its longer side.
    const int longSide = std::max(content.width(), content.height());
    const RenderBitmapPtr from = photoBitmap(corpus + QStringLiteral("Kodak PIXPRO FZ201.jpg"), longSide);
    const RenderBitmapPtr to = photoBitmap(corpus + QStringLiteral("Canon PowerShot G11.jpg"), longSide);
    if (!from || !to) {
        std::fprintf(stderr, "cannot decode the corpus photos under %s\n", qPrintable(corpus));
        return 1;
    }
    const QRect local(QPoint(0, 0), area.size());

    std::printf("cross-fade, raster renderer, %dx%d window, photos %dx%d -> %dx%d, %d frames x %d runs\n",
                content.width(), content.height(), from->size().width(), from->size().height(), to->size().width(),
                to->size().height(), frames, runs);
    std::vector<double> fadeMs;
    std::vector<double> firstMs;
    // The main thread's own time per frame: what the frame costs, apart from
    // waiting for a core on a busy machine.
    std::vector<double> cpuMs;
    // Frames come at 60 Hz with the event loop running between them, as the
    // view's fade animation drives them; the old photo was on screen a moment
    // before its fade began.
    const auto pumpFor = [](int ms) {
        QElapsedTimer gap;
        gap.start();
        while (gap.elapsed() < ms)
            QApplication::processEvents(QEventLoop::AllEvents, ms);
    };
    for (int run = 0; run < runs; ++run) {
        ImageScene before;
        before.image.bitmap = (run % 2) ? to : from;
        before.image.frame = fitted(before.image.bitmap->size(), local);
        surface->setScene(before);
        surface->widget()->repaint();
        pumpFor(400);
        for (int i = 0; i <= frames; ++i) {
            const double t = double(i) / frames;
            ImageScene scene;
            scene.image.bitmap = (run % 2) ? from : to;
            scene.image.frame = fitted(scene.image.bitmap->size(), local);
            scene.image.opacity = t;
            scene.ghost.bitmap = (run % 2) ? to : from;
            scene.ghost.frame = fitted(scene.ghost.bitmap->size(), local);
            scene.ghost.opacity = 1.0 - t;
            QElapsedTimer timer;
            timer.start();
            const double cpuBefore = threadCpuMs();
            surface->setScene(scene);
            surface->widget()->repaint();
            (i <= 1 ? firstMs : fadeMs).push_back(elapsedMs(timer));
            cpuMs.push_back(threadCpuMs() - cpuBefore);
            pumpFor(16);
        }
    }
    const Figures fade = summarise(fadeMs, 20.0);
    // What a frame is made of: the black window alone, and one opaque photo.
    for (int layers = 0; layers <= 1; ++layers) {
        std::vector<double> partMs;
        for (int i = 0; i < 20; ++i) {
            ImageScene scene;
            if (layers) {
                scene.image.bitmap = to;
                scene.image.frame = fitted(to->size(), local);
            }
            QElapsedTimer timer;
            timer.start();
            surface->setScene(scene);
            surface->widget()->repaint();
            partMs.push_back(elapsedMs(timer));
        }
        const Figures part = summarise(partMs, 20.0);
        std::printf("  %s: median %.1f ms, worst %.1f ms\n", layers ? "one opaque photo" : "empty frame", part.median,
                    part.worst);
    }
    const Figures first = summarise(firstMs, 20.0);
    std::printf("  the fade's first two frames (before the worker's copies may have come): median %.1f ms, worst %.1f ms\n",
                first.median, first.worst);
    std::printf("  later frames (paint + flush): median %.1f ms, worst %.1f ms, %d of %zu over 20 ms\n", fade.median,
                fade.worst, fade.over, fadeMs.size());

    const Figures cpu = summarise(cpuMs, 20.0);
    std::printf("  main thread CPU per fade frame (all frames): median %.1f ms, worst %.1f ms, %d of %zu over 20 ms\n",
                cpu.median, cpu.worst, cpu.over, cpuMs.size());
    // The toolbar and arrows over the photo, as the viewer shows them.
    std::printf("toolbar (icon theme \"%s\")\n", qPrintable(QIcon::themeName()));
    QElapsedTimer timer;
    timer.start();
    int found = 0;
    for (int i = 0; i <= int(OverlaySymbol::chevronRight); ++i)
        found += OverlaySymbols::themeIcon(OverlaySymbol(i)).isNull() ? 0 : 1;
    std::printf("  icon theme lookups of the 15 symbols (first use): %.1f ms, %d found\n", elapsedMs(timer), found);
    timer.restart();
    auto *toolbar = new FloatingToolbar(&host);
    toolbar->adjustSize();
    toolbar->setGeometry(OverlayLayout::toolbarRect(content, toolbar->size(), OverlayLayout::filmstripShownHeight));
    auto *previous = new NavigationArrow(false, &host);
    previous->setGeometry(OverlayLayout::previousArrowRect(content));
    auto *next = new NavigationArrow(true, &host);
    next->setGeometry(OverlayLayout::nextArrowRect(content));
    const double built = elapsedMs(timer);
    timer.restart();
    toolbar->show();
    previous->show();
    next->show();
    toolbar->repaint();
    previous->repaint();
    next->repaint();
    const double firstShow = elapsedMs(timer);
    std::printf("  build %.1f ms, first show and paint %.1f ms\n", built, firstShow);

    ControlsFader fader;
    fader.animatedSet = [&] { return QList<QWidget *>{toolbar, previous, next}; };
    std::vector<double> showMs;
    std::vector<double> stepMs;
    for (int run = 0; run < 10; ++run) {
        fader.fade(false, 0);
        QApplication::processEvents();
        timer.restart();
        fader.fade(true, 0.15);
        toolbar->repaint();
        showMs.push_back(elapsedMs(timer));
        // Each animation step: the opacity change and the repaint it causes.
        for (double opacity = 0.1; opacity <= 1.0001; opacity += 0.1) {
            timer.restart();
            setWidgetOpacity(toolbar, opacity);
            setWidgetOpacity(previous, opacity);
            setWidgetOpacity(next, opacity);
            toolbar->repaint();
            previous->repaint();
            next->repaint();
            stepMs.push_back(elapsedMs(timer));
        }
        while (fader.running())
            QApplication::processEvents();
    }
    const Figures show = summarise(showMs, 16.0);
    const Figures step = summarise(stepMs, 16.0);
    std::printf("  show after hide: median %.1f ms, worst %.1f ms, %d of %zu over 16 ms\n", show.median, show.worst,
                show.over, showMs.size());
    std::printf("  fade step (toolbar and arrows): median %.1f ms, worst %.1f ms, %d of %zu over 16 ms\n",
                step.median, step.worst, step.over, stepMs.size());
    return 0;
}
