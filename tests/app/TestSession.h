#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// A private X server (Xvfb) for tests that put windows on screen.
class XvfbServer
{
public:
    XvfbServer(int width = 2560, int height = 1600);
    ~XvfbServer();

    bool isRunning() const { return !display.isEmpty(); }
    QString display; // ":N" once started
    QString error;

private:
    QProcess process;
};

// A private D-Bus session bus, so that single-instance tests never meet the
// developer's own bus or a running Glanto.
class DBusSession
{
public:
    DBusSession();
    ~DBusSession();

    bool isRunning() const { return !address.isEmpty(); }
    QString address; // for DBUS_SESSION_BUS_ADDRESS
    QString error;

private:
    QProcess process;
};

// Reads the first line the process writes to standard output, waiting up to timeoutMs.
QString readFirstLine(QProcess &process, int timeoutMs);

// Ends a helper process: terminate, then kill if it does not go within 5 s.
void stopProcess(QProcess &process);
