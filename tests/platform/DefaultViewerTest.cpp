#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A private desktop: its own data, config and system folders, so neither the
// machine's installed applications nor the developer's own choices take part.
// The shared MIME database is borrowed from the system read-only.
class PrivateDesktop
{
public:
    PrivateDesktop()
    {
        for (const char *dir : {"data/applications", "config", "system/applications", "bin"})
            QDir(root.path()).mkpath(QLatin1String(dir));
        QFile::link(QStringLiteral("/usr/share/mime"), path("system/mime"));
        // The desktop entry's TryExec names the program; any executable will do.
        QFile::link(QStringLiteral("/bin/true"), path("bin/glanto"));
        QFile::link(QStringLiteral("/bin/true"), path("bin/true")); // the other viewer's program
    }

    QString path(const char *relative) const { return root.filePath(QLatin1String(relative)); }

    void addApplication(const char *folder, const QString &id, const QByteArray &contents)
    {
        QFile file(QDir(path(folder)).filePath(id));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        // GIO finds the applications for a type through this cache, as the
        // package's install step builds it.
        ASSERT_EQ(QProcess::execute(QStringLiteral("update-desktop-database"), {path(folder)}), 0);
    }

    void installGlanto(const char *folder = "data/applications")
    {
        QFile entry(QStringLiteral(GLANTO_SOURCE_DIR "/resources/app.glanto.Glanto.desktop"));
        ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
        addApplication(folder, QStringLiteral("app.glanto.Glanto.desktop"), entry.readAll());
    }

    void addOtherViewer()
    {
        addApplication("system/applications", QStringLiteral("other-viewer.desktop"),
                       "[Desktop Entry]\nType=Application\nName=Other Viewer\nExec=true %F\n"
                       "MimeType=image/jpeg;image/png;\n");
    }

    void writeMimeApps(const QByteArray &contents)
    {
        QFile file(path("config/mimeapps.list"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    QByteArray mimeApps() const
    {
        QFile file(path("config/mimeapps.list"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Runs the probe in this desktop and returns its "name=value" lines; a
    // repeated name (the status after registering) keeps the last value.
    QMap<QString, QString> probe(bool make)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", root.path());
        env.insert("XDG_DATA_HOME", path("data"));
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("XDG_DATA_DIRS", path("system"));
        env.insert("XDG_CONFIG_DIRS", path("system"));
        env.insert("XDG_CURRENT_DESKTOP", "");
        // Only the private bin: a Glanto installed on this machine must not
        // answer for the entry's TryExec.
        env.insert("PATH", path("bin"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(DEFAULT_VIEWER_PROBE), make ? QStringList{"make"} : QStringList{});
        EXPECT_TRUE(process.waitForFinished(30000));
        stderrText = QString::fromUtf8(process.readAllStandardError());
        QMap<QString, QString> facts;
        for (const QString &line : QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0)
                facts.insert(line.left(eq), line.mid(eq + 1));
        }
        return facts;
    }

    QString stderrText;

private:
    QTemporaryDir root;
};

} // namespace

TEST(DefaultViewer, WithoutAnInstalledEntryItIsNeverTheDefaultAndRegisteringSaysWhy)
{
    PrivateDesktop desktop;
    desktop.addOtherViewer();
    // Even a mimeapps.list that names us (left from an earlier installation)
    // does not make a build-tree run the default.
    desktop.writeMimeApps("[Default Applications]\nimage/jpeg=app.glanto.Glanto.desktop\n");
    const QMap<QString, QString> facts = desktop.probe(true);
    EXPECT_EQ(facts.value("installed"), "0");
    EXPECT_EQ(facts.value("default"), "0");
    EXPECT_EQ(facts.value("button"), "1");
    EXPECT_EQ(facts.value("secondary"), "1");
    EXPECT_EQ(facts.value("registered"), "0");
    EXPECT_EQ(facts.value("failed"), "21");
    EXPECT_TRUE(facts.value("message").contains("app.glanto.Glanto.desktop")) << facts.value("message").toStdString();
    EXPECT_TRUE(desktop.stderrText.contains("DefaultViewer app.glanto.Glanto.desktop:"));
    EXPECT_EQ(desktop.mimeApps(), "[Default Applications]\nimage/jpeg=app.glanto.Glanto.desktop\n");
}

// An entry that is installed but whose program is not on the PATH is not used
// by the desktop; the message says that, and not that the entry is missing.
TEST(DefaultViewer, AnEntryWhoseProgramIsMissingIsNamedAsUnusable)
{
    PrivateDesktop desktop;
    desktop.installGlanto();
    ASSERT_TRUE(QFile::remove(desktop.path("bin/glanto")));
    const QMap<QString, QString> facts = desktop.probe(true);
    EXPECT_EQ(facts.value("installed"), "0");
    EXPECT_EQ(facts.value("registered"), "0");
    const QString message = facts.value("message");
    EXPECT_TRUE(message.contains(desktop.path("data/applications/app.glanto.Glanto.desktop"))) << message.toStdString();
    EXPECT_TRUE(message.contains("PATH")) << message.toStdString();
}

TEST(DefaultViewer, NoApplicationForJpegShowsADash)
{
    PrivateDesktop desktop;
    const QMap<QString, QString> facts = desktop.probe(false);
    EXPECT_EQ(facts.value("text"), QString::fromUtf8("现在双击照片用「-」打开"));
}

TEST(DefaultViewer, AnInstalledEntryBecomesTheDefaultForEveryType)
{
    PrivateDesktop desktop;
    desktop.addOtherViewer();
    desktop.installGlanto();
    desktop.writeMimeApps("[Default Applications]\nimage/jpeg=other-viewer.desktop\n");
    QMap<QString, QString> facts = desktop.probe(false);
    EXPECT_EQ(facts.value("installed"), "1");
    EXPECT_EQ(facts.value("default"), "0");
    EXPECT_EQ(facts.value("text"), QString::fromUtf8("现在双击照片用「Other Viewer」打开"));

    facts = desktop.probe(true);
    EXPECT_EQ(facts.value("registered"), "21");
    EXPECT_EQ(facts.value("failed"), "0");
    EXPECT_EQ(facts.value("message"), "");
    EXPECT_EQ(facts.value("default"), "1");
    EXPECT_EQ(facts.value("text"), QString::fromUtf8("Glanto 已是默认看图软件"));
    EXPECT_EQ(facts.value("secondary"), "0");
    EXPECT_EQ(facts.value("button"), "0");
    EXPECT_EQ(facts.value("png"), "1");
    const QByteArray list = desktop.mimeApps();
    EXPECT_TRUE(list.contains("image/jpeg=app.glanto.Glanto.desktop")) << list.toStdString();
    EXPECT_TRUE(list.contains("image/x-olympus-orf=app.glanto.Glanto.desktop")) << list.toStdString();

    // A fresh process reads the same from disk.
    facts = desktop.probe(false);
    EXPECT_EQ(facts.value("default"), "1");
}

TEST(DefaultViewer, DefaultForPngButNotJpegIsNotReportedAsDefault)
{
    PrivateDesktop desktop;
    desktop.addOtherViewer();
    desktop.installGlanto();
    desktop.writeMimeApps("[Default Applications]\nimage/jpeg=other-viewer.desktop\nimage/png=app.glanto.Glanto.desktop\n");
    const QMap<QString, QString> facts = desktop.probe(false);
    EXPECT_EQ(facts.value("default"), "0");
    EXPECT_EQ(facts.value("button"), "1");
}

TEST(DefaultViewer, AFailedWriteIsReportedForDisplay)
{
    PrivateDesktop desktop;
    // Installed system-wide, below another viewer the user installed for
    // themselves, which GIO then prefers.
    desktop.installGlanto("system/applications");
    desktop.addApplication("data/applications", QStringLiteral("other-viewer.desktop"),
                           "[Desktop Entry]\nType=Application\nName=Other Viewer\nExec=true %F\nMimeType=image/jpeg;\n");
    // mimeapps.list cannot be written when a folder stands in its place.
    ASSERT_TRUE(QDir().mkpath(desktop.path("config/mimeapps.list")));
    const QMap<QString, QString> facts = desktop.probe(true);
    EXPECT_EQ(facts.value("registered"), "0");
    EXPECT_EQ(facts.value("failed"), "21");
    EXPECT_TRUE(facts.value("message").startsWith(QString::fromUtf8("有 21 种格式没能设为默认："))) << facts.value("message").toStdString();
    EXPECT_EQ(facts.value("default"), "0");
    EXPECT_TRUE(desktop.stderrText.contains("DefaultViewer image/jpeg:")) << desktop.stderrText.toStdString();
}
