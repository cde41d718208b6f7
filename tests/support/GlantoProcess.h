#pragma once

// The glanto executable running on the test's X server, driven with xdotool:
// launching it with a private environment, finding its window, sending keys
// and clicks, reading the commands it ran from its command log, and taking a
// picture of the window. The test program needs a QGuiApplication for the
// picture.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QRegularExpression>
#include <QScreen>
#include <QStringList>
#include <QThread>

#include <functional>

namespace e2e {

// Runs the event loop until done() holds; false when the time runs out.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

inline void spin(int ms)
{
    waitFor([] { return false; }, ms);
}

// xdotool's standard output, trimmed.
inline QString xdotool(const QStringList &arguments, int timeoutMs = 10000)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), arguments);
    p.waitForFinished(timeoutMs);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

class GlantoProcess
{
public:
    GlantoProcess() = default;
    GlantoProcess(const GlantoProcess &) = delete;
    GlantoProcess &operator=(const GlantoProcess &) = delete;
    ~GlantoProcess() { stop(); }

    // What every run gets: the X server, no session bus (so no other Glanto is
    // ever found), and one log line per command run.
    static QProcessEnvironment environment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("glanto.commands.debug=true"));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        return env;
    }

    bool start(const QStringList &arguments, const QProcessEnvironment &env = environment(),
               const QString &workingDirectory = {})
    {
        process.setProcessEnvironment(env);
        if (!workingDirectory.isEmpty())
            process.setWorkingDirectory(workingDirectory);
        process.start(QStringLiteral(GLANTO_BINARY), arguments);
        return process.waitForStarted();
    }

    // The program's visible window, waited for; empty when none appears.
    QString window(int timeoutMs = 20000)
    {
        if (!id.isEmpty())
            return id;
        waitFor([&] {
            id = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                          QString::number(process.processId())},
                         2000)
                     .split(QLatin1Char('\n'))
                     .value(0);
            return !id.isEmpty();
        }, timeoutMs);
        return id;
    }

    // Every visible window of the program now (the viewer, the settings
    // window, a dialog...).
    QStringList windows()
    {
        return xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                        QString::number(process.processId())},
                       2000)
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The first visible window whose frame on screen matches, waited for;
    // empty when none appears.
    QString windowWhere(const std::function<bool(const QRect &frame)> &matches, int timeoutMs = 20000)
    {
        QString found;
        waitFor([&] {
            for (const QString &candidate : windows()) {
                const QRect frame = frameOf(candidate);
                if (!frame.isEmpty() && matches(frame)) {
                    found = candidate;
                    return true;
                }
            }
            return false;
        }, timeoutMs);
        return found;
    }

    // A window's place and size on screen; empty when it is gone.
    static QRect frameOf(const QString &windowId)
    {
        static const QRegularExpression shell(
            QStringLiteral("X=(-?\\d+)\\s+Y=(-?\\d+)\\s+WIDTH=(\\d+)\\s+HEIGHT=(\\d+)"));
        const QRegularExpressionMatch m =
            shell.match(xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), windowId}));
        if (!m.hasMatch())
            return {};
        return QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
    }

    // Finds the window, raises it and lets the first photo settle.
    bool activate(int settleMs = 1500)
    {
        if (window().isEmpty())
            return false;
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), id});
        spin(settleMs);
        return true;
    }

    // The commands run so far, in order ("navigateForward 0").
    QStringList commandsRun()
    {
        readLog();
        QStringList commands;
        static const QRegularExpression line(QStringLiteral("command (\\w+ \\d+)"));
        for (const QRegularExpressionMatch &m : line.globalMatch(log))
            commands << m.captured(1);
        return commands;
    }

    // Sends a key (xdotool's name, "ctrl+shift+k") to the window.
    void key(const QString &name) { xdotool({QStringLiteral("key"), QStringLiteral("--window"), window(), name}); }

    // Sends a key and returns the commands it ran: waits for the first, then a
    // while longer so that a second run of the same press is seen too.
    QStringList press(const QString &name, int waitMs = 5000, int settleMs = 200)
    {
        const qsizetype before = commandsRun().size();
        key(name);
        waitFor([&] { return commandsRun().size() > before; }, waitMs);
        spin(settleMs);
        return commandsRun().mid(before);
    }

    // Clicks at a point of the window.
    void click(int x, int y, int button = 1)
    {
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window(), QString::number(x),
                 QString::number(y)});
        xdotool({QStringLiteral("click"), QString::number(button)});
    }

    // The window as it is on screen.
    QImage screenshot()
    {
        return QGuiApplication::primaryScreen()->grabWindow(window().toULongLong()).toImage();
    }

    // Everything the program wrote to its standard error so far.
    const QString &readLog()
    {
        log += QString::fromUtf8(process.readAllStandardError());
        return log;
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(2000);
    }

    QProcess process;
    QString log;

private:
    QString id;
};

} // namespace e2e
