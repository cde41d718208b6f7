#include "update/UpdateAlert.h"
#include "update/UpdateBanner.h"
#include "update/UpdateChecker.h"

#include "settings/Settings.h"
#include "settings/Texts.h"
#include "support/LoopbackHttpServer.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <optional>

using UpdateChecker::Result;

namespace {

QApplication &application()
{
    static int argc = 1;
    static char name[] = "update_checker_test";
    static char *argv[] = {name, nullptr};
    // Never destroyed: its teardown at exit would run after Qt's own globals are gone.
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}

// One server for the whole program: the feed address is read once per process,
// from GLANTO_UPDATE_FEED, as in a real run.
LoopbackHttpServer &feedServer()
{
    static LoopbackHttpServer *server = [] {
        application();
        auto *s = new LoopbackHttpServer;
        if (s->start())
            qputenv("GLANTO_UPDATE_FEED", s->url(QStringLiteral("/quintal/version.json")).toString().toUtf8());
        return s;
    }();
    return *server;
}

class UpdateCheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(feedServer().isListening());
        ASSERT_EQ(UpdateChecker::feedURL(), feedServer().url(QStringLiteral("/quintal/version.json")));
        feedServer().requests.clear();
        feedServer().reply = {};
        Settings::setAutoCheckUpdates(false);
        Settings::setLastUpdateCheck(std::nullopt);
        Settings::setSkippedUpdateVersion(std::nullopt);
    }

    Result checkNow()
    {
        std::optional<Result> result;
        QObject context;
        UpdateChecker::check(&context, [&](const Result &r) { result = r; });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(Result{});
    }

    void serveJson(const QByteArray &json, int status = 200)
    {
        feedServer().reply.status = status;
        feedServer().reply.body = json;
    }
};

} // namespace

TEST(UpdateVersions, CompareNumericallyPieceByPiece)
{
    using UpdateChecker::isNewer;
    EXPECT_TRUE(isNewer("0.6.10", "0.6.9"));
    EXPECT_FALSE(isNewer("0.6.9", "0.6.10"));
    EXPECT_FALSE(isNewer("0.6.2", "0.6.2"));
    EXPECT_TRUE(isNewer("1.0", "0.9.9"));
    EXPECT_FALSE(isNewer("1.0", "1"));
    EXPECT_TRUE(isNewer("1.0.1", "1"));
    EXPECT_FALSE(isNewer("2.0b", "2"));        // "0b" is not a number and counts as 0
    EXPECT_TRUE(isNewer("1", "0"));            // a running version that is missing reads as "0"
    EXPECT_FALSE(isNewer("1..", "1.0.0"));     // empty pieces are dropped
    EXPECT_FALSE(isNewer("+1", "0"));          // signs are not digits
    EXPECT_FALSE(isNewer("99999999999999999999", "1"));  // beyond 64 bits is not a number either
}

TEST(UpdateSchedule, DueOnceADayAndWhenTheLastCheckLiesInTheFuture)
{
    const QDateTime now(QDate(2026, 3, 10), QTime(12, 0), Qt::UTC);
    EXPECT_TRUE(UpdateChecker::isDue(std::nullopt, now));
    EXPECT_FALSE(UpdateChecker::isDue(now.addSecs(-23 * 3600), now));
    EXPECT_TRUE(UpdateChecker::isDue(now.addSecs(-25 * 3600), now));
    EXPECT_TRUE(UpdateChecker::isDue(now.addSecs(-86400), now));
    EXPECT_FALSE(UpdateChecker::isDue(now.addSecs(-86399), now));
    // A date the clock put in the future would otherwise silence the check for as long.
    EXPECT_TRUE(UpdateChecker::isDue(now.addSecs(3600), now));
    EXPECT_TRUE(UpdateChecker::isDue(now.addYears(5), now));
    // The same instant written in another time zone is still 23 hours ago.
    EXPECT_FALSE(UpdateChecker::isDue(now.addSecs(-23 * 3600).toOffsetFromUtc(8 * 3600), now));
}

TEST(UpdateLinks, OnlyHttpAndHttpsWithAHostAreEverOpenedOrFetched)
{
    using UpdateChecker::isSafeLink;
    EXPECT_TRUE(isSafeLink(QUrl("https://example.org/glanto.deb")));
    EXPECT_TRUE(isSafeLink(QUrl("HTTP://example.org:8080/x")));
    EXPECT_FALSE(isSafeLink(QUrl("file:///etc/passwd")));
    EXPECT_FALSE(isSafeLink(QUrl("file://host/share/x")));
    EXPECT_FALSE(isSafeLink(QUrl("javascript:alert(1)")));
    EXPECT_FALSE(isSafeLink(QUrl("ftp://example.org/x")));
    EXPECT_FALSE(isSafeLink(QUrl("smb://example.org/x")));
    EXPECT_FALSE(isSafeLink(QUrl("https:///no-host")));
    EXPECT_FALSE(isSafeLink(QUrl("/relative/path")));
    EXPECT_FALSE(isSafeLink(QUrl()));

    using UpdateChecker::feedURLFromEnvironment;
    EXPECT_EQ(feedURLFromEnvironment(" http://127.0.0.1:8/f.json "), QUrl("http://127.0.0.1:8/f.json"));
    EXPECT_FALSE(feedURLFromEnvironment("file:///tmp/feed.json"));
    EXPECT_FALSE(feedURLFromEnvironment("not a url"));
    EXPECT_FALSE(feedURLFromEnvironment(""));
    EXPECT_FALSE(feedURLFromEnvironment("https://" + QString(3000, 'a') + ".org/"));

    // The built-in addresses come from the build's site setting.
    EXPECT_TRUE(isSafeLink(UpdateChecker::builtInDownloadURL()));
    EXPECT_FALSE(UpdateChecker::openLink(QUrl("file:///etc/passwd")));
}

TEST(UpdateFeed, OnlyA2xxAnswerWithABoundedVersionCounts)
{
    const QString running = "1.2.0";
    using UpdateChecker::interpretResponse;
    const Result ok = interpretResponse(200, R"({"version":"1.3","download":"https://example.org/d"})", {}, running);
    ASSERT_EQ(ok.kind, Result::Kind::newer);
    EXPECT_EQ(ok.release.version, "1.3");
    EXPECT_EQ(ok.release.download, QUrl("https://example.org/d"));

    // A JSON error page is still an error page.
    const Result notFound = interpretResponse(404, R"({"version":"9.0"})", {}, running);
    EXPECT_EQ(notFound.kind, Result::Kind::failed);
    EXPECT_EQ(notFound.text, "HTTP 404");
    EXPECT_FALSE(notFound.answered);
    EXPECT_EQ(interpretResponse(302, R"({"version":"9.0"})", {}, running).kind, Result::Kind::failed);

    EXPECT_EQ(interpretResponse(200, R"({"version":"1.2"})", {}, running).kind, Result::Kind::upToDate);
    EXPECT_EQ(interpretResponse(200, R"({"version":"1.2"})", {}, running).text, running);
    // Versions that are too long or carry anything but version characters make the feed unusable.
    EXPECT_EQ(interpretResponse(200, "{\"version\":\"" + QByteArray(33, '9') + "\"}", {}, running).text,
              Texts::format("update.badFeed", {"HTTP 200"}));
    const QByteArray longest = "2" + QByteArray(30, '.') + "1";   // 32 characters, pieces 2 and 1
    EXPECT_EQ(interpretResponse(200, "{\"version\":\"" + longest + "\"}", {}, running).kind, Result::Kind::newer);
    EXPECT_EQ(interpretResponse(200, R"({"version":"<b>9</b>"})", {}, running).kind, Result::Kind::failed);
    EXPECT_EQ(interpretResponse(200, R"({"version":9})", {}, running).kind, Result::Kind::failed);
    EXPECT_EQ(interpretResponse(200, R"(["9.0"])", {}, running).kind, Result::Kind::failed);
    EXPECT_TRUE(interpretResponse(200, "<html>portal</html>", {}, running).answered)
        << "reached, but not the feed: not \"cannot reach\"";
    EXPECT_EQ(interpretResponse(200, "", {}, running).kind, Result::Kind::failed);
    // Download links: anything but a safe link falls back to the built-in page.
    for (const char *link : {"file:///home/me/evil.sh", "javascript:x", "https://", "relative/page", "42"}) {
        const QByteArray json = QByteArray(R"({"version":"2.0","download":")") + link + "\"}";
        const Result r = interpretResponse(200, json, {}, running);
        ASSERT_EQ(r.kind, Result::Kind::newer) << link;
        EXPECT_EQ(r.release.download, UpdateChecker::builtInDownloadURL()) << link;
    }
    // No HTTP answer at all: the transport's reason.
    const Result refused = interpretResponse(0, {}, "Connection refused", running);
    EXPECT_EQ(refused.kind, Result::Kind::failed);
    EXPECT_EQ(refused.text, "Connection refused");
}

TEST_F(UpdateCheckTest, ANewerVersionFromTheServerIsOfferedAndTheCheckRecorded)
{
    serveJson(R"({"version":"99.0.1","download":"https://example.org/glanto_99.deb","extra":[1,2]})");
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    const Result result = checkNow();
    ASSERT_EQ(result.kind, Result::Kind::newer) << result.text.toStdString();
    EXPECT_EQ(result.release.version, "99.0.1");
    EXPECT_EQ(result.release.download, QUrl("https://example.org/glanto_99.deb"));
    ASSERT_TRUE(Settings::lastUpdateCheck());
    EXPECT_GE(*Settings::lastUpdateCheck(), before);

    ASSERT_EQ(feedServer().requests.size(), 1);
    const QByteArray head = feedServer().requests.first();
    EXPECT_TRUE(head.startsWith("GET /quintal/version.json HTTP/1.1")) << head.toStdString();
    EXPECT_TRUE(head.contains("User-Agent: Glanto/" + UpdateChecker::runningVersion().toUtf8())) << head.toStdString();
}

TEST_F(UpdateCheckTest, TheRunningVersionIsUpToDate)
{
    serveJson("{\"version\":\"" + UpdateChecker::runningVersion().toUtf8() + "\"}");
    const Result result = checkNow();
    EXPECT_EQ(result.kind, Result::Kind::upToDate);
    EXPECT_EQ(result.text, UpdateChecker::runningVersion());
}

TEST_F(UpdateCheckTest, A404PageFailsWithItsStatusAndIsRetriedNextTime)
{
    feedServer().reply = {404, "Not Found", "text/html", "<html><body>Not here</body></html>"};
    const Result result = checkNow();
    EXPECT_EQ(result.kind, Result::Kind::failed);
    EXPECT_EQ(result.text, "HTTP 404");
    EXPECT_FALSE(Settings::lastUpdateCheck().has_value());
}

TEST_F(UpdateCheckTest, AnOversizedBodyIsDroppedWithOrWithoutALength)
{
    const QByteArray huge = R"({"version":"99.0","pad":")" + QByteArray(300 * 1024, 'x') + "\"}";
    serveJson(huge);
    Result result = checkNow();
    EXPECT_EQ(result.kind, Result::Kind::failed);
    EXPECT_EQ(result.text, Texts::format("update.badFeed", {"HTTP 200"}));

    feedServer().reply.sendLength = false;
    result = checkNow();
    EXPECT_EQ(result.kind, Result::Kind::failed);
    EXPECT_EQ(result.text, Texts::format("update.badFeed", {"HTTP 200"}));
    EXPECT_FALSE(Settings::lastUpdateCheck().has_value());

    // Just inside the bound is still read.
    const QByteArray padded = R"({"version":"99.0","pad":")" + QByteArray(UpdateChecker::maxFeedBytes - 40, 'x') + "\"}";
    ASSERT_LE(padded.size(), UpdateChecker::maxFeedBytes);
    serveJson(padded);
    EXPECT_EQ(checkNow().kind, Result::Kind::newer);
}

TEST_F(UpdateCheckTest, AFileDownloadLinkIsReplacedByTheBuiltInPage)
{
    serveJson(R"({"version":"99.0","download":"file:///home/user/.bashrc"})");
    const Result result = checkNow();
    ASSERT_EQ(result.kind, Result::Kind::newer);
    EXPECT_EQ(result.release.download, UpdateChecker::builtInDownloadURL());
    EXPECT_TRUE(UpdateChecker::isSafeLink(result.release.download));
}

TEST_F(UpdateCheckTest, ARefusedConnectionFailsWithTheTransportReason)
{
    const quint16 port = feedServer().serverPort();
    feedServer().close();
    const Result result = checkNow();
    ASSERT_TRUE(feedServer().listen(QHostAddress::LocalHost, port));
    EXPECT_EQ(result.kind, Result::Kind::failed);
    EXPECT_FALSE(result.text.isEmpty());
    EXPECT_FALSE(result.text.startsWith("HTTP"));
}

// A website that takes the request and never answers: the check ends when its
// time is up and says so, not that someone cancelled it.
TEST_F(UpdateCheckTest, AWebsiteThatNeverAnswersTimesOut)
{
    feedServer().reply.silent = true;
    const int usual = UpdateChecker::checkTimeoutMs;
    UpdateChecker::checkTimeoutMs = 300;
    const Result result = checkNow();
    UpdateChecker::checkTimeoutMs = usual;
    EXPECT_EQ(result.kind, Result::Kind::failed);
    EXPECT_EQ(result.text, Texts::text("update.timedOut"));
    EXPECT_FALSE(Settings::lastUpdateCheck().has_value());

    // A website that answers a byte at a time is never idle long enough for
    // the transfer's own timeout: the check still ends in its time.
    feedServer().reply.silent = false;
    feedServer().reply.trickleMs = 100;
    feedServer().reply.body = R"({"version":"99.0","pad":")" + QByteArray(200, 'x') + "\"}";
    UpdateChecker::checkTimeoutMs = 600;
    const Result trickled = checkNow();
    UpdateChecker::checkTimeoutMs = usual;
    EXPECT_EQ(trickled.kind, Result::Kind::failed);
    EXPECT_EQ(trickled.text, Texts::text("update.timedOut"));
    feedServer().reply = {};
    feedServer().reply.silent = true;

    // Pressed again while it waits: one request, one alert.
    feedServer().requests.clear();
    UpdateChecker::checkTimeoutMs = 300;
    UpdateAlert::checkNow(nullptr);
    UpdateAlert::checkNow(nullptr);
    const auto alerts = [] {
        QList<QMessageBox *> boxes;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                boxes.append(box);
        }
        return boxes;
    };
    EXPECT_TRUE(waitUntil([&] { return !alerts().isEmpty(); }));
    waitUntil([] { return false; }, 500);
    UpdateChecker::checkTimeoutMs = usual;
    EXPECT_EQ(feedServer().requests.size(), 1);
    EXPECT_EQ(alerts().size(), 1);
    for (QMessageBox *box : alerts())
        box->close();
}

TEST_F(UpdateCheckTest, TheAutomaticCheckHonoursTheSwitchTheDayAndTheSkippedVersion)
{
    serveJson(R"({"version":"99.0"})");
    std::optional<UpdateChecker::Release> offered;
    QObject context;
    const auto onNewer = [&](const UpdateChecker::Release &release) { offered = release; };

    EXPECT_FALSE(UpdateChecker::checkIfDue(&context, onNewer));   // off by default
    Settings::setAutoCheckUpdates(true);
    Settings::setLastUpdateCheck(QDateTime::currentDateTimeUtc().addSecs(-23 * 3600));
    EXPECT_FALSE(UpdateChecker::checkIfDue(&context, onNewer));
    EXPECT_TRUE(feedServer().requests.isEmpty());

    Settings::setLastUpdateCheck(QDateTime::currentDateTimeUtc().addSecs(-25 * 3600));
    ASSERT_TRUE(UpdateChecker::checkIfDue(&context, onNewer));
    ASSERT_TRUE(waitUntil([&] { return offered.has_value(); }));
    EXPECT_EQ(offered->version, "99.0");

    // Skipped: the request is made (and recorded) but nothing is shown.
    offered.reset();
    UpdateChecker::skip(QStringLiteral("99.0"));
    Settings::setLastUpdateCheck(QDateTime::currentDateTimeUtc().addDays(30));   // a clock that was wrong
    ASSERT_TRUE(UpdateChecker::checkIfDue(&context, onNewer));
    ASSERT_TRUE(waitUntil([&] { return feedServer().requests.size() == 2 && Settings::lastUpdateCheck()
                                       && *Settings::lastUpdateCheck() < QDateTime::currentDateTimeUtc().addDays(1); }));
    EXPECT_FALSE(offered.has_value());

    // A newer version than the skipped one is offered again.
    serveJson(R"({"version":"99.1"})");
    Settings::setLastUpdateCheck(std::nullopt);
    ASSERT_TRUE(UpdateChecker::checkIfDue(&context, onNewer));
    ASSERT_TRUE(waitUntil([&] { return offered.has_value(); }));
    EXPECT_EQ(offered->version, "99.1");
}

TEST_F(UpdateCheckTest, TheBannerIsSingleAndItsButtonsOpenOrSkip)
{
    QWidget host;
    host.resize(800, 500);
    host.show();
    const UpdateChecker::Release release{"99.0", QUrl("https://example.org/d")};
    UpdateBanner *banner = UpdateBanner::showIn(&host, release);
    ASSERT_TRUE(banner);
    EXPECT_EQ(UpdateBanner::showIn(&host, {"99.5", QUrl("https://example.org/e")}), banner);
    EXPECT_EQ(host.findChildren<UpdateBanner *>().size(), 1);
    EXPECT_EQ(banner->messageLabel()->textFormat(), Qt::PlainText);
    EXPECT_TRUE(banner->messageLabel()->text().contains("99.0"));
    EXPECT_EQ(banner->y(), 12);
    EXPECT_NEAR(banner->x() + banner->width() / 2, host.width() / 2, 1);

    QList<QUrl> opened;
    banner->openLink = [&](const QUrl &url) { opened.append(url); return true; };
    banner->downloadButton()->click();
    EXPECT_EQ(opened, QList<QUrl>{QUrl("https://example.org/d")});
    EXPECT_EQ(UpdateBanner::find(&host), nullptr);

    UpdateBanner *second = UpdateBanner::showIn(&host, release);
    ASSERT_TRUE(second);
    second->skipButton()->click();
    EXPECT_EQ(Settings::skippedUpdateVersion(), QString("99.0"));
    EXPECT_EQ(UpdateBanner::find(&host), nullptr);
}

TEST_F(UpdateCheckTest, TheAlertsShowNetworkTextAsPlainText)
{
    Result failed;
    failed.kind = Result::Kind::failed;
    failed.text = "<img src=x>HTTP 500";
    QMessageBox *box = UpdateAlert::make(nullptr, failed);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->informativeText(), failed.text);
    EXPECT_EQ(box->text(), QString::fromUtf8("暂时连不上官网，稍后再试"));
    const auto labels = box->findChildren<QLabel *>();
    for (QLabel *label : labels) {
        if (!label->text().isEmpty()) {   // the icon's label holds a picture
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        }
    }
    delete box;

    Result newer;
    newer.kind = Result::Kind::newer;
    newer.release = {"99.0", QUrl("https://example.org/d")};
    QList<QUrl> opened;
    box = UpdateAlert::make(nullptr, newer, [&](const QUrl &url) { opened.append(url); return true; });
    EXPECT_EQ(box->text(), QString::fromUtf8("Glanto 99.0 可以更新了"));
    ASSERT_EQ(box->buttons().size(), 2);
    EXPECT_EQ(box->defaultButton()->text(), QString::fromUtf8("下载新版"));
    box->defaultButton()->click();
    EXPECT_EQ(opened, QList<QUrl>{QUrl("https://example.org/d")});

    // No browser to open it: the address is shown, to be copied by hand.
    box = UpdateAlert::make(nullptr, newer, [](const QUrl &) { return false; });
    box->defaultButton()->click();
    QMessageBox *unopened = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *b = qobject_cast<QMessageBox *>(widget); b && b->isVisible() && b->text() == Texts::text("update.noBrowser"))
            unopened = b;
    }
    ASSERT_NE(unopened, nullptr);
    EXPECT_EQ(unopened->informativeText(), "https://example.org/d");
    unopened->close();
}
