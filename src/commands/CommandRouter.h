#pragma once

#include "commands/Command.h"

#include <QObject>

#include <functional>
#include <map>
#include <vector>

class CommandRouter;
class QKeyEvent;
class QWidget;

// What a command does on one page, and when it is enabled or ticked. tag is the
// menu item's parameter (star count, sort key, seconds) or 0.
struct CommandHandler
{
    std::function<void(int tag)> run;
    // Absent: always enabled, never ticked.
    std::function<CommandState(int tag)> state;
};

// A set of handlers: a page's own commands, or the window-wide ones.
class CommandHandlers
{
public:
    void on(CommandId id, std::function<void(int tag)> run, std::function<CommandState(int tag)> state = {});
    void remove(CommandId id);
    const CommandHandler *find(CommandId id) const;

private:
    friend class CommandRouter;
    friend class CommandPage;
    // The router whose states depend on these handlers: told when one comes or goes.
    CommandRouter *router = nullptr;
    std::map<CommandId, CommandHandler> handlers;
};

// A screen of the window (the viewer, the cleanup review) with its own commands.
// While it is the active page, commands reach its handlers and no other page's.
class CommandPage
{
public:
    // A page that goes while still on a router's stack leaves it there and then.
    virtual ~CommandPage();
    virtual QWidget *pageWidget() = 0;
    // Called when the page becomes the active one (give the keyboard to its view).
    virtual void pageActivated() {}

    CommandHandlers commands;
};

// A span in which many states are asked at once (a menu about to open, the
// toolbar's buttons) and nothing changes between the questions, so a page may
// work out once what its rules share (the settings, the current photo) rather
// than once per item. Main thread only; batches may nest.
class CommandStateBatch
{
public:
    CommandStateBatch();
    ~CommandStateBatch();
    CommandStateBatch(const CommandStateBatch &) = delete;
    CommandStateBatch &operator=(const CommandStateBatch &) = delete;

    // 0 outside any batch, else a number of the outermost batch, new for each.
    static quint64 current();
};

// Runs commands: each menu choice, key press or button press becomes exactly
// one call of one handler. The active page's handler answers first, then the
// window-wide handler; a command that neither handles is disabled (features
// not built yet stay visible in the menu, greyed).
//
// Every run is logged under the category "glanto.commands" as one line
// "command NAME TAG" (QT_LOGGING_RULES=glanto.commands.debug=true shows them).
class CommandRouter : public QObject
{
    Q_OBJECT
public:
    explicit CommandRouter(QObject *parent = nullptr);
    ~CommandRouter() override;

    // Commands that do not depend on the page: quit, about, settings, window.
    CommandHandlers windowCommands;

    // The page stack. The top page is the active one; popping returns to the one below.
    void pushPage(CommandPage *page);
    void popPage(CommandPage *page);
    CommandPage *activePage() const;
    std::function<void(CommandPage *active)> onActivePageChanged;

    // The handler that would run the command now, or none.
    const CommandHandler *handlerFor(CommandId id) const;
    CommandState state(CommandId id, int tag = 0) const;
    // Runs the command when it is enabled; returns whether it ran.
    bool dispatch(CommandId id, int tag = 0);
    // A key press of the window: runs its command (at most one) and says whether
    // the key was a command's, enabled or not.
    bool dispatchKey(const QKeyEvent *event);
    // A key release of the window. A held key repeats as a release and a press
    // with the same time; Qt marks the press as a repeat only when it finds both
    // in its queue at once, which a busy window misses, so the router keeps the
    // time of each key's last release to tell the repeats of a held key itself.
    void noteKeyRelease(const QKeyEvent *event);
    // Whether the key press belongs to a command (used to keep it from menu shortcuts).
    static std::optional<Commands::Invocation> commandForKey(const QKeyEvent *event);

    // Something a command's enabled or ticked state depends on may have changed.
    // The router notices the changes it sees itself (a handler added or removed,
    // the active page, a command run, a setting or binding changed); a page calls
    // this for its own (a photo shown, a file's state read). Whatever shows the
    // states listens to statesChanged(), which comes once per turn of the event
    // loop however many changes came before it.
    void statesMayHaveChanged();

Q_SIGNALS:
    void statesChanged();

private:
    bool isHeldKey(const QKeyEvent *event) const;

    std::vector<CommandPage *> pages;
    bool statesChangePosted = false;
    std::map<int, quint64> releasedAt; // Qt key -> time of its last release
};
