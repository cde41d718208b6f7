#include "settings/Settings.h"
#include "settings/SortKey.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

QString configFilePath()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/Glanto/Glanto.conf";
}

// Direct access to the stored values, bypassing the typed getters.
QVariant rawValue(const char *key)
{
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Glanto", "Glanto");
    return raw.value(QLatin1String(key));
}

void setRawValue(const char *key, const QVariant &value)
{
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Glanto", "Glanto");
    raw.setValue(QLatin1String(key), value);
}

// What another program (or the user with an editor) leaves in the file.
void writeConfigText(const QByteArray &text)
{
    QDir().mkpath(QFileInfo(configFilePath()).path());
    QFile file(configFilePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty()) << "tests must not touch the real config";
        QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Glanto", "Glanto");
        raw.clear();
        raw.sync();
        QFile::remove(configFilePath());
    }
};

TEST_F(SettingsTest, FreshInstallationReadsTheDefaultsWithoutWritingAnything)
{
    EXPECT_EQ(Settings::sortKey(), SortKey::name);
    EXPECT_EQ(Settings::slideshowInterval(), 3);
    EXPECT_FALSE(Settings::editorAppPath().has_value());
    EXPECT_FALSE(Settings::lastUpdateCheck().has_value());
    EXPECT_TRUE(Settings::customShortcuts().isEmpty());
    EXPECT_FALSE(QFile::exists(configFilePath()));
}

TEST_F(SettingsTest, WritesGoToTheUsersConfigFileAtOnce)
{
    Settings::setHdrEnabled(true);
    // No sync, no object kept alive: the file must already hold the value.
    QFile file(configFilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("hdrEnabled=true")) << text.constData();
}

TEST_F(SettingsTest, EveryBooleanRoundTripsUnderItsOwnKey)
{
    struct Flag { const char *key; bool (*get)(); void (*set)(bool); };
    const Flag flags[] = {
        {"sortReversed", Settings::sortReversed, Settings::setSortReversed},
        {"hdrEnabled", Settings::hdrEnabled, Settings::setHdrEnabled},
        {"escCloses", Settings::escCloses, Settings::setEscCloses},
        {"fadeTransition", Settings::fadeTransition, Settings::setFadeTransition},
        {"wheelNavigates", Settings::wheelNavigates, Settings::setWheelNavigates},
        {"wheelZoomInverted", Settings::wheelZoomInverted, Settings::setWheelZoomInverted},
        {"autoCheckUpdates", Settings::autoCheckUpdates, Settings::setAutoCheckUpdates},
        {"cleanupHintShown", Settings::cleanupHintShown, Settings::setCleanupHintShown},
    };
    for (const Flag &flag : flags) {
        SCOPED_TRACE(flag.key);
        flag.set(true);
        EXPECT_TRUE(flag.get());
        EXPECT_TRUE(rawValue(flag.key).toBool());
        // No other flag moved with it.
        for (const Flag &other : flags) {
            if (&other != &flag) {
                EXPECT_FALSE(other.get()) << other.key;
            }
        }
        flag.set(false);
        EXPECT_FALSE(flag.get());
    }
}

TEST_F(SettingsTest, NegatedKeysStoreTheOppositeOfWhatReadersSee)
{
    struct Negated { const char *key; bool (*get)(); void (*set)(bool); };
    for (const Negated &n : {Negated{"ratingBadgeHidden", Settings::ratingBadgeShown, Settings::setRatingBadgeShown},
                             Negated{"slideshowFadeOff", Settings::slideshowFadeOn, Settings::setSlideshowFadeOn}}) {
        SCOPED_TRACE(n.key);
        for (bool shown : {false, true}) {
            n.set(shown);
            EXPECT_EQ(n.get(), shown);
            EXPECT_EQ(rawValue(n.key).toBool(), !shown);
        }
    }
}

// Only the offered steps are read back; anything else (a hand edit, an older
// version's value) reads as the default, and the stored value is left as written.
TEST_F(SettingsTest, SlideshowTimesAcceptOnlyTheOfferedSteps)
{
    for (int seconds : {1, 2, 3, 5, 10}) {
        Settings::setSlideshowInterval(seconds);
        EXPECT_EQ(Settings::slideshowInterval(), seconds);
    }
    for (int seconds : {4, 0, -1, 11, 100000}) {
        Settings::setSlideshowInterval(seconds);
        EXPECT_EQ(Settings::slideshowInterval(), 3) << seconds;
        EXPECT_EQ(rawValue("slideshowInterval").toInt(), seconds);
    }
    setRawValue("slideshowInterval", "soon");
    EXPECT_EQ(Settings::slideshowInterval(), 3);

    for (double seconds : {0.5, 1.0, 1.5, 2.0, 3.0}) {
        Settings::setSlideshowFadeDuration(seconds);
        EXPECT_DOUBLE_EQ(Settings::slideshowFadeDuration(), seconds);
    }
    for (double seconds : {0.75, 0.0, -1.5, 2.5, 1e300}) {
        Settings::setSlideshowFadeDuration(seconds);
        EXPECT_DOUBLE_EQ(Settings::slideshowFadeDuration(), 1.0) << seconds;
    }
    setRawValue("slideshowFadeDuration", "slow");
    EXPECT_DOUBLE_EQ(Settings::slideshowFadeDuration(), 1.0);
}

TEST_F(SettingsTest, SortKeyOutsideTheFiveOrdersReadsAsName)
{
    for (SortKey key : allSortKeys) {
        Settings::setSortKey(key);
        EXPECT_EQ(Settings::sortKey(), key);
    }
    for (const QVariant &stored : {QVariant(5), QVariant(-1), QVariant(1LL << 40), QVariant("size")}) {
        setRawValue("sortKey", stored);
        EXPECT_EQ(Settings::sortKey(), SortKey::name) << stored.toString().toStdString();
    }
}

TEST_F(SettingsTest, ValuesWrittenAsTextByAnotherProgramReadAsTheirTypes)
{
    // QSettings hands back strings for everything it finds in the file; this
    // is what a second instance or a hand edit leaves behind.
    Settings::setHdrEnabled(false);
    writeConfigText("[General]\n"
                    "hdrEnabled=true\n"
                    "escCloses=false\n"
                    "ratingBadgeHidden=true\n"
                    "slideshowInterval=10\n"
                    "slideshowFadeDuration=1.5\n"
                    "sortKey=2\n"
                    "sortReversed=1\n"
                    "skippedUpdateVersion=2.1.0\n"
                    "lastUpdateCheck=2024-05-01T10:20:30.000+02:00\n");
    EXPECT_TRUE(Settings::hdrEnabled());
    EXPECT_FALSE(Settings::escCloses());
    EXPECT_FALSE(Settings::ratingBadgeShown());
    EXPECT_EQ(Settings::slideshowInterval(), 10);
    EXPECT_DOUBLE_EQ(Settings::slideshowFadeDuration(), 1.5);
    EXPECT_EQ(Settings::sortKey(), SortKey::modified);
    EXPECT_TRUE(Settings::sortReversed());
    EXPECT_EQ(Settings::skippedUpdateVersion(), QString("2.1.0"));
    ASSERT_TRUE(Settings::lastUpdateCheck().has_value());
    EXPECT_EQ(Settings::lastUpdateCheck()->toUTC(), QDateTime(QDate(2024, 5, 1), QTime(8, 20, 30), Qt::UTC));
}

TEST_F(SettingsTest, EditorThatWasUninstalledReadsAsNoneButStaysStored)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString entry = dir.filePath("org.gimp.GIMP.desktop");
    {
        QFile file(entry);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Desktop Entry]\nType=Application\nName=GIMP\nExec=gimp %U\n");
    }
    Settings::setEditorAppPath(entry);
    EXPECT_EQ(Settings::editorAppPath(), entry);

    ASSERT_TRUE(QFile::remove(entry));
    EXPECT_FALSE(Settings::editorAppPath().has_value());
    EXPECT_EQ(rawValue("editorAppPath").toString(), entry);

    // Reinstalled at the same place: it is the editor again.
    {
        QFile file(entry);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(Settings::editorAppPath(), entry);

    Settings::setEditorAppPath(std::nullopt);
    EXPECT_FALSE(rawValue("editorAppPath").isValid());
    Settings::setEditorAppPath(entry);
    Settings::setEditorAppPath(QString());
    EXPECT_FALSE(rawValue("editorAppPath").isValid());
}

TEST_F(SettingsTest, OptionalValuesRoundTripAndRemoveTheirKeyWhenCleared)
{
    Settings::setSkippedUpdateVersion(QString("1.4.2"));
    EXPECT_EQ(Settings::skippedUpdateVersion(), QString("1.4.2"));
    Settings::setSkippedUpdateVersion(std::nullopt);
    EXPECT_FALSE(Settings::skippedUpdateVersion().has_value());
    EXPECT_FALSE(rawValue("skippedUpdateVersion").isValid());

    const QDateTime when(QDate(2025, 1, 31), QTime(23, 59, 58, 125), Qt::UTC);
    Settings::setLastUpdateCheck(when);
    ASSERT_TRUE(Settings::lastUpdateCheck().has_value());
    EXPECT_EQ(Settings::lastUpdateCheck()->toMSecsSinceEpoch(), when.toMSecsSinceEpoch());
    Settings::setLastUpdateCheck(std::nullopt);
    EXPECT_FALSE(rawValue("lastUpdateCheck").isValid());
    setRawValue("lastUpdateCheck", "yesterday");
    EXPECT_FALSE(Settings::lastUpdateCheck().has_value());

    const QByteArray json = R"({"next":{"chars":"n","keyCode":45,"mods":0}})";
    Settings::setCustomShortcuts(json);
    EXPECT_EQ(Settings::customShortcuts(), json);
    Settings::setCustomShortcuts({});
    EXPECT_FALSE(rawValue("customShortcuts").isValid());
}

TEST_F(SettingsTest, AChangeThatCannotBeWrittenIsAnnouncedWithItsFile)
{
    std::vector<QString> announced;
    QObject receiver;
    QObject::connect(&SettingsNotifier::instance(), &SettingsNotifier::settingsNotSaved, &receiver,
                     [&](const QString &path) { announced.push_back(path); });

    Settings::setHdrEnabled(true);
    EXPECT_TRUE(announced.empty()) << "a written change is not announced";

    // The settings folder's place taken by a file: nothing can be written there.
    const QString folder = QFileInfo(configFilePath()).path();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    Settings::setWheelNavigates(true);
    Settings::setEscCloses(true);
    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_EQ(announced.size(), 2u) << "each change that was not written";
    EXPECT_EQ(announced[0], configFilePath());
}

} // namespace
