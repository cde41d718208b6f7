#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
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
    return QStringLiteral(GLANTO_CORPUS_DIR "/") + relative;
}

// Copies a corpus file into dir under name.
inline QString copyInto(const QString &dir, const QString &corpusFile, const QString &name)
{
    const QString target = QDir(dir).filePath(name);
    QFile::copy(corpus(corpusFile), target);
    return target;
}
