#include "commands/CommandRouter.h"

#include "settings/Settings.h"

#include <QKeyEvent>
#include <QLoggingCategory>
#include <QPointer>

Q_LOGGING_CATEGORY(lcCommands, "glanto.commands", QtWarningMsg)

void CommandHandlers::on(CommandId id, std::function<void(int)> run, std::function<CommandState(int)> state)
{
    handlers[id] = CommandHandler{std::move(run), std::move(state)};
    if (router)
        router->statesMayHaveChanged();
}

void CommandHandlers::remove(CommandId id)
{
    if (handlers.erase(id) && router)
        router->statesMayHaveChanged();
}

const CommandHandler *CommandHandlers::find(CommandId id) const
{
    const auto it = handlers.find(id);
    return it == handlers.end() || !it->second.run ? nullptr : &it->second;
}

CommandPage::~CommandPage()
{
    if (commands.router)
        commands.router->popPage(this);
}

namespace {

quint64 batchSerial = 0;
quint64 openBatch = 0;
int batchDepth = 0;

} // namespace

CommandStateBatch::CommandStateBatch()
{
    if (batchDepth++ == 0)
        openBatch = ++batchSerial;
}

CommandStateBatch::~CommandStateBatch()
{
    if (--batchDepth == 0)
        openBatch = 0;
}

quint64 CommandStateBatch::current()
{
    return openBatch;
}

CommandRouter::CommandRouter(QObject *parent)
    : QObject(parent)
{
    windowCommands.router = this;
    SettingsNotifier &notifier = SettingsNotifier::instance();
    connect(&notifier, &SettingsNotifier::settingsDidChange, this, &CommandRouter::statesMayHaveChanged);
    connect(&notifier, &SettingsNotifier::shortcutsDidChange, this, &CommandRouter::statesMayHaveChanged);
}

CommandRouter::~CommandRouter()
{
    // Pages may outlive the window's router; their later handlers tell nobody.
    for (CommandPage *page : pages) {
        if (page->commands.router == this)
            page->commands.router = nullptr;
    }
}

void CommandRouter::statesMayHaveChanged()
{
    if (statesChangePosted)
        return;
    statesChangePosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            statesChangePosted = false;
            Q_EMIT statesChanged();
        },
        Qt::QueuedConnection);
}

void CommandRouter::pushPage(CommandPage *page)
{
    if (!page)
        return;
    std::erase(pages, page);
    pages.push_back(page);
    page->commands.router = this;
    page->pageActivated();
    if (onActivePageChanged)
        onActivePageChanged(page);
    statesMayHaveChanged();
}

void CommandRouter::popPage(CommandPage *page)
{
    if (pages.empty() || !page)
        return;
    const bool wasActive = pages.back() == page;
    if (std::erase(pages, page) && page->commands.router == this)
        page->commands.router = nullptr;
    if (!wasActive)
        return;
    statesMayHaveChanged();
    if (CommandPage *active = activePage())
        active->pageActivated();
    if (onActivePageChanged)
        onActivePageChanged(activePage());
}

CommandPage *CommandRouter::activePage() const
{
    return pages.empty() ? nullptr : pages.back();
}

const CommandHandler *CommandRouter::handlerFor(CommandId id) const
{
    if (CommandPage *page = activePage()) {
        if (const CommandHandler *handler = page->commands.find(id))
            return handler;
    }
    return windowCommands.find(id);
}

CommandState CommandRouter::state(CommandId id, int tag) const
{
    const CommandHandler *handler = handlerFor(id);
    if (!handler)
        return CommandState{false, false, {}};
    return handler->state ? handler->state(tag) : CommandState{};
}

bool CommandRouter::dispatch(CommandId id, int tag)
{
    const CommandHandler *handler = handlerFor(id);
    if (!handler || (handler->state && !handler->state(tag).enabled))
        return false;
    qCDebug(lcCommands).noquote() << "command" << Commands::name(id) << tag;
    // The handler may replace the page (and with it this handler): run a copy.
    const std::function<void(int)> run = handler->run;
    const QPointer<CommandRouter> alive(this);
    run(tag);
    // Most commands change what is enabled or ticked (a toggle, another photo).
    // Closing the window may have taken the router with it.
    if (alive)
        statesMayHaveChanged();
    return true;
}

std::optional<Commands::Invocation> CommandRouter::commandForKey(const QKeyEvent *event)
{
    if (!event || (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return std::nullopt;
    for (const Shortcuts::KeyReading &reading :
         Shortcuts::readingsForKey(event->key(), event->modifiers(), Shortcuts::physicalKey(*event))) {
        if (std::optional<Commands::Invocation> invocation = Commands::forKey(reading.keyCode, reading.mods))
            return invocation;
    }
    return std::nullopt;
}

void CommandRouter::noteKeyRelease(const QKeyEvent *event)
{
    // A time of 0 is no time: the key events that the accessibility bridge
    // passes on while a screen reader listens carry none, and would make every
    // press after the first release look held.
    if (event && event->type() == QEvent::KeyRelease && event->timestamp() != 0)
        releasedAt[event->key()] = event->timestamp();
}

bool CommandRouter::isHeldKey(const QKeyEvent *event) const
{
    if (event->isAutoRepeat())
        return true;
    const auto released = releasedAt.find(event->key());
    return event->timestamp() != 0 && released != releasedAt.end() && released->second == event->timestamp();
}

bool CommandRouter::dispatchKey(const QKeyEvent *event)
{
    const std::optional<Commands::Invocation> invocation = commandForKey(event);
    if (!invocation)
        return false;
    if (!Commands::def(invocation->id).repeats && isHeldKey(event))
        return true;
    dispatch(invocation->id, invocation->tag);
    return true;
}
