#include "app/DesktopSelfCheck.h"

#include "platform/DefaultViewer.h"
#include "platform/GlobalHotkey.h"
#include "settings/Settings.h"
#include "settings/window/SettingsWindow.h"
#include "settings/window/ShortcutRecorder.h"
#include "update/UpdateBanner.h"
#include "update/UpdateChecker.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QProcess>
#include <QRadioButton>
#include <QStandardPaths>
#include <QToolButton>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <memory>

namespace {

constexpr int startDelayMs = 800;

// One scenario: its log lines and its verdict.
class Run
{
public:
    explicit Run(const char *name) : name(name) {}

    void step(const QString &text)
    {
        std::fprintf(stdout, "%s: %s\n", name, qPrintable(text));
        std::fflush(stdout);
    }

    void check(bool ok, const QString &what)
    {
        step((ok ? QStringLiteral("ok    ") : QStringLiteral("FAILED ")) + what);
        failed = failed || !ok;
    }

    void finish()
    {
        step(failed ? QStringLiteral("FAILED") : QStringLiteral("ok"));
        QCoreApplication::exit(failed ? 1 : 0);
    }

private:
    const char *name;
    bool failed = false;
};

void type(QWidget *widget, int key, Qt::KeyboardModifiers modifiers)
{
    QKeyEvent override(QEvent::ShortcutOverride, key, modifiers);
    QApplication::sendEvent(widget, &override);
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(widget, &press);
}

void settingsTest()
{
    Run run("settingstest");
    const bool wheelNavigates = Settings::wheelNavigates();
    const std::optional<KeyCombo> actualSize = Shortcuts::isCustomized(ShortcutAction::actualSize)
                                                   ? Shortcuts::combo(ShortcutAction::actualSize)
                                                   : std::nullopt;
    const bool actualSizeCustomized = Shortcuts::isCustomized(ShortcutAction::actualSize);

    SettingsWindowController &window = SettingsWindowController::shared();
    showSettings(SettingsWindowController::general);
    run.check(window.isVisible() && window.size() == SettingsWindowController::windowSize,
              QStringLiteral("window shown, %1 x %2").arg(window.width()).arg(window.height()));
    for (int tab : {1, 2, 0}) {
        window.tabButton(tab)->click();
        run.check(window.selectedTab() == tab, QStringLiteral("tab %1 selected").arg(tab));
    }

    showSettings(SettingsWindowController::mouse);
    QRadioButton *other = wheelNavigates ? window.mousePane()->wheelZooms : window.mousePane()->wheelNavigates;
    other->click();
    run.check(Settings::wheelNavigates() == !wheelNavigates, QStringLiteral("wheel mode switched"));

    showSettings(SettingsWindowController::shortcuts);
    ShortcutRecorder *recorder = window.shortcutPane()->recorder(ShortcutAction::actualSize);
    recorder->click();
    type(recorder, Qt::Key_F9, Qt::ControlModifier | Qt::AltModifier);
    QKeyEvent probe(QEvent::KeyPress, Qt::Key_F9, Qt::ControlModifier | Qt::AltModifier);
    run.check(Shortcuts::actionForEvent(&probe) == ShortcutAction::actualSize,
              QStringLiteral("recorded %1 for actual size").arg(recorder->text()));

    // Put back what the run changed.
    Settings::setWheelNavigates(wheelNavigates);
    if (actualSizeCustomized)
        Shortcuts::setCombo(actualSize, ShortcutAction::actualSize);
    else
        Shortcuts::setCombo(Shortcuts::defaultCombo(ShortcutAction::actualSize), ShortcutAction::actualSize);
    window.close();
    run.finish();
}

void updateTest(QWidget *host)
{
    auto run = std::make_shared<Run>("updatetest");
    run->step(QStringLiteral("feed %1, running %2").arg(UpdateChecker::feedURL().toString(), UpdateChecker::runningVersion()));
    // The preferences the check and the skip button write, put back at the end.
    const std::optional<QDateTime> lastCheck = Settings::lastUpdateCheck();
    const std::optional<QString> skipped = Settings::skippedUpdateVersion();
    UpdateChecker::check(qApp, [run, host, lastCheck, skipped](const UpdateChecker::Result &result) {
        using Kind = UpdateChecker::Result::Kind;
        const char *kind = result.kind == Kind::newer ? "newer" : result.kind == Kind::upToDate ? "upToDate" : "failed";
        run->step(QStringLiteral("result %1 %2").arg(QLatin1String(kind), result.kind == Kind::newer
                                                                              ? result.release.version
                                                                              : result.text));
        // The banner and its skip button, with the feed's release or a made-up one.
        const UpdateChecker::Release release = result.kind == Kind::newer
                                                   ? result.release
                                                   : UpdateChecker::Release{QStringLiteral("999.0"),
                                                                            UpdateChecker::builtInDownloadURL()};
        UpdateBanner *banner = UpdateBanner::showIn(host, release);
        run->check(banner && UpdateBanner::showIn(host, release) == banner, QStringLiteral("one banner shown"));
        if (banner) {
            banner->openLink = [](const QUrl &) { return true; };
            banner->skipButton()->click();
        }
        run->check(Settings::skippedUpdateVersion() == release.version && !UpdateBanner::find(host),
                   QStringLiteral("skip stored %1 and removed the banner").arg(release.version));
        Settings::setLastUpdateCheck(lastCheck);
        Settings::setSkippedUpdateVersion(skipped);
        run->finish();
    });
}

void defaultTest()
{
    Run run("defaulttest");
    run.step(QStringLiteral("types %1: %2").arg(DefaultViewer::contentTypes().size())
                 .arg(DefaultViewer::contentTypes().join(QLatin1Char(' '))));
    run.step(QStringLiteral("installed entry %1").arg(DefaultViewer::isInstalled() ? "yes" : "no"));
    const DefaultViewer::Status status = DefaultViewer::status();
    run.step(QStringLiteral("status \"%1\", button %2").arg(status.text, status.showButton ? "shown" : "hidden"));
    run.check(status.isDefault == DefaultViewer::isDefault(QStringLiteral("image/jpeg")), QStringLiteral("status follows JPEG"));
    run.check(DefaultViewer::isInstalled() || !status.isDefault, QStringLiteral("never the default without an entry"));
    run.finish();
}

void hotkeyTest(QWidget *window, GlobalHotkey *hotkey)
{
    auto run = std::make_shared<Run>("hotkeytest");
    if (!hotkey || !window) {
        run->check(false, QStringLiteral("no hotkey or window"));
        run->finish();
        return;
    }
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    const GlobalHotkey::Status status = hotkey->registerCombo(KeyCombo{9, KeyMods::command | KeyMods::option, "v"});
    run->step(QStringLiteral("Ctrl+Alt+V: %1").arg(status == GlobalHotkey::Status::active ? "active"
                                                 : status == GlobalHotkey::Status::taken ? "taken"
                                                 : status == GlobalHotkey::Status::pending ? "pending" : "unavailable"));
    if (status != GlobalHotkey::Status::active || xdotool.isEmpty()) {
        run->step(xdotool.isEmpty() ? QStringLiteral("xdotool missing: no key presses") : QStringLiteral("no grab: no key presses"));
        hotkey->registerCombo(Shortcuts::combo(ShortcutAction::toggleApp));
        run->finish();
        return;
    }
    auto presses = std::make_shared<int>(0);
    const auto previous = hotkey->onToggle;
    hotkey->onToggle = [presses, window] {
        ++*presses;
        GlobalHotkey::toggle(window->windowHandle());
    };
    const auto press = [xdotool](const QString &keys) {
        QProcess::execute(xdotool, {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), keys});
    };
    window->windowHandle()->requestActivate();
    QTimer::singleShot(500, qApp, [=] {
        press(QStringLiteral("ctrl+alt+v"));
        QTimer::singleShot(500, qApp, [=] {
            run->check(*presses == 1 && (window->windowHandle()->windowStates() & Qt::WindowMinimized),
                       QStringLiteral("first press minimised the window"));
            press(QStringLiteral("Num_Lock"));
            press(QStringLiteral("ctrl+alt+v"));
            press(QStringLiteral("Num_Lock"));
            QTimer::singleShot(500, qApp, [=] {
                run->check(*presses == 2 && !(window->windowHandle()->windowStates() & Qt::WindowMinimized),
                           QStringLiteral("second press, Num Lock on, brought it back"));
                hotkey->onToggle = previous;
                hotkey->registerCombo(Shortcuts::combo(ShortcutAction::toggleApp));
                run->finish();
            });
        });
    });
}

} // namespace

bool startDesktopSelfCheck(const QStringList &arguments, QWidget *window, GlobalHotkey *hotkey)
{
    QPointer<QWidget> host(window);
    std::function<void()> scenario;
    if (arguments.contains(QStringLiteral("--settingstest")))
        scenario = [] { settingsTest(); };
    else if (arguments.contains(QStringLiteral("--updatetest")))
        scenario = [host] { updateTest(host.data()); };
    else if (arguments.contains(QStringLiteral("--defaulttest")))
        scenario = [] { defaultTest(); };
    else if (arguments.contains(QStringLiteral("--hotkeytest")))
        scenario = [host, hotkey] { hotkeyTest(host.data(), hotkey); };
    else
        return false;
    QTimer::singleShot(startDelayMs, qApp, scenario);
    return true;
}
