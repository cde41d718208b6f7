#include "commands/MenuTree.h"

#include "settings/SortKey.h"
#include "settings/Texts.h"

#include <algorithm>

namespace {

using K = MenuEntry::Kind;

MenuEntry item(CommandId id, bool checkable = false)
{
    MenuEntry e;
    e.command = id;
    e.checkable = checkable;
    return e;
}

MenuEntry tagged(CommandId id, int tag, const char *titleKey, bool checkable)
{
    MenuEntry e = item(id, checkable);
    e.tag = tag;
    e.titleKey = titleKey;
    return e;
}

MenuEntry sep()
{
    return MenuEntry::separator();
}

MenuEntry submenu(CommandId owner, const char *titleKey, std::vector<MenuEntry> children)
{
    MenuEntry e;
    e.kind = K::submenu;
    e.command = owner;
    e.titleKey = titleKey;
    e.children = std::move(children);
    return e;
}

std::vector<MenuEntry> ratingItems()
{
    std::vector<MenuEntry> items;
    for (int stars = 5; stars >= 1; --stars) {
        MenuEntry e = item(CommandId::setRatingMenu, true);
        e.tag = stars;
        e.literalTitle = Commands::starTitle(stars);
        items.push_back(e);
    }
    items.push_back(sep());
    items.push_back(tagged(CommandId::setRatingMenu, 0, "rating.none", true));
    return items;
}

std::vector<MenuEntry> sortItems()
{
    std::vector<MenuEntry> items;
    for (int raw = 0; raw <= 4; ++raw)
        items.push_back(tagged(CommandId::setSortKey, raw, sortKeyTitleKey(sortKeyFromRaw(raw)), true));
    items.push_back(sep());
    items.push_back(item(CommandId::toggleSortReversed, true));
    return items;
}

std::vector<MenuEntry> intervalItems()
{
    std::vector<MenuEntry> items;
    for (int seconds : {1, 2, 3, 5, 10}) {
        MenuEntry e = item(CommandId::setSlideshowInterval, true);
        e.tag = seconds;
        e.literalTitle = Texts::format("slide.seconds", {QString::number(seconds)});
        items.push_back(e);
    }
    return items;
}

std::vector<MenuEntry> wheelItems()
{
    return {tagged(CommandId::setWheelAction, 1, "wheel.navigate", true),
            tagged(CommandId::setWheelAction, 0, "wheel.zoom", true), sep(),
            item(CommandId::toggleWheelZoomInverted, true)};
}

} // namespace

namespace Commands {

QString starTitle(int stars)
{
    stars = std::clamp(stars, 0, 5);
    return QString(stars, QChar(0x2605)) + QString(5 - stars, QChar(0x2606));
}

std::vector<MenuSpec> mainMenuTree()
{
    using C = CommandId;
    std::vector<MenuSpec> menus;

    // On Linux the application menu is named after the program; it holds the
    // same items. Hiding the application does not exist on these desktops:
    // "hide" minimises the window, and "hide others" and "show all" are left out.
    menus.push_back({nullptr, QStringLiteral("Glanto"),
                     {item(C::showAbout), item(C::checkForUpdates), sep(), item(C::showSettings), sep(),
                      item(C::hideWindow), sep(), item(C::quit)}});

    // Choosing the editor sits under the item that uses it.
    menus.push_back({"menu.file", {},
                     {item(C::openFolderPanel), item(C::revealInFinder), sep(), item(C::openInEditor),
                      item(C::chooseEditor), submenu(C::openWith, "menu.openWith", {}),
                      submenu(C::setRatingMenu, "menu.rating", ratingItems()), sep(), item(C::renameCurrent),
                      item(C::saveRotation), sep(), item(C::exportAs), item(C::copyPhoto), sep(), item(C::trashCurrent), sep(),
                      item(C::performClose)}});

    // The slideshow's interval and the paging fade sit with the slideshow; the
    // wheel and the Esc behaviour with the other ways of looking at a photo.
    menus.push_back({"menu.view", {},
                     {item(C::zoomIn), item(C::zoomOut), sep(), item(C::zoomActual), item(C::zoomFit), sep(),
                      item(C::rotateCW), item(C::rotateCCW), sep(), item(C::toggleInfoPanel),
                      item(C::toggleFilmstrip), item(C::toggleSlideshow),
                      submenu(C::setSlideshowInterval, "menu.slideInterval", intervalItems()),
                      item(C::toggleFadeTransition, true), sep(), submenu(C::setSortKey, "menu.sort", sortItems()),
                      sep(), submenu(C::setWheelAction, "menu.wheel", wheelItems()), item(C::toggleEscCloses, true),
                      sep(), item(C::toggleFullScreen)}});

    menus.push_back({"menu.go", {},
                     {item(C::navigateBackward), item(C::navigateForward), sep(), item(C::goFirst),
                      item(C::goLast)}});

    menus.push_back({"menu.tools", {},
                     {item(C::batchConvert), item(C::batchRename), sep(), item(C::toggleCleanup), sep(),
                      item(C::setWallpaper)}});

    menus.push_back({"menu.window", {},
                     {item(C::performMiniaturize), item(C::performZoom), sep(), item(C::arrangeInFront)}});

    menus.push_back({"menu.help", {}, {item(C::showShortcuts)}});
    return menus;
}

QString entryTitle(const MenuEntry &entry)
{
    if (!entry.literalTitle.isEmpty())
        return entry.literalTitle;
    if (entry.titleKey)
        return Texts::text(entry.titleKey);
    return Texts::text(def(entry.command).titleKey);
}

QString menuTitle(const MenuSpec &menu)
{
    return menu.titleKey ? Texts::text(menu.titleKey) : menu.literalTitle;
}

} // namespace Commands
