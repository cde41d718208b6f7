#pragma once

#include "commands/CommandRouter.h"
#include "commands/MenuTree.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QPoint;

// The main menu bar, built once from the menu tree. Choosing an item runs its
// command through the router; the enabled states, ticks and the editor item's
// title are asked of the router each time a menu is about to open; the keys
// shown follow the shortcut bindings (applyShortcuts, re-run on every change).
//
// The keys an item shows are for reading only: the window's router performs
// every key press itself, so a menu shortcut and the photo view never both
// answer the same press.
class MainMenu : public QObject
{
    Q_OBJECT
public:
    MainMenu(QMenuBar *bar, CommandRouter &router, QObject *parent = nullptr);

    // Sets each item's shown key from the current bindings and fixed keys.
    void applyShortcuts();
    // Recomputes the enabled state, tick and title of every item of a menu.
    void validate(QMenu *menu);

    // Fills the open-with submenu each time it opens (the applications able to
    // open the current photo). While unset the submenu is disabled.
    std::function<void(QMenu *menu)> fillOpenWith;

    // The photo's own menu, opened by a right click or the Menu key on the photo:
    // the commands on the photo shown, the same items as the bar's (one action
    // each, so their states, ticks and keys agree).
    QMenu *photoMenu();
    void popupPhotoMenu(const QPoint &globalPos);

    QMenuBar *menuBar() const { return bar; }
    // The item for a command and tag (tests, screenshots).
    QAction *action(CommandId id, int tag = 0) const;
    const std::vector<QMenu *> &menus() const { return topMenus; }

    // A menu title of the bar with its Alt letter marked (see the source).
    static QString withMnemonic(const QString &title, const char *titleKey);

private:
    struct Item
    {
        QAction *action;
        MenuEntry entry;
    };
    void addEntries(QMenu *menu, const std::vector<MenuEntry> &entries);
    void prepareMenus(size_t next);

    QMenuBar *bar;
    QPointer<QWidget> focusBeforeMenus; // where the keyboard was when a menu opened
    CommandRouter &router;
    std::vector<Item> items;
    std::vector<std::pair<QMenu *, CommandId>> submenus;
    std::vector<QMenu *> topMenus;
    QMenu *m_photoMenu = nullptr;
};
