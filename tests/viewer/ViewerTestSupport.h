#pragma once

#include "TestData.h"
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <functional>

// One QApplication per test executable, created on first use.
inline QApplication &testApp()
{
    static int argc = 1;
    static char name[] = "viewer_test";
    static char *argv[] = {name, nullptr};
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until done() holds; false when the time runs out.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

inline void spin(int ms)
{
    waitFor([] { return false; }, ms);
}

inline QString corpus(const QString &relative)
{
    return TestData::photo(relative);
}

// A JPEG of the given size written into dir under name: a plain photo of a
// known size, where the test needs no particular camera file.
inline QString makeJpeg(const QString &dir, const QString &name, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
    }
    const QString target = QDir(dir).filePath(name);
    image.save(target, "JPG", 90);
    return target;
}

// Copies a corpus file into dir under name.
inline QString copyInto(const QString &dir, const QString &corpusFile, const QString &name)
{
    const QString target = QDir(dir).filePath(name);
    QFile::copy(corpus(corpusFile), target);
    return target;
}
