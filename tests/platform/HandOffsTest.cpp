#include "platform/Applications.h"
#include "platform/Editor.h"
#include "platform/Wallpaper.h"

#include "settings/Shortcuts.h"
#include "settings/Texts.h"

#include "TestApplication.h"

#include "TestData.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <sys/stat.h>

namespace {

// The name a careless hand-off would run as a command.
const QString hostileName = QStringLiteral(";$(touch x)'.jpg");

void writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    file.write(bytes);
    file.close();
    if (executable)
        ::chmod(QFile::encodeName(path).constData(), 0755);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool waitFor(const std::function<bool()> &condition, int ms = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

// Nothing was run: no file "x" appeared anywhere a shell would have made it.
void expectNothingRan(const QString &folder)
{
    EXPECT_FALSE(QFileInfo::exists(QDir(folder).filePath("x")));
    EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath("x")));
    EXPECT_FALSE(QFileInfo::exists(QDir::home().filePath("x")));
}


// A desktop portal on the test's own session bus: it answers SetWallpaperURI
// with a request handle and, a moment later, the Response the test chose.
class FakePortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Wallpaper")
public:
    explicit FakePortal(uint response)
        : response(response)
        , bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-portal")))
    {
        registered = bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
                                        QDBusConnection::ExportAllSlots)
                     && bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~FakePortal() override
    {
        bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-portal"));
    }

    bool registered = false;
    QStringList uris;

public Q_SLOTS:
    QDBusObjectPath SetWallpaperURI(const QString &parent, const QString &uri, const QVariantMap &options,
                                    const QDBusMessage &message)
    {
        Q_UNUSED(parent);
        uris << uri;
        QString sender = message.service().mid(1);
        sender.replace('.', '_');
        const QString path = "/org/freedesktop/portal/desktop/request/" + sender + "/"
                             + options.value("handle_token").toString();
        QTimer::singleShot(50, this, [this, path] {
            QDBusMessage signal = QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
            signal << response << QVariantMap();
            bus.send(signal);
        });
        return QDBusObjectPath(path);
    }

private:
    uint response;
    QDBusConnection bus;
};

// Desktop entries and a fake desktop tool in the test's private XDG folders,
// written before GIO first reads them. Each program records its arguments one
// per line.
class HandOffs : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        testApplication();
        Texts::setLanguage(QStringLiteral("zh"));
        const QString data = qEnvironmentVariable("XDG_DATA_HOME");
        ASSERT_FALSE(data.isEmpty());
        apps = data + "/applications";
        bin = QDir::homePath() + "/bin";
        records = QDir::homePath() + "/records";
        QDir(records).removeRecursively();
        QDir().mkpath(records);
        const QByteArray recorder = "#!/bin/sh\nout=\"" + records.toUtf8() + "/$(basename \"$0\").$$\"\n"
                                    "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$out.part\"\nmv \"$out.part\" \"$out\"\n";
        writeFile(bin + "/editor-recorder", recorder, true);
        writeFile(bin + "/gsettings", recorder, true);
        const auto entry = [](const char *name, const QString &exec) {
            return QByteArray("[Desktop Entry]\nType=Application\nName=") + name + "\nExec=" + exec.toUtf8()
                   + "\nMimeType=image/jpeg;\n";
        };
        writeFile(apps + "/test-editor.desktop", entry("Test Editor", bin + "/editor-recorder %f"));
        writeFile(apps + "/zz-default.desktop", entry("Zed Default", bin + "/editor-recorder %U"));
        writeFile(apps + "/aa-viewer.desktop", entry("aa viewer", bin + "/editor-recorder %F"));
        writeFile(apps + "/app.glanto.Glanto.desktop", entry("Glanto", bin + "/editor-recorder %F"));
        writeFile(apps + "/mimeinfo.cache", "[MIME Cache]\nimage/jpeg=test-editor.desktop;zz-default.desktop;"
                                             "aa-viewer.desktop;app.glanto.Glanto.desktop;\n");
        writeFile(qEnvironmentVariable("XDG_CONFIG_HOME") + "/mimeapps.list",
                  "[Default Applications]\nimage/jpeg=zz-default.desktop;\n");
        qputenv("PATH", bin.toUtf8() + ":" + qgetenv("PATH"));
    }

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        for (const QFileInfo &old : QDir(records).entryInfoList(QDir::Files))
            QFile::remove(old.absoluteFilePath());
    }

    QStringList recorded(const QString &program) const
    {
        const QFileInfoList files = QDir(records).entryInfoList({program + ".*"}, QDir::Files);
        if (files.isEmpty() || files.first().fileName().endsWith(".part"))
            return {};
        return QString::fromUtf8(readAll(files.first().absoluteFilePath())).split('\n', Qt::SkipEmptyParts);
    }

    QString jpegNamed(const QString &name) const
    {
        const QString path = folder.filePath(name);
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        EXPECT_TRUE(image.save(path, "JPEG"));
        return path;
    }

    QTemporaryDir folder{QDir::homePath() + "/photos-XXXXXX"};
    static inline QString apps, bin, records;
};

// The Trash message names Ctrl+Z only while Ctrl+Z undoes: a person's own
// binding of it takes the key.
TEST_F(HandOffs, TheTrashMessageNamesCtrlZOnlyWhileItUndoes)
{
    Shortcuts::resetAll();
    EXPECT_EQ(HandOff::trashed("/p/a.jpg").text, Texts::format("msg.trashed", {"a.jpg"}));
    Shortcuts::setCombo(Shortcuts::comboForKey(Qt::Key_Z, Qt::ControlModifier), ShortcutAction::rotateCW);
    EXPECT_EQ(HandOff::trashed("/p/a.jpg").text, Texts::format("msg.trashedPlain", {"a.jpg"}));
    Shortcuts::resetAll();
}

TEST_F(HandOffs, EditTargetPrefersARawSiblingInAlphabeticalOrder)
{
    const QString jpeg = jpegNamed("IMG_7.JPG");
    EXPECT_EQ(Editor::editTarget(jpeg), jpeg);
    writeFile(folder.filePath("IMG_7.cr2"), "raw");
    EXPECT_EQ(Editor::editTarget(jpeg), folder.filePath("IMG_7.cr2"));
    writeFile(folder.filePath("IMG_7.CR2"), "raw");
    EXPECT_EQ(Editor::editTarget(jpeg), folder.filePath("IMG_7.cr2")); // lower case is tried first
    writeFile(folder.filePath("IMG_7.ARW"), "raw");
    EXPECT_EQ(Editor::editTarget(jpeg), folder.filePath("IMG_7.ARW"));
    // A RAW photo is its own target, and a folder named like a RAW file is not a sibling.
    EXPECT_EQ(Editor::editTarget(folder.filePath("IMG_7.CR2")), folder.filePath("IMG_7.CR2"));
    QDir(folder.path()).mkdir("IMG_8.arw");
    const QString other = jpegNamed("IMG_8.jpg");
    EXPECT_EQ(Editor::editTarget(other), other);
}

TEST_F(HandOffs, MenuTitleSpacesLatinNamesInChineseText)
{
    EXPECT_EQ(Editor::menuTitle(std::nullopt), u"在后期软件中编辑…");
    EXPECT_EQ(Editor::menuTitle(QStringLiteral("GIMP")), u"在 GIMP 中编辑");
    EXPECT_EQ(Editor::menuTitle(QStringLiteral("光影魔术手")), u"在光影魔术手中编辑");
    EXPECT_EQ(Editor::insertName(QStringLiteral("Edit in %@"), QStringLiteral("GIMP")), u"Edit in GIMP");
}

TEST_F(HandOffs, OpenWithListsTheDefaultFirstThenByNameWithoutThisProgram)
{
    const QVector<Application> list = Applications::forFile(jpegNamed("a.jpg"));
    QStringList ours;
    for (const Application &app : list) {
        if (app.desktopFile.startsWith(apps))
            ours << app.displayName;
    }
    EXPECT_EQ(ours, (QStringList{"Zed Default", "aa viewer", "Test Editor"}));
    ASSERT_FALSE(list.isEmpty());
    EXPECT_EQ(list.first().id, u"zz-default.desktop");

    const std::optional<Application> editor = Applications::fromDesktopFile(apps + "/test-editor.desktop");
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->displayName, u"Test Editor");
    EXPECT_FALSE(Applications::fromDesktopFile(folder.filePath("none.desktop")));
}

TEST_F(HandOffs, AHostileFileNameReachesTheEditorAsOneArgumentAndRunsNothing)
{
    const QString photo = jpegNamed(hostileName);
    const std::optional<QString> error = Applications::launch(apps + "/test-editor.desktop", {photo});
    ASSERT_FALSE(error) << qPrintable(*error);
    ASSERT_TRUE(waitFor([&] { return !recorded("editor-recorder").isEmpty(); }));
    EXPECT_EQ(recorded("editor-recorder"), QStringList{photo});
    expectNothingRan(folder.path());

    const std::optional<QString> missing = Applications::launch(folder.filePath("none.desktop"), {photo});
    EXPECT_TRUE(missing.has_value());

    // Through the viewer's hand-off, with a RAW beside the photo: the RAW goes, and the message names it.
    for (const QFileInfo &old : QDir(records).entryInfoList(QDir::Files))
        QFile::remove(old.absoluteFilePath());
    const QString raw = folder.filePath(";$(touch x)'.NEF");
    writeFile(raw, "raw");
    const HandOffMessage message = HandOff::openWith(apps + "/test-editor.desktop", photo);
    EXPECT_EQ(message.text, QStringLiteral("已用 Test Editor 打开 ") + QFileInfo(raw).fileName());
    EXPECT_EQ(message.seconds, 2.0);
    ASSERT_TRUE(waitFor([&] { return !recorded("editor-recorder").isEmpty(); }));
    EXPECT_EQ(recorded("editor-recorder"), QStringList{raw});
    EXPECT_EQ(HandOff::openWith(folder.filePath("none.desktop"), photo).seconds, 4.0);
    expectNothingRan(folder.path());
}

TEST_F(HandOffs, WallpaperFallsBackToTheDesktopSettingWithTheFileAsOneArgument)
{
    qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    const QString photo = jpegNamed(hostileName);
    std::optional<std::optional<QString>> answer;
    DesktopWallpaper().setWallpaper(photo, [&](std::optional<QString> error) { answer = error; });
    ASSERT_TRUE(waitFor([&] { return answer.has_value(); }));
    EXPECT_FALSE(answer->has_value()) << qPrintable(answer->value_or(QString()));
    const QStringList args = recorded("gsettings");
    ASSERT_EQ(args.size(), 4);
    EXPECT_EQ(args.mid(0, 3), (QStringList{"set", "org.gnome.desktop.background", "picture-uri"}));
    EXPECT_EQ(QUrl(args[3]).toLocalFile(), photo);
    expectNothingRan(folder.path());

    // A desktop without any known setting is a failure with a reason, not a
    // success, and leaves the conversion the desktop may be showing.
    ASSERT_TRUE(QDir().mkpath(wallpaperFolder()));
    const QString shown = wallpaperFolder() + "/wallpaper-shown.jpg";
    ASSERT_TRUE(QFile::copy(jpegNamed("shown.jpg"), shown));
    qputenv("XDG_CURRENT_DESKTOP", "Unheard-of");
    answer.reset();
    DesktopWallpaper().setWallpaper(photo, [&](std::optional<QString> error) { answer = error; });
    ASSERT_TRUE(waitFor([&] { return answer.has_value(); }));
    EXPECT_EQ(answer->value_or(QString()), Texts::text("msg.wallpaperUnsupported"));
    EXPECT_TRUE(QFileInfo::exists(shown));
}

// Two requests in a row: the latest wins, the earlier one is dropped unasked.
TEST_F(HandOffs, TheLatestWallpaperRequestWins)
{
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    const QString first = jpegNamed("first.jpg");
    const QString second = jpegNamed("second.jpg");
    QStringList answers;
    DesktopWallpaper().setWallpaper(first, [&](std::optional<QString>) { answers << first; });
    DesktopWallpaper().setWallpaper(second, [&](std::optional<QString>) { answers << second; });
    ASSERT_TRUE(waitFor([&] { return !answers.isEmpty(); }));
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(answers, QStringList{second});
    const QFileInfoList runs = QDir(records).entryInfoList({"gsettings.*"}, QDir::Files);
    ASSERT_EQ(runs.size(), 2) << "picture-uri and picture-uri-dark, once";
    for (const QFileInfo &run : runs)
        EXPECT_EQ(QUrl(QString::fromUtf8(readAll(run.absoluteFilePath())).split('\n', Qt::SkipEmptyParts).last()).toLocalFile(),
                  second);
}

TEST_F(HandOffs, RawWallpaperIsHandedOverAsAnUprightJpegInTheDataFolder)
{
    const QString raw = folder.filePath(";$(touch x)'.nef");
    const QString nef = TestData::photo(QStringLiteral("raw/Nikon.nef"));
    if (!QFileInfo::exists(nef))
        GTEST_SKIP() << TestData::missingCorpusMessage();
    ASSERT_TRUE(QFile::copy(nef, raw));
    // The desktop may still show an earlier conversion: making a new one
    // leaves it, only the desktop's taking the new one removes it.
    ASSERT_TRUE(QDir().mkpath(wallpaperFolder()));
    const QString earlier = wallpaperFolder() + "/wallpaper-earlier.jpg";
    ASSERT_TRUE(QFile::copy(jpegNamed("earlier.jpg"), earlier));
    QString error;
    const std::optional<QString> file = wallpaperFileFor(raw, &error);
    ASSERT_TRUE(file) << qPrintable(error);
    EXPECT_TRUE(QFileInfo::exists(earlier));
    removeOtherWallpapers(*file);
    EXPECT_FALSE(QFileInfo::exists(earlier));
    EXPECT_TRUE(QFileInfo::exists(*file));
    EXPECT_TRUE(file->startsWith(wallpaperFolder() + "/"));
    EXPECT_TRUE(file->endsWith(".jpg"));
    QImage converted(*file);
    EXPECT_FALSE(converted.isNull());
    EXPECT_TRUE(QFileInfo::exists(raw)); // the photo itself is untouched
    // A plain JPEG is handed over as it is.
    const QString jpeg = jpegNamed("plain.jpg");
    EXPECT_EQ(wallpaperFileFor(jpeg, &error), jpeg);
    EXPECT_FALSE(wallpaperFileFor(folder.filePath("missing.jpg"), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(HandOffs, ThePortalIsAskedFirstAndACancelIsNotASuccess)
{
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    const QString photo = jpegNamed(hostileName);
    for (const uint response : {0u, 1u}) {
        FakePortal portal(response);
        ASSERT_TRUE(portal.registered);
        std::optional<std::optional<QString>> answer;
        DesktopWallpaper().setWallpaper(photo, [&](std::optional<QString> error) { answer = error; });
        ASSERT_TRUE(waitFor([&] { return answer.has_value(); }));
        ASSERT_EQ(portal.uris.size(), 1);
        EXPECT_EQ(QUrl(portal.uris[0]).toLocalFile(), photo);
        if (response == 0)
            EXPECT_FALSE(answer->has_value());
        else
            EXPECT_EQ(answer->value_or(QString()), Texts::text("msg.wallpaperCancelled"));
        // The portal answered, so the desktop's own setting is left alone.
        EXPECT_TRUE(recorded("gsettings").isEmpty());
    }
    expectNothingRan(folder.path());
}

TEST(WallpaperCommands, PlasmaScriptKeepsTheNameInsideItsString)
{
    const QString script = plasmaWallpaperScript(QStringLiteral("/p/a\"'); evil(); ('\\.jpg"));
    EXPECT_TRUE(script.contains(QStringLiteral("writeConfig('Image', \"file:///p/a%22');%20evil();%20('%5C.jpg\")")))
        << qPrintable(script);
    EXPECT_EQ(desktopWallpaperCommands("MATE", "/p/a.jpg").front().arguments.last(), u"/p/a.jpg");
    EXPECT_TRUE(desktopWallpaperCommands("", "/p/a.jpg").empty());
}

} // namespace

#include "HandOffsTest.moc"
