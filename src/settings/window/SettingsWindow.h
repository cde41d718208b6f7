#pragma once

#include "settings/Shortcuts.h"

#include <QPointer>
#include <QSize>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

#include "platform/GlobalHotkey.h"
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTableWidget;
class QToolButton;
class ShortcutRecorder;

// One tab of the settings window: refreshed from the settings each time it is shown.
class SettingsPane : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;
    virtual void refresh() = 0;
};

class SettingsWindowController;

// Default viewer, sort, paging, slideshow, rating badge, Esc, HDR, editor, updates.
class GeneralSettingsPane : public SettingsPane
{
    Q_OBJECT
public:
    explicit GeneralSettingsPane(SettingsWindowController *owner);
    void refresh() override;

    QLabel *defaultStatus = nullptr;
    QPushButton *makeDefaultButton = nullptr;
    QLabel *defaultMessage = nullptr;   // a failed registration, said to the person
    QComboBox *sortPopup = nullptr;
    QCheckBox *sortDescending = nullptr;
    QCheckBox *pagingFade = nullptr;
    QComboBox *intervalPopup = nullptr;
    QCheckBox *slideFade = nullptr;
    QComboBox *fadePopup = nullptr;
    QCheckBox *ratingBadge = nullptr;
    QCheckBox *escCloses = nullptr;
    QCheckBox *hdr = nullptr;
    QLabel *hdrNote = nullptr;
    QLabel *editorName = nullptr;
    QPushButton *chooseEditor = nullptr;
    QPushButton *clearEditor = nullptr;
    QCheckBox *autoUpdate = nullptr;
    QPushButton *checkNow = nullptr;

private:
    void writeSlideFade();
    void refreshDefaultViewer();
    SettingsWindowController *owner;
};

// The wheel's job, the zoom direction and the trackpad note.
class MouseSettingsPane : public SettingsPane
{
    Q_OBJECT
public:
    explicit MouseSettingsPane(QWidget *parent = nullptr);
    void refresh() override;

    QRadioButton *wheelNavigates = nullptr;
    QRadioButton *wheelZooms = nullptr;
    QLabel *wheelNote = nullptr;
    QCheckBox *invertZoom = nullptr;
};

// Every bindable action with its recorder, grouped, and the reset button.
class ShortcutSettingsPane : public SettingsPane
{
    Q_OBJECT
public:
    explicit ShortcutSettingsPane(SettingsWindowController *owner);
    void refresh() override;

    ShortcutRecorder *recorder(ShortcutAction action) const;
    QTableWidget *table = nullptr;
    QLabel *status = nullptr;
    QLabel *hotkeyNote = nullptr;
    QPushButton *reset = nullptr;

    // The line under the list about the global hotkey: why it is not active,
    // or which trigger the desktop gave it.
    void refreshHotkeyNote();

private:
    void record(ShortcutAction action, const std::optional<KeyCombo> &combo);
    std::array<ShortcutRecorder *, shortcutActionCount> recorders{};
    SettingsWindowController *owner;
};

// The one settings window of the program (600 x 420, three tabs), made on
// first use and kept for the rest of the run. Every control writes its setting
// at once; there is no OK or Apply.
class SettingsWindowController : public QWidget
{
    Q_OBJECT
public:
    static constexpr QSize windowSize{600, 420};
    static constexpr int tabCount = 3;
    enum Tab { general = 0, mouse = 1, shortcuts = 2 };

    static SettingsWindowController &shared();
    // Whether the shared window has been made (for tests and the quit path).
    static bool exists();

    // Shows the window in front with the given tab, clamped to the three
    // tabs; none keeps the tab shown last.
    void showTab(std::optional<int> tab);
    int selectedTab() const { return selected; }
    SettingsPane *pane(int index) const { return panes.at(size_t(index)); }
    QToolButton *tabButton(int index) const { return buttons.at(size_t(index)); }

    // Ties the window's life in the session to the viewer window: when that
    // closes, this one closes too, so it never keeps the process running.
    void followViewerWindow(QWidget *viewer);

    // Optional hooks the application sets once.
    std::function<void(QWidget *window)> onCheckNow;               // default: check and answer in an alert
    std::function<std::optional<QString>(QWidget *window)> chooseEditor;   // a desktop entry's path
    std::function<bool()> hdrAvailable;                             // default: no HDR output
    void setHotkey(GlobalHotkey *hotkey);
    GlobalHotkey *hotkey() const { return globalHotkey.data(); }

    GeneralSettingsPane *generalPane() const;
    MouseSettingsPane *mousePane() const;
    ShortcutSettingsPane *shortcutPane() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    SettingsWindowController();
    void select(int index);

    std::array<SettingsPane *, tabCount> panes{};
    std::array<QToolButton *, tabCount> buttons{};
    QStackedWidget *container = nullptr;
    int selected = 0;
    QPointer<GlobalHotkey> globalHotkey;
    QPointer<QWidget> viewer;
};

// The viewer's "Settings…" (the tab shown last) and "Shortcuts…" (a given tab).
void showSettings();
void showSettings(int tab);
