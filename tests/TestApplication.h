#pragma once

#include <QCoreApplication>

// The test program's one QCoreApplication, made on first use: event loops, timers,
// queued calls and child processes need one, and gtest_main does not make it.
inline QCoreApplication &testApplication()
{
    static int argc = 1;
    static char name[] = "glanto_test";
    static char *argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}
