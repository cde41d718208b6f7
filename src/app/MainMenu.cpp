#include "app/MainMenu.h"

#include "settings/Settings.h"
#include "settings/Shortcuts.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <cstring>
#include <utility>

namespace {

// The letter that opens a menu of the bar with Alt, as on every Linux desktop:
// underlined in the title where it has the letter, else after it in brackets
// ("文件(F)").
QChar mnemonicOf(const char *titleKey)
{
    static const std::pair<const char *, char> letters[] = {
        {"menu.file", 'F'}, {"menu.view", 'V'}, {"menu.go", 'G'},
        {"menu.tools", 'T'}, {"menu.window", 'W'}, {"menu.help", 'H'},
    };
    for (const auto &[key, letter] : letters) {
        if (titleKey && std::strcmp(titleKey, key) == 0)
            return QLatin1Char(letter);
    }
    return {};
}

} // namespace

QString MainMenu::withMnemonic(const QString &title, const char *titleKey)
{
    const QChar letter = mnemonicOf(titleKey);
    QString escaped = title;
    escaped.replace(QLatin1Char('&'), QLatin1String("&&"));
    if (letter.isNull())
        return escaped;
    const qsizetype at = escaped.indexOf(letter, 0, Qt::CaseInsensitive);
    if (at >= 0)
        return escaped.insert(at, QLatin1Char('&'));
    return escaped + QLatin1String("(&") + letter + QLatin1Char(')');
}

MainMenu::MainMenu(QMenuBar *menuBar, CommandRouter &commandRouter, QObject *parent)
    : QObject(parent)
    , bar(menuBar)
    , router(commandRouter)
{
    for (const MenuSpec &spec : Commands::mainMenuTree()) {
        QMenu *menu = bar->addMenu(withMnemonic(Commands::menuTitle(spec), spec.titleKey));
        topMenus.push_back(menu);
        addEntries(menu, spec.entries);
        // A menu closed with Escape leaves the bar holding the keyboard, so
        // the keys of the page below (the review's Tab, Ctrl+Z) would go to
        // the bar until a second Escape. Closed with no other menu opening
        // in its place, the keyboard goes back to where it was.
        connect(menu, &QMenu::aboutToShow, this, [this] {
            QWidget *focus = bar->window()->focusWidget();
            if (focus && focus != bar && !qobject_cast<QMenu *>(focus))
                focusBeforeMenus = focus;
        });
        connect(menu, &QMenu::aboutToHide, this, [this] {
            QTimer::singleShot(0, this, [this] {
                if (bar->window()->focusWidget() == bar && !QApplication::activePopupWidget() && focusBeforeMenus
                    && focusBeforeMenus->isVisible())
                    focusBeforeMenus->setFocus(Qt::PopupFocusReason);
            });
        });
    }
    applyShortcuts();
    connect(&SettingsNotifier::instance(), &SettingsNotifier::shortcutsDidChange, this, [this] { applyShortcuts(); });
    // A menu that stays open while a state changes under it (a photo finished
    // loading, a handler arrived) shows the new state at once.
    connect(&router, &CommandRouter::statesChanged, this, [this] {
        for (QMenu *menu : bar->findChildren<QMenu *>()) {
            if (menu->isVisible())
                validate(menu);
        }
    });
    // The first opening of a menu would make its window, polish its style and lay
    // out its texts on the main thread, well over a frame. That is done once the
    // launch is over, one menu per turn of the event loop, so no opening pays it.
    QTimer::singleShot(2000, this, [this] { prepareMenus(0); });
}

void MainMenu::prepareMenus(size_t next)
{
    std::vector<QMenu *> all;
    for (QMenu *menu : bar->findChildren<QMenu *>())
        all.push_back(menu);
    if (next >= all.size())
        return;
    QMenu *menu = all[next];
    menu->ensurePolished();
    menu->adjustSize();
    menu->winId();
    QTimer::singleShot(0, this, [this, next] { prepareMenus(next + 1); });
}

void MainMenu::addEntries(QMenu *menu, const std::vector<MenuEntry> &entries)
{
    menu->setToolTipsVisible(false);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { validate(menu); });
    for (const MenuEntry &entry : entries) {
        switch (entry.kind) {
        case MenuEntry::Kind::separator:
            menu->addSeparator();
            break;
        case MenuEntry::Kind::submenu: {
            QMenu *sub = menu->addMenu(Commands::entryTitle(entry));
            submenus.emplace_back(sub, entry.command);
            addEntries(sub, entry.children);
            if (entry.command == CommandId::openWith) {
                connect(sub, &QMenu::aboutToShow, this, [this, sub] {
                    if (fillOpenWith)
                        fillOpenWith(sub);
                });
            }
            break;
        }
        case MenuEntry::Kind::item: {
            QAction *action = menu->addAction(Commands::entryTitle(entry));
            action->setCheckable(entry.checkable);
            // Shown, never matched: the window's router performs the keys.
            action->setShortcutContext(Qt::WidgetShortcut);
            action->setAutoRepeat(false);
            const CommandId id = entry.command;
            const int tag = entry.tag;
            connect(action, &QAction::triggered, this, [this, action, id, tag] {
                // A checkable item flips its own tick on a click; the command
                // decides, and the next validation shows what it decided.
                if (action->isCheckable())
                    action->setChecked(!action->isChecked());
                router.dispatch(id, tag);
            });
            items.push_back({action, entry});
            break;
        }
        }
    }
}

void MainMenu::applyShortcuts()
{
    for (const Item &item : items) {
        // Tagged items (stars, sort keys, seconds) choose a value; the key of
        // their command is not theirs.
        const bool ownsKey = item.entry.tag == 0 || Commands::def(item.entry.command).action;
        const std::optional<KeyCombo> key = ownsKey ? Commands::menuKey(item.entry.command) : std::nullopt;
        item.action->setShortcut(key ? Shortcuts::keyEquivalent(*key) : QKeySequence());
    }
}

void MainMenu::validate(QMenu *menu)
{
    const CommandStateBatch batch;
    for (const Item &item : items) {
        if (!menu->actions().contains(item.action))
            continue;
        const CommandState state = router.state(item.entry.command, item.entry.tag);
        item.action->setEnabled(state.enabled);
        if (item.action->isCheckable())
            item.action->setChecked(state.checked);
        item.action->setText(state.title.isEmpty() ? Commands::entryTitle(item.entry) : state.title);
    }
    for (const auto &[sub, owner] : submenus) {
        if (!menu->actions().contains(sub->menuAction()))
            continue;
        bool enabled = router.state(owner).enabled;
        if (owner == CommandId::openWith)
            enabled = enabled && fillOpenWith;
        sub->menuAction()->setEnabled(enabled);
    }
}

QAction *MainMenu::action(CommandId id, int tag) const
{
    for (const Item &item : items) {
        if (item.entry.command == id && item.entry.tag == tag)
            return item.action;
    }
    return nullptr;
}

QMenu *MainMenu::photoMenu()
{
    if (m_photoMenu)
        return m_photoMenu;
    // A child of the bar, so a state change while it is open reaches it as it
    // reaches the bar's menus.
    m_photoMenu = new QMenu(bar);
    m_photoMenu->setToolTipsVisible(false);
    const auto add = [this](CommandId id) {
        if (QAction *item = action(id))
            m_photoMenu->addAction(item);
    };
    const auto addSubmenu = [this](CommandId owner) {
        for (const auto &[sub, id] : submenus) {
            if (id == owner) {
                m_photoMenu->addMenu(sub);
                return;
            }
        }
    };
    using C = CommandId;
    add(C::openInEditor);
    addSubmenu(C::openWith);
    add(C::revealInFinder);
    m_photoMenu->addSeparator();
    add(C::rotateCW);
    add(C::rotateCCW);
    add(C::saveRotation);
    addSubmenu(C::setRatingMenu);
    m_photoMenu->addSeparator();
    add(C::renameCurrent);
    add(C::exportAs);
    add(C::copyPhoto);
    add(C::setWallpaper);
    m_photoMenu->addSeparator();
    add(C::toggleInfoPanel);
    m_photoMenu->addSeparator();
    add(C::trashCurrent);
    connect(m_photoMenu, &QMenu::aboutToShow, this, [this] { validate(m_photoMenu); });
    return m_photoMenu;
}

void MainMenu::popupPhotoMenu(const QPoint &globalPos)
{
    photoMenu()->popup(globalPos);
}
