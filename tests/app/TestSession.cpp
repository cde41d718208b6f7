#include "TestSession.h"

#include <QElapsedTimer>

QString readFirstLine(QProcess &process, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!process.canReadLine()) {
        if (process.state() == QProcess::NotRunning || clock.elapsed() > timeoutMs)
            return {};
        process.waitForReadyRead(100);
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

XvfbServer::XvfbServer(int width, int height)
{
    // -displayfd picks a free display number and writes it to our standard output.
    // -ardelay: no key that xdotool holds while it waits for the CPU is repeated
    // by the server (its autorepeat starts at 660 ms).
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(QStringLiteral("Xvfb"),
                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                   QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(width).arg(height),
                   QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-ardelay"),
                   QStringLiteral("30000")});
    if (!process.waitForStarted(5000)) {
        error = QStringLiteral("Xvfb did not start: ") + process.errorString();
        return;
    }
    const QString number = readFirstLine(process, 15000);
    if (number.isEmpty()) {
        error = QStringLiteral("Xvfb gave no display: ")
                + QString::fromUtf8(process.readAllStandardError());
        return;
    }
    display = QLatin1Char(':') + number;
}

XvfbServer::~XvfbServer()
{
    stopProcess(process);
}

DBusSession::DBusSession()
{
    process.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    if (!process.waitForStarted(5000)) {
        error = QStringLiteral("dbus-daemon did not start: ") + process.errorString();
        return;
    }
    address = readFirstLine(process, 10000);
    if (address.isEmpty())
        error = QStringLiteral("dbus-daemon gave no address: ")
                + QString::fromUtf8(process.readAllStandardError());
}

DBusSession::~DBusSession()
{
    stopProcess(process);
}

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(2000);
}
