// The program on an X server, driven with xdotool: Return asks for a new name,
// the typed name reaches the disk, and the viewer goes on showing the photo
// under that name. Leaves screenshots of the alert and of the information
// panel afterwards.
#include "ViewerTestSupport.h"
#include "support/GlantoProcess.h"

#include <cstdio>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class RenameEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        ASSERT_TRUE(tmp.isValid());
    }

    void saveScreen(const char *variable, const char *name)
    {
        const QString out = qEnvironmentVariable(variable, QDir::temp().filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).toImage().save(out));
    }

    QTemporaryDir tmp;
    e2e::GlantoProcess glanto;
};

TEST_F(RenameEndToEndTest, ReturnTypeAndReturnRenamesTheShownPhoto)
{
    const QString source = TestData::photo(QStringLiteral("exif/Canon EOS 7D.jpg"));
    ASSERT_TRUE(QFileInfo(source).isFile()) << qPrintable(source);
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("photos")));
    const QString folder = tmp.filePath(QStringLiteral("photos"));
    const QString photo = folder + QStringLiteral("/camera.jpg");
    ASSERT_TRUE(QFile::copy(source, photo));
    QFile(photo).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);

    QProcessEnvironment env = e2e::GlantoProcess::environment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.filePath(QStringLiteral("config")));
    ASSERT_TRUE(glanto.start({photo}, env));
    ASSERT_TRUE(glanto.activate()) << "no window appeared";
    const QString main = glanto.window();

    glanto.key(QStringLiteral("Return"));
    ASSERT_TRUE(waitFor([&] { return glanto.commandsRun().contains(QStringLiteral("renameCurrent 0")); }, 5000));
    QString alert;
    ASSERT_TRUE(waitFor([&] {
        const QStringList all = glanto.windows();
        for (const QString &w : all) {
            if (w != main)
                alert = w;
        }
        return !alert.isEmpty();
    }, 5000)) << "no rename alert appeared";
    e2e::xdotool({"windowactivate", "--sync", alert});
    // Keys go to the window with the input focus: on a loaded machine the alert can
    // be mapped some time before it has it, and a name typed then is lost.
    ASSERT_TRUE(waitFor([&] { return e2e::xdotool({"getwindowfocus"}).trimmed() == alert; }, 10000))
        << "the rename alert never took the keyboard focus";
    spin(500);
    // The field holds the old name, selected: typing replaces it.
    e2e::xdotool({"type", "--delay", "20", "holiday 1"});
    spin(400);
    saveScreen("GLANTO_RENAME_SHOT", "glanto-rename.png");
    const QString renamed = folder + QStringLiteral("/holiday 1.jpg");
    // On a loaded machine a key sent with xdotool is now and then never delivered:
    // the alert then stays open with the name typed. Return is pressed again only
    // in that state, so a press cannot reach the viewer behind and ask again.
    int presses = 0;
    while (presses < 3 && !QFileInfo::exists(renamed) && glanto.windows().contains(alert)) {
        e2e::xdotool({"key", "Return"});
        ++presses;
        waitFor([&] { return QFileInfo::exists(renamed) || !glanto.windows().contains(alert); }, 5000);
    }
    if (presses > 1)
        std::fprintf(stderr, "Return was pressed %d times before the alert answered\n", presses);
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(renamed); }, 10000))
        << "in the folder: " << qPrintable(QDir(folder).entryList(QDir::Files).join(", "));
    EXPECT_FALSE(QFileInfo::exists(photo));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("holiday 1.jpg")});

    // The information panel of the photo still on screen, under its new name.
    spin(500);
    e2e::xdotool({"windowactivate", "--sync", main});
    glanto.key(QStringLiteral("i"));
    ASSERT_TRUE(waitFor([&] { return glanto.commandsRun().contains(QStringLiteral("toggleInfoPanel 0")); }, 5000))
        << qPrintable(glanto.commandsRun().join(", "));
    spin(1500);
    saveScreen("GLANTO_RENAMED_SHOT", "glanto-renamed.png");
    EXPECT_EQ(glanto.process.state(), QProcess::Running);
}

} // namespace
