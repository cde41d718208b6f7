#pragma once

#include "commands/Command.h"

#include <QString>

#include <vector>

// The main menu as plain data: the seven menus in order, each with its items,
// separators and submenus. The menu bar is built from it (app/MainMenu) and the
// tests read it directly.
struct MenuEntry
{
    enum class Kind { item, separator, submenu };
    Kind kind = Kind::item;
    CommandId command = CommandId::showAbout;
    // The menu item's parameter: star count, sort key, seconds, wheel choice.
    int tag = 0;
    // The title when it is not the command's own: a text key, else a literal.
    const char *titleKey = nullptr;
    QString literalTitle;
    // Items that show a tick.
    bool checkable = false;
    std::vector<MenuEntry> children;

    static MenuEntry separator()
    {
        MenuEntry e;
        e.kind = Kind::separator;
        return e;
    }
};

struct MenuSpec
{
    // Text key of the menu's title; the application menu has a literal name instead.
    const char *titleKey = nullptr;
    QString literalTitle;
    std::vector<MenuEntry> entries;
};

namespace Commands {

std::vector<MenuSpec> mainMenuTree();
// The shown title of an entry (stars for ratings, the sort order names ...).
QString entryTitle(const MenuEntry &entry);
QString menuTitle(const MenuSpec &menu);
// "★★★☆☆": stars black and five minus stars white.
QString starTitle(int stars);

} // namespace Commands
