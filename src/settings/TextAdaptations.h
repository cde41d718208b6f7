#pragma once

#include <span>

// A built-in text whose first wording named something that exists only on macOS
// (Finder, the modifier glyphs, /Applications, a macOS version, Mac-only tools)
// and that the text table states the Linux way instead.
struct TextAdaptation
{
    const char *key;
    const char *original; // the wording written for macOS
    const char *adapted;  // what the built-in table holds
    const char *reason;
};

// A menu item of the other OS's menu bar that this program offers differently
// or not at all; the text table keeps its key.
struct MenuAdaptation
{
    const char *key;
    const char *choice; // what the Linux build does with the item
    const char *reason;
};

namespace Texts {

// Every such adaptation, in table order. The table and this list must agree.
std::span<const TextAdaptation> adaptations();
// The menu items adapted or left out.
std::span<const MenuAdaptation> menuAdaptations();

} // namespace Texts
