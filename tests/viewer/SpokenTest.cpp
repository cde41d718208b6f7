// Messages reach a screen reader through the real accessibility bus: the
// bus launcher of at-spi2-core runs for this test, and Qt's bridge to it is
// active, as under a desktop with a screen reader on.
#include "library/Spoken.h"
#include "settings/Texts.h"
#include "viewer/HudBubble.h"
#include "ViewerTestSupport.h"

#include <QAccessible>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

namespace {

constexpr char launcher[] = "/usr/libexec/at-spi-bus-launcher";

class SpokenMessages : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Its output goes nowhere: the bus and its registry outlive nothing of
        // ours that ctest waits on.
        if (QFileInfo::exists(QString::fromLatin1(launcher))) {
            QProcess bus;
            bus.setProgram(QString::fromLatin1(launcher));
            bus.setArguments({QStringLiteral("--launch-immediately")});
            bus.setStandardOutputFile(QProcess::nullDevice());
            bus.setStandardErrorFile(QProcess::nullDevice());
            bus.startDetached(&busPid);
        }
        testApp();
        Spoken::install(); // after QApplication's own factory: asked first
        Texts::setLanguage("en");
        waitFor([] { return QAccessible::isActive(); }, 10000);
    }
    static void TearDownTestSuite()
    {
        if (busPid > 0)
            ::kill(pid_t(busPid), SIGTERM);
    }
    void SetUp() override
    {
        if (busPid <= 0)
            GTEST_SKIP() << "at-spi2-core is not installed";
        ASSERT_TRUE(QAccessible::isActive()) << "the accessibility bus never answered";
        heard.clear();
        QAccessible::installUpdateHandler([](QAccessibleEvent *event) {
            QAccessibleInterface *iface = event->accessibleInterface();
            if (event->type() == QAccessible::ObjectShow && iface && iface->role() == QAccessible::Notification)
                heard.append(iface->text(QAccessible::Name));
        });
    }
    void TearDown() override { QAccessible::installUpdateHandler(nullptr); }

    static inline qint64 busPid = 0;
    static inline QStringList heard; // notifications shown, by what they said
};

} // namespace

// A notification is spoken when it is shown: each message must show it again,
// a message replacing one still on screen too, and say the new words.
TEST_F(SpokenMessages, EveryMessageOfTheBubbleIsShownAgainWithItsWords)
{
    QWidget window;
    auto *hud = new HudBubble(&window);
    window.show();
    hud->flash(QStringLiteral("Moved to the Trash: a.jpg"), 2);
    hud->flash(QStringLiteral("★★★★☆"), 2);
    hud->flash(QStringLiteral("★★★★☆"), 2); // the same words again are said again
    EXPECT_EQ(heard, (QStringList{QStringLiteral("Moved to the Trash: a.jpg"), QStringLiteral("4 of 5 stars"),
                                  QStringLiteral("4 of 5 stars")}));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(hud)->text(QAccessible::Name), QStringLiteral("4 of 5 stars"));

    // Hidden, a message area says nothing; its name is still what it holds.
    QLabel status(&window);
    // Published as a plain label first, as when a screen reader listened
    // while the label was built.
    ASSERT_EQ(QAccessible::queryAccessibleInterface(&status)->role(), QAccessible::StaticText);
    Spoken::markMessageArea(&status);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&status)->role(), QAccessible::Notification);
    status.hide();
    Spoken::say(&status, QStringLiteral("Restored 2 files"));
    EXPECT_EQ(heard.size(), 3);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&status)->text(QAccessible::Name), QStringLiteral("Restored 2 files"));
}
