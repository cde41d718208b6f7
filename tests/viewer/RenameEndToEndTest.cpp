// The program on an X server, driven with xdotool: Return asks for a new name,
// the typed name reaches the disk, and the viewer goes on showing the photo
// under that name. Leaves screenshots of the alert and of the information
// panel afterwards.
#include "ViewerTestSupport.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString run(const QString &program, const QStringList &arguments, int timeoutMs = 10000)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(timeoutMs);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

class RenameEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        ASSERT_TRUE(tmp.isValid());
    }

    void TearDown() override
    {
        if (glanto.state() != QProcess::NotRunning) {
            glanto.terminate();
            if (!glanto.waitForFinished(5000))
                glanto.kill();
        }
    }

    void launch(const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("glanto.commands.debug=true"));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.filePath(QStringLiteral("config")));
        glanto.setProcessEnvironment(env);
        glanto.start(QStringLiteral(GLANTO_BINARY), arguments);
        ASSERT_TRUE(glanto.waitForStarted());
    }

    QStringList windows()
    {
        return run(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--pid", QString::number(glanto.processId())},
                   2000)
            .split('\n', Qt::SkipEmptyParts);
    }

    QStringList commandsRun()
    {
        log += QString::fromUtf8(glanto.readAllStandardError());
        QStringList commands;
        static const QRegularExpression line(QStringLiteral("command (\\w+ \\d+)"));
        for (const QRegularExpressionMatch &m : line.globalMatch(log))
            commands << m.captured(1);
        return commands;
    }

    void saveScreen(const char *variable, const char *name)
    {
        const QString out = qEnvironmentVariable(variable, QDir::temp().filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).toImage().save(out));
    }

    QTemporaryDir tmp;
    QProcess glanto;
    QString log;
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

    launch({photo});
    QString main;
    ASSERT_TRUE(waitFor([&] {
        main = windows().value(0);
        return !main.isEmpty();
    }, 20000)) << "no window appeared";
    run(QStringLiteral("xdotool"), {"windowactivate", "--sync", main});
    spin(1500);

    run(QStringLiteral("xdotool"), {"key", "--window", main, "Return"});
    ASSERT_TRUE(waitFor([&] { return commandsRun().contains(QStringLiteral("renameCurrent 0")); }, 5000));
    QString alert;
    ASSERT_TRUE(waitFor([&] {
        const QStringList all = windows();
        for (const QString &w : all) {
            if (w != main)
                alert = w;
        }
        return !alert.isEmpty();
    }, 5000)) << "no rename alert appeared";
    run(QStringLiteral("xdotool"), {"windowactivate", "--sync", alert});
    spin(500);
    // The field holds the old name, selected: typing replaces it.
    run(QStringLiteral("xdotool"), {"type", "--delay", "20", "holiday 1"});
    spin(400);
    saveScreen("GLANTO_RENAME_SHOT", "glanto-rename.png");
    run(QStringLiteral("xdotool"), {"key", "Return"});

    const QString renamed = folder + QStringLiteral("/holiday 1.jpg");
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(renamed); }, 10000))
        << "in the folder: " << qPrintable(QDir(folder).entryList(QDir::Files).join(", "));
    EXPECT_FALSE(QFileInfo::exists(photo));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("holiday 1.jpg")});

    // The information panel of the photo still on screen, under its new name.
    spin(500);
    run(QStringLiteral("xdotool"), {"windowactivate", "--sync", main});
    run(QStringLiteral("xdotool"), {"key", "--window", main, "i"});
    ASSERT_TRUE(waitFor([&] { return commandsRun().contains(QStringLiteral("toggleInfoPanel 0")); }, 5000))
        << qPrintable(commandsRun().join(", "));
    spin(1500);
    saveScreen("GLANTO_RENAMED_SHOT", "glanto-renamed.png");
    EXPECT_EQ(glanto.state(), QProcess::Running);
}

} // namespace
