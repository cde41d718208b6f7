#include "app/LaunchOptions.h"
#include "platform/FileNames.h"

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Only these paths "exist" in the tests of the first-content decision.
bool fakeExists(const QString &path)
{
    return path == QLatin1String("/photos") || path == QLatin1String("/photos/a.jpg");
}

FirstContent decide(const QStringList &arguments, const std::optional<QString> &pending = {})
{
    return chooseFirstContent(parseLaunchArguments(arguments, fakeExists), pending, fakeExists);
}

} // namespace

TEST(LaunchOptions, DashArgumentsAreSkippedAndTheFirstPathWins)
{
    // A process-serial-number style switch before the folder, then more paths.
    const FirstContent first = decide({"-psn_0_12345", "/photos", "/photos/a.jpg"});
    EXPECT_EQ(first.kind, FirstContent::Kind::open);
    EXPECT_EQ(first.path, "/photos");

    EXPECT_EQ(decide({"--unknown", "-x", "/photos/a.jpg", "/photos"}).path, "/photos/a.jpg");

    // After "--" a name that starts with "-" is a path, and nothing is a switch.
    const LaunchOptions dashed = parseLaunchArguments({"--", "-dash.jpg", "--help"});
    EXPECT_EQ(dashed.firstPath, "-dash.jpg");
    EXPECT_FALSE(dashed.unknownSwitch);
    EXPECT_FALSE(dashed.showHelp);
    EXPECT_EQ(parseLaunchArguments({"/photos", "--", "-dash.jpg"}).firstPath, "/photos");
}

TEST(LaunchOptions, AFileAddressIsItsPathAndAnUnknownSwitchIsNamed)
{
    EXPECT_EQ(parseLaunchArguments({"file:///photos/a%20b.jpg"}).firstPath, "/photos/a b.jpg");
    // With this machine named as the host, as some programs write it; another
    // machine's file is no local path.
    EXPECT_EQ(parseLaunchArguments({"file://localhost/photos/a.jpg"}).firstPath, "/photos/a.jpg");
    EXPECT_EQ(parseLaunchArguments({"file://" + QSysInfo::machineHostName() + "/photos/a.jpg"}).firstPath,
              "/photos/a.jpg");
    EXPECT_EQ(FileNames::localPath(QUrl("file://elsewhere.example/photos/a.jpg")), std::nullopt);
    EXPECT_EQ(FileNames::localPath(QUrl("https://example.org/a.jpg")), std::nullopt);
    // An address no local path reaches is kept whole, not read as a path under
    // the current folder ("sftp:/nas/...").
    for (const QString address : {"file://elsewhere.example/photos/a.jpg", "sftp://nas.invalid/photos/a.jpg",
                                  "smb://nas.invalid/share/a.jpg"}) {
        EXPECT_TRUE(FileNames::isAddress(address));
        EXPECT_EQ(parseLaunchArguments({address}).firstPath, address);
    }
    EXPECT_FALSE(FileNames::isAddress("photos/sftp:/a.jpg"));
    EXPECT_FALSE(FileNames::isAddress("/photos/a.jpg"));

    // A name that is not valid text here arrives with its bad byte replaced;
    // its folder lists it under that name and says why it cannot be shown.
    QTemporaryDir dir;
    const QByteArray raw = QFile::encodeName(dir.path()) + "/caf\xe9.jpg";
    const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const QString decoded = dir.filePath(QStringLiteral("caf\uFFFD.jpg"));
    EXPECT_EQ(chooseFirstContent(parseLaunchArguments({"/gone", decoded}), {}).path, decoded);
    EXPECT_FALSE(FileNames::isThere(dir.filePath(QStringLiteral("gone\uFFFD/caf\uFFFD.jpg"))));
    // A folder whose name is not valid text is not there: nothing in it can be reached.
    ASSERT_EQ(::mkdir((QFile::encodeName(dir.path()) + "/Vacances \xe9t\xe9").constData(), 0755), 0);
    EXPECT_FALSE(FileNames::isThere(dir.filePath(QStringLiteral("Vacances \uFFFDt\uFFFD"))));
    EXPECT_TRUE(FileNames::isThere(decoded));
    EXPECT_EQ(decide({"file:///photos/a.jpg"}).path, "/photos/a.jpg");
    EXPECT_EQ(parseLaunchArguments({"file-list.jpg"}).firstPath, "file-list.jpg");

    const LaunchOptions typo = parseLaunchArguments({"--verison", "-x", "/photos"});
    EXPECT_EQ(typo.unknownSwitch, "--verison");
    EXPECT_EQ(typo.firstPath, "/photos");
    EXPECT_TRUE(unknownSwitchText("--verison").contains("--verison"));
    for (const QStringList &known : {QStringList{"--help"}, QStringList{"-v"}, QStringList{"--cleanup-report", "-x"},
                                     QStringList{"--shot", "a.png", "/photos"}, QStringList{"/photos"}})
        EXPECT_FALSE(parseLaunchArguments(known).unknownSwitch) << known.join(' ').toStdString();
}

TEST(LaunchOptions, MissingOrNoPathShowsTheOpenPanel)
{
    EXPECT_EQ(decide({}).kind, FirstContent::Kind::openPanel);
    EXPECT_EQ(decide({"-psn_0_1"}).kind, FirstContent::Kind::openPanel);
    // Of several paths (a file manager's selection) the first that is there opens;
    // when none is, the first is the one named as missing.
    EXPECT_EQ(decide({"/gone", "/photos"}).path, "/photos");
    EXPECT_EQ(parseLaunchArguments({"/gone", "/also-gone"}, fakeExists).firstPath, "/gone");
    EXPECT_EQ(decide({"/gone", "/also-gone"}).kind, FirstContent::Kind::openPanel);
    EXPECT_EQ(decide({""}).kind, FirstContent::Kind::openPanel);
}

TEST(LaunchOptions, PendingRequestWinsOverTheCommandLine)
{
    const FirstContent first = decide({"/photos"}, QString("/photos/a.jpg"));
    EXPECT_EQ(first.kind, FirstContent::Kind::open);
    EXPECT_EQ(first.path, "/photos/a.jpg");
    // Even when nothing on the command line would open.
    EXPECT_EQ(decide({}, QString("/photos")).kind, FirstContent::Kind::open);
}

TEST(LaunchOptions, CleanupReportNeedsAFolderAfterIt)
{
    LaunchOptions report = parseLaunchArguments({"--cleanup-report", "/photos"});
    ASSERT_TRUE(report.cleanupReportFolder);
    EXPECT_EQ(*report.cleanupReportFolder, "/photos");

    // Whatever follows is the folder, even something that looks like a switch.
    EXPECT_EQ(parseLaunchArguments({"--cleanup-report", "-odd"}).cleanupReportFolder, "-odd");

    // Last on the line: ignored, and the launch is a normal one.
    LaunchOptions last = parseLaunchArguments({"/photos", "--cleanup-report"});
    EXPECT_FALSE(last.cleanupReportFolder);
    EXPECT_FALSE(last.selfCheck);
    EXPECT_EQ(chooseFirstContent(last, {}, fakeExists).path, "/photos");
    EXPECT_EQ(chooseFirstContent(parseLaunchArguments({"--cleanup-report"}), {}, fakeExists).kind,
              FirstContent::Kind::openPanel);
}

TEST(LaunchOptions, ShotSkipsTheFirstContent)
{
    LaunchOptions shot = parseLaunchArguments({"--shot", "/tmp/out.png", "/photos"});
    EXPECT_TRUE(shot.selfCheck);
    EXPECT_EQ(shot.shotPath, "/tmp/out.png");
    EXPECT_EQ(shot.shotLocation, "/photos");
    EXPECT_EQ(chooseFirstContent(shot, QString("/photos"), fakeExists).kind, FirstContent::Kind::nothing);

    LaunchOptions noLocation = parseLaunchArguments({"--shot", "/tmp/out.png", "--bench"});
    EXPECT_EQ(noLocation.shotPath, "/tmp/out.png");
    EXPECT_FALSE(noLocation.shotLocation);

    // "--shot" with nothing after it takes no picture.
    EXPECT_FALSE(parseLaunchArguments({"--shot"}).shotPath);
}

TEST(LaunchOptions, SelfCheckSwitchesMakeAPrivateRun)
{
    EXPECT_TRUE(parseLaunchArguments({"--bench"}).selfCheck);
    EXPECT_TRUE(parseLaunchArguments({"/photos", "--zoomtest"}).selfCheck);
    EXPECT_FALSE(parseLaunchArguments({"/photos", "-psn_0_1", "--verbose"}).selfCheck);
    EXPECT_FALSE(isSelfCheckSwitch("--cleanup-report"));
    EXPECT_TRUE(isSelfCheckSwitch("--xhs-shots"));
}

TEST(LaunchOptions, HelpAndVersionAnswerWithoutAWindow)
{
    EXPECT_FALSE(informationText(parseLaunchArguments({"photo.jpg"}), "1.2.3"));
    EXPECT_EQ(informationText(parseLaunchArguments({"--version"}), "1.2.3"), QString("Glanto 1.2.3\n"));
    EXPECT_EQ(informationText(parseLaunchArguments({"-v"}), "1.2.3"), QString("Glanto 1.2.3\n"));
    const std::optional<QString> help = informationText(parseLaunchArguments({"--version", "--help", "x.jpg"}), "1.2.3");
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->startsWith("Usage: glanto [--] [PATH...]"));
    EXPECT_TRUE(help->contains("--cleanup-report FOLDER"));
    // The switches are not paths.
    EXPECT_EQ(parseLaunchArguments({"--help", "x.jpg"}).firstPath, QString("x.jpg"));
}

TEST(LaunchOptions, CleanupShotOpensTheFolderAndNamesItsPicture)
{
    // The picture's name is taken off the line; the folder is what opens.
    const LaunchOptions named = parseLaunchArguments({"--cleanup-shot", "/tmp/review.png", "/photos"});
    EXPECT_TRUE(named.selfCheck);
    EXPECT_EQ(named.cleanupShotPath, "/tmp/review.png");
    EXPECT_EQ(named.firstPath, "/photos");
    EXPECT_EQ(chooseFirstContent(named, {}, fakeExists).path, "/photos");

    // Without a picture name the folder after the switch is still the folder.
    const LaunchOptions unnamed = parseLaunchArguments({"--cleanup-shot", "/photos"});
    EXPECT_EQ(unnamed.cleanupShotPath, "cleanup-shot.png");
    EXPECT_EQ(unnamed.firstPath, "/photos");
    EXPECT_FALSE(parseLaunchArguments({"/photos"}).cleanupShotPath);
}
