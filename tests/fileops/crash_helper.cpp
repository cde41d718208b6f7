// The writing process of the crash-safety test. Runs one rating write or one
// rotation save and, through the test-only step hook, stops at a chosen step
// and waits there to be killed:
//
//   fileops_crash_helper rate|rotate VALUE PATH PAUSE_AT
//
// At step PAUSE_AT (1-based) it prints "PAUSED k step" and waits forever; with
// PAUSE_AT 0 it runs through and prints "DONE steps ok" or "DONE steps failed: why".

#include "fileops/RotationSave.h"
#include "fileops/SafeFile.h"
#include "fileops/XmpRating.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s rate|rotate VALUE PATH PAUSE_AT\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string operation = argv[1];
    const int value = std::atoi(argv[2]);
    const QString path = QString::fromLocal8Bit(argv[3]);
    const int pauseAt = std::atoi(argv[4]);

    int steps = 0;
    SafeFile::setStepHook([&](std::string_view step) {
        ++steps;
        if (steps == pauseAt) {
            std::printf("PAUSED %d %.*s\n", steps, int(step.size()), step.data());
            std::fflush(stdout);
            for (;;)
                ::pause();
        }
        return true;
    });

    QString failure;
    if (operation == "rate") {
        if (const auto outcome = XmpRating::writeRating(value, path))
            failure = outcome->reason;
    } else if (operation == "rotate") {
        const auto result = RotationSave::writeRotation(path, value);
        if (!result.succeeded())
            failure = result.reason;
    } else {
        return 2;
    }
    std::printf("DONE %d %s\n", steps, failure.isEmpty() ? "ok" : qPrintable(QStringLiteral("failed: ") + failure));
    std::fflush(stdout);
    return failure.isEmpty() ? 0 : 1;
}
