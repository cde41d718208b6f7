// The hand-offs in the running program on an X server, driven with xdotool:
// the editor key, the open-with menu, the wallpaper key and the reveal key, on
// a photo named like a shell command. The editor and the open-with choice are
// a desktop entry in a private data folder whose program writes its arguments
// to a file; the desktop portal and the file manager are stand-ins on a
// private session bus that record what they were asked. The file name reaches
// each of them whole, and nothing in it ever runs.
#include "TestData.h"
#include "TestSession.h"
#include "support/GlantoProcess.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

using e2e::GlantoProcess;
using e2e::spin;
using e2e::waitFor;

QGuiApplication &testApp()
{
    static int argc = 1;
    static char name[] = "hand_offs_e2e_test";
    static char *argv[] = {name, nullptr};
    static auto *app = new QGuiApplication(argc, argv);
    return *app;
}

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");

// The desktop portal's wallpaper call and the file manager's ShowItems, as the
// real services answer them: the portal replies with its request handle, then
// sends the Response signal there.
class DesktopStandIns : public QDBusVirtualObject
{
public:
    explicit DesktopStandIns(QDBusConnection bus) : bus(std::move(bus)) {}

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        const QList<QVariant> arguments = message.arguments();
        if (message.interface() == QLatin1String("org.freedesktop.portal.Wallpaper")
            && message.member() == QLatin1String("SetWallpaperURI") && arguments.size() == 3) {
            wallpapers << arguments[1].toString();
            const QVariantMap options = qdbus_cast<QVariantMap>(arguments[2]);
            QString sender = message.service().mid(1);
            sender.replace(QLatin1Char('.'), QLatin1Char('_'));
            const QString handle = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                       .arg(sender, options.value(QStringLiteral("handle_token")).toString());
            bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
            QDBusMessage response = QDBusMessage::createSignal(handle, QStringLiteral("org.freedesktop.portal.Request"),
                                                               QStringLiteral("Response"));
            response << uint(0) << QVariantMap();
            bus.send(response);
            return true;
        }
        if (message.interface() == fileManagerService && message.member() == QLatin1String("ShowItems")
            && !arguments.isEmpty()) {
            revealed << arguments[0].toStringList();
            bus.send(message.createReply());
            return true;
        }
        return false;
    }

    QString introspect(const QString &) const override { return {}; }

    QStringList wallpapers; // URIs asked for
    QStringList revealed;   // URIs shown

private:
    QDBusConnection bus;
};

QStringList lines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList result = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    result.removeAll(QString());
    return result;
}

// A running glanto's surroundings: the private session bus, and its own
// settings, cache and data folders under root.
QProcessEnvironment sessionEnvironment(const DBusSession &session, const QDir &root)
{
    QProcessEnvironment env = GlantoProcess::environment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), session.address);
    env.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), root.filePath(QStringLiteral("cache")));
    return env;
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

TEST(HandOffsEndToEnd, EditorOpenWithWallpaperAndRevealGetTheNameWholeAndRunNothing)
{
    testApp();
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QDir root(tmp.path());
    DBusSession session;
    ASSERT_TRUE(session.isRunning()) << qPrintable(session.error);

    // The photo, named to break out of any shell string built from it.
    const QString photo = root.filePath(QStringLiteral("photos/;$(touch x)'.jpg"));
    ASSERT_TRUE(root.mkpath(QStringLiteral("photos")) && root.mkpath(QStringLiteral("work")));
    ASSERT_TRUE(QFile::copy(TestData::photo(QStringLiteral("formats/hopper.jpg")), photo));

    // The recording program and its desktop entry, the default for JPEG and
    // the chosen editor.
    const QString argumentsFile = root.filePath(QStringLiteral("arguments.txt"));
    const QString recorder = root.filePath(QStringLiteral("record-arguments"));
    ASSERT_TRUE(writeFile(recorder, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '"
                                        + QFile::encodeName(argumentsFile) + "'\n"));
    ASSERT_TRUE(QFile::setPermissions(recorder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString entry = root.filePath(QStringLiteral("data/applications/glanto-test-recorder.desktop"));
    ASSERT_TRUE(writeFile(entry, "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + QFile::encodeName(recorder)
                                     + " %F\nMimeType=image/jpeg;\n"));
    ASSERT_TRUE(writeFile(root.filePath(QStringLiteral("config/mimeapps.list")),
                          "[Default Applications]\nimage/jpeg=glanto-test-recorder.desktop\n"));
    ASSERT_TRUE(writeFile(root.filePath(QStringLiteral("config/Glanto/Glanto.conf")),
                          "[General]\neditorAppPath=" + QFile::encodeName(entry) + "\n"));

    // The stand-ins on the private bus.
    QDBusConnection bus = QDBusConnection::connectToBus(session.address, QStringLiteral("stand-ins"));
    ASSERT_TRUE(bus.isConnected());
    DesktopStandIns standIns(bus);
    ASSERT_TRUE(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), &standIns));
    ASSERT_TRUE(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &standIns));
    ASSERT_TRUE(bus.registerService(portalService));
    ASSERT_TRUE(bus.registerService(fileManagerService));

    QProcessEnvironment env = sessionEnvironment(session, root);
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("none"));
    GlantoProcess glanto;
    ASSERT_TRUE(glanto.start({photo}, env, root.filePath(QStringLiteral("work"))));
    ASSERT_TRUE(glanto.activate()) << "no window appeared";

    // The editor key: the editor gets the photo as one argument.
    EXPECT_EQ(glanto.press(QStringLiteral("ctrl+e")), QStringList{QStringLiteral("openInEditor 0")});
    ASSERT_TRUE(waitFor([&] { return lines(argumentsFile).size() >= 1; }, 10000)) << "the editor never ran";
    EXPECT_EQ(lines(argumentsFile), QStringList{photo});

    // Open with: the menu bar's first menu, Right to the File menu (its first
    // item selected on arrival), down past reveal, edit and choose-editor to
    // "Open With", into it, and its first application, the default one.
    glanto.click(12, 10);
    spin(500);
    for (const char *key : {"Right", "Down", "Down", "Down", "Down", "Right", "Return"}) {
        e2e::xdotool({QStringLiteral("key"), QString::fromLatin1(key)});
        spin(250);
    }
    ASSERT_TRUE(waitFor([&] { return lines(argumentsFile).size() >= 2; }, 10000))
        << "the open-with menu ran nothing";
    EXPECT_EQ(lines(argumentsFile), (QStringList{photo, photo}));

    // The wallpaper: the portal is asked for the file itself (a JPEG needs no
    // conversion), and answers yes.
    const QString uri = QString::fromUtf8(QUrl::fromLocalFile(photo).toEncoded());
    EXPECT_EQ(glanto.press(QStringLiteral("ctrl+shift+d")), QStringList{QStringLiteral("setWallpaper 0")});
    ASSERT_TRUE(waitFor([&] { return !standIns.wallpapers.isEmpty(); }, 10000)) << "the portal was never asked";
    EXPECT_EQ(standIns.wallpapers, QStringList{uri});

    // Reveal: the file manager is asked to show the file.
    EXPECT_EQ(glanto.press(QStringLiteral("ctrl+r")), QStringList{QStringLiteral("revealInFinder 0")});
    ASSERT_TRUE(waitFor([&] { return !standIns.revealed.isEmpty(); }, 10000)) << "the file manager was never asked";
    EXPECT_EQ(standIns.revealed, QStringList{uri});

    // Nothing ran from the name: no file "x" anywhere under the test's folder.
    spin(500);
    QDirIterator all(root.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (all.hasNext())
        EXPECT_NE(QFileInfo(all.next()).fileName(), QStringLiteral("x")) << qPrintable(all.filePath());
    EXPECT_EQ(lines(argumentsFile).size(), 2);
    EXPECT_EQ(glanto.process.state(), QProcess::Running);
    glanto.stop();
    bus.unregisterService(portalService);
    bus.unregisterService(fileManagerService);
}

} // namespace

namespace {

// A second launch (a photo double-clicked in a file manager) while Rename is
// open: the dialog renames the photo it was opened for, with that photo still
// on screen, and the second photo comes up once the dialog has closed.
TEST(HandOffsEndToEnd, ASecondLaunchWaitsForAnOpenRename)
{
    testApp();
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QDir root(tmp.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("photos")));
    const QString first = root.filePath(QStringLiteral("photos/a.jpg"));
    const QString second = root.filePath(QStringLiteral("photos/b.jpg"));
    for (const QString &photo : {first, second})
        ASSERT_TRUE(QFile::copy(TestData::photo(QStringLiteral("formats/hopper.jpg")), photo));
    DBusSession session;
    ASSERT_TRUE(session.isRunning()) << qPrintable(session.error);

    QProcessEnvironment env = sessionEnvironment(session, root);
    env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    GlantoProcess glanto;
    ASSERT_TRUE(glanto.start({first}, env));
    ASSERT_TRUE(glanto.activate()) << "no window appeared";
    const auto title = [&] { return e2e::xdotool({QStringLiteral("getwindowname"), glanto.window()}); };
    ASSERT_TRUE(waitFor([&] { return title().startsWith(QStringLiteral("a.jpg")); }, 10000)) << qPrintable(title());

    glanto.key(QStringLiteral("Return"));
    ASSERT_TRUE(waitFor([&] { return glanto.windows().size() >= 2; }, 10000)) << "Rename never opened";
    QStringList dialogs = glanto.windows();
    dialogs.removeAll(glanto.window());
    ASSERT_FALSE(dialogs.isEmpty());
    const QString dialog = dialogs.first();
    // No window manager here: the keyboard goes to the dialog by hand.
    e2e::xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), dialog});
    spin(300); // the program takes the focus in after the server has given it
    e2e::xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), QStringLiteral("renamed")});

    QProcess launch;
    launch.setProcessEnvironment(env);
    launch.start(QStringLiteral(GLANTO_BINARY), {second});
    ASSERT_TRUE(launch.waitForFinished(15000)) << "the second launch did not end";
    EXPECT_EQ(launch.exitCode(), 0) << launch.readAllStandardError().constData();
    spin(1000);
    EXPECT_TRUE(title().startsWith(QStringLiteral("a.jpg"))) << qPrintable(title());

    // Tab to Rename and Space: here, without a window manager, the dialog
    // takes typing but not Return once the window was brought forward (under
    // Openbox it takes Return too).
    e2e::xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), dialog});
    spin(300);
    e2e::xdotool({QStringLiteral("key"), QStringLiteral("Tab")});
    spin(200);
    e2e::xdotool({QStringLiteral("key"), QStringLiteral("space")});
    EXPECT_TRUE(waitFor([&] { return QFile::exists(root.filePath(QStringLiteral("photos/renamed.jpg"))); }, 10000));
    EXPECT_FALSE(QFile::exists(first));
    EXPECT_TRUE(QFile::exists(second));
    EXPECT_TRUE(waitFor([&] { return title().startsWith(QStringLiteral("b.jpg")); }, 10000)) << qPrintable(title());
    glanto.stop();
}

} // namespace
