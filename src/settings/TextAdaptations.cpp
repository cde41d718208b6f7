#include "settings/TextAdaptations.h"

// The built-in Chinese texts (resources/texts/zh.tsv) hold the adapted wording;
// this list keeps the original next to it so that the change stays visible and
// reviewable. Key glyphs follow Qt's notation on Linux: Command is Ctrl, Option is
// Alt, Control is Meta, Delete is Backspace.
namespace Texts {

namespace {

constexpr TextAdaptation kAdaptations[] = {
    {"menu.reveal",
     "在 Finder 中显示",
     "在文件管理器中显示",
     "Finder is the macOS file manager; here the desktop's file manager shows the file"},
    {"menu.trash",
     "移到废纸篓",
     "移到回收站",
     "macOS calls the Trash 废纸篓; Linux desktops call the freedesktop Trash 回收站"},
    {"set.defaultNote",
     "JPEG、PNG、HEIC、TIFF、GIF、WebP 和相机 RAW 双击都用 Glanto 打开。也可以在访达里右键一张图，按住 ⌥ 键，选「始终以此打开」› Glanto。",
     "JPEG、PNG、HEIC、TIFF、GIF、WebP 和相机 RAW 双击都用 Glanto 打开。也可以在文件管理器里右键一张图，在「打开方式」里选 Glanto 并设为默认。",
     "Finder's Option-key \"Always Open With\" item does not exist; Linux file managers set the default application in their Open With dialog"},
    {"set.escNote",
     "适应窗口时按 Esc 直接关闭，放大时先恢复。配合访达的 ⌘↓ 打开，可以当快速查看用。",
     "适应窗口时按 Esc 直接关闭，放大时先恢复。配合文件管理器里按回车打开，可以当快速查看用。",
     "Finder and its Cmd+Down open shortcut are macOS-only; Linux file managers open the selected file with Enter"},
    {"set.hdrNote",
     "iPhone 等拍的 HDR 照片，亮部会比普通白更亮，和系统「预览」看到的一样。HDR 照片占用的内存是普通照片的两倍。",
     "iPhone 等拍的 HDR 照片，亮部会比普通白更亮。HDR 照片占用的内存是普通照片的两倍。",
     "the comparison with the macOS Preview app is dropped: there is no such system app here"},
    {"set.hdrUnsupported",
     "需要 macOS 14 或更新版本，以及支持 HDR 的屏幕（如 MacBook Pro 的 XDR 屏）。",
     "需要支持 HDR 输出的桌面环境（如开启了 HDR 的 KDE Plasma Wayland 会话），以及支持 HDR 的屏幕。",
     "names what Linux needs for extended range (an HDR-capable compositor and screen) instead of a macOS version and a Mac screen"},
    {"set.invertNote",
     "用 Mos 之类的工具改过滚轮方向后，如果滚轮缩放反了，就勾上这一项。只影响滚轮缩放，不影响触控板捏合和滚轮翻页。",
     "在系统设置里改过滚轮方向（如自然滚动）后，如果滚轮缩放反了，就勾上这一项。只影响滚轮缩放，不影响触控板捏合和滚轮翻页。",
     "Mos is a macOS-only utility; on Linux the scroll direction is changed in the desktop settings"},
    {"set.trackpadNote",
     "双指捏合缩放，双指轻点两下在适应窗口和 100% 之间切换，拖动平移。",
     "双指捏合缩放，轻点两下在适应窗口和 100% 之间切换，拖动平移。",
     "the two-finger double tap (smart magnify) is a macOS trackpad gesture; on Linux a double tap arrives as a double click, which does the same"},
    {"msg.rotHint",
     "已旋转视图 · ⌘⌥S 可保存到文件",
     "已旋转视图 · Ctrl+Alt+S 可保存到文件",
     "macOS modifier glyphs written in Linux notation (Cmd = Ctrl, Option = Alt)"},
    {"msg.editorSet",
     "后期软件：%@ · ⌘E 打开当前照片",
     "后期软件：%@ · Ctrl+E 打开当前照片",
     "macOS Command glyph written as Ctrl"},
    {"wheel.navigate.on",
     "滚轮：切换图片（⌘+滚轮缩放）",
     "滚轮：切换图片（Ctrl+滚轮缩放）",
     "macOS Command glyph written as Ctrl"},
    {"wheel.zoom.on",
     "滚轮：缩放图片（⌘+滚轮平移）",
     "滚轮：缩放图片（Ctrl+滚轮平移）",
     "macOS Command glyph written as Ctrl"},
    {"cleanup.tip",
     "照片很多？⌘⇧K 进入清理模式，找出重复、闭眼和模糊的照片",
     "照片很多？Ctrl+Shift+K 进入清理模式，找出重复、闭眼和模糊的照片",
     "macOS modifier glyphs written in Linux notation"},
    {"cleanup.trash",
     "移到废纸篓",
     "移到回收站",
     "the Trash is called 回收站 on Linux desktops"},
    {"cleanup.trashN",
     "移到废纸篓 (%d)",
     "移到回收站 (%d)",
     "the Trash is called 回收站 on Linux desktops"},
    {"cleanup.trashed",
     "已移到废纸篓 %d 张 · ⌘Z 撤销",
     "已移到回收站 %d 张 · Ctrl+Z 撤销",
     "the Trash is called 回收站 on Linux desktops; Command glyph written as Ctrl"},
    {"tip.fit",
     "适应窗口（0 / 双击）",
     "适应窗口（Ctrl+0 / 双击）",
     "the fixed fit key is Ctrl+0 (the menu's Cmd+0); 0 alone zooms to 100 % at the pointer and fits only from a zoomed photo"},
    {"tip.export",
     "导出压缩副本（⌘S）",
     "导出压缩副本（Ctrl+S）",
     "macOS Command glyph written as Ctrl"},
    {"tip.trash",
     "移到废纸篓（⌘⌫）",
     "移到回收站（Ctrl+Backspace）",
     "macOS glyphs written in Linux notation; the freedesktop Trash is called 回收站 on Linux desktops"},
    {"sc.needsModifier",
     "全局快捷键要带 ⌘、⌥ 或 ⌃，单个键会和别的软件冲突",
     "全局快捷键要带 Ctrl、Alt 或 Meta，单个键会和别的软件冲突",
     "Command, Option and Control are Ctrl, Alt and Meta here"},
    {"sc.hint",
     "点右侧的按键，再按下新的组合。Esc 取消，⌫ 清除。带 ⌘ 的组合在菜单里也能看到。",
     "点右侧的按键，再按下新的组合。Esc 取消，Backspace 清除。带 Ctrl 的组合在菜单里也能看到。",
     "macOS Delete and Command glyphs written as Backspace and Ctrl"},
    {"sc.fixed",
     "固定按键：Esc 关闭照片信息、退出预览和全屏；双击在适应窗口和 100% 之间切换；⌘O 打开，⌘W 关闭窗口，⌘= ⌘- 缩放，⌘0 适应窗口，⌘1 实际大小。",
     "固定按键：Esc 关闭照片信息、退出预览和全屏；双击在适应窗口和 100% 之间切换；Ctrl+O 打开，Ctrl+W 关闭窗口，Ctrl+= Ctrl+- 缩放，Ctrl+0 适应窗口，Ctrl+1 实际大小，Ctrl+C 复制照片。F11 也切换全屏，F2 也重命名，Delete 也移到回收站，除非把该键改给了别的操作。",
     "macOS Command glyphs written as Ctrl+; F11, F2 and Delete, the Linux desktops' keys, which a binding may take; Ctrl+C, which copies the photo"},
    {"update.availableInfo",
     "你现在用的是 %@。下载后把新版拖进「应用程序」替换即可，设置都会保留。",
     "你现在用的是 %@。下载后安装新版替换旧版即可，设置都会保留。",
     "there is no /Applications folder to drag the new version into; the user installs the downloaded package"},
};

constexpr MenuAdaptation kMenuAdaptations[] = {
    {"menu.about",
     "the application menu is titled with the program's name, Glanto; its first item keeps this title",
     "Linux menu bars have no system-owned application menu whose title is the about item; the program's name "
     "says where About, Settings and Quit are"},
    {"menu.hide",
     "kept with Ctrl+H; it minimises the window",
     "X11 and Wayland desktops have no hiding of an application; minimising is what takes the window off the "
     "screen until it is brought back"},
    {"menu.hideOthers",
     "left out (Ctrl+Alt+H stays a reserved key)",
     "hiding the other applications' windows is a macOS service; Linux window managers offer no such call"},
    {"menu.showAll",
     "left out",
     "its counterpart, hiding other applications, does not exist here"},
    {"menu.front",
     "kept; it raises and activates the one window",
     "there is no application-wide window ordering to ask for, and Glanto has a single window"},
    {"menu.windowZoom",
     "kept; it maximises the window or restores it",
     "macOS zoom toggles between the standard and the user size; the Linux equivalent is maximise"},
};

} // namespace

std::span<const TextAdaptation> adaptations()
{
    return kAdaptations;
}

std::span<const MenuAdaptation> menuAdaptations()
{
    return kMenuAdaptations;
}

} // namespace Texts
