#include "app/ViewerWindowController.h"

#include "app/MainMenu.h"
#include "app/OpenPanel.h"
#include "platform/FileNames.h"
#include "platform/GlobalHotkey.h"
#include "settings/Texts.h"
#include "viewer/ViewerOverlays.h"
#include "viewer/ViewerPage.h"
#include "viewer/ViewerPageExport.h"
#include "viewer/ZoomableImageView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMoveEvent>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QTimer>

#include <algorithm>

#include <sys/stat.h>

#include <cerrno>

namespace {

// The same per-user store as the preferences (~/.config/Glanto/Glanto.conf).
QSettings frameStore()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Glanto"),
                     QStringLiteral("Glanto"));
}

// A widget that takes typed text keeps its keys (a rename field on a page).
bool takesText(const QWidget *widget)
{
    return widget && widget->testAttribute(Qt::WA_InputMethodEnabled);
}

// Space, Return and Enter press a button that has the keyboard focus (reached
// with Tab; keys go to the focus) rather than run the commands bound to them.
bool pressesFocusedButton(const QWidget *widget, const QKeyEvent *key)
{
    if (!qobject_cast<const QAbstractButton *>(widget))
        return false;
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    return key->key() == Qt::Key_Space || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

} // namespace

ViewerWindowController::ViewerWindowController(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("viewerWindow"));
    setWindowTitle(QStringLiteral("Glanto"));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("app.glanto.Glanto"), QIcon(QStringLiteral(":/icons/app.glanto.Glanto.svg"))));

    // Black and opaque behind everything, whatever the desktop's theme.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    setMinimumSize(minimumContentSize);
    stack = new QStackedWidget(this);
    setCentralWidget(stack);
    m_viewer = new ViewerPage(stack);
    m_viewer->showOpenPanel = [this](const QString &startFolder, std::function<void(const QString &)> onChosen) {
        ::showOpenPanel(this, startFolder, std::move(onChosen));
    };
    stack->addWidget(m_viewer);
    m_router.pushPage(m_viewer);
    connect(m_viewer, &QWidget::windowTitleChanged, this, [this] { updateTitle(); });

    registerWindowCommands();
    // The toolbar, arrows, information panel and slideshow over the viewer.
    new ViewerOverlays(m_viewer, m_router);
    m_menu = new MainMenu(menuBar(), m_router, this);
    m_viewer->imageView()->onContextMenu = [this](const QPoint &globalPos) { m_menu->popupPhotoMenu(globalPos); };
    // Every key press of the application passes here first; only this window's are taken.
    qApp->installEventFilter(this);
    restoreFrame();
}

ViewerWindowController::~ViewerWindowController()
{
    qApp->removeEventFilter(this);
}

void ViewerWindowController::registerWindowCommands()
{
    CommandHandlers &c = m_router.windowCommands;
    c.on(CommandId::showAbout, [this](int) {
        // The box shows the window's icon beside the name, the version and what the program is for.
        QMessageBox::about(this, Texts::text("menu.about"),
                           QStringLiteral("<h3>Glanto %1</h3><p>%2</p>")
                               .arg(QCoreApplication::applicationVersion().toHtmlEscaped(),
                                    Texts::text("about.summary").toHtmlEscaped()));
    });
    c.on(
        CommandId::checkForUpdates, [this](int) { checkForUpdates(); },
        [this](int) { return CommandState{bool(checkForUpdates), false, {}}; });
    c.on(
        CommandId::showSettings, [this](int) { showSettingsWindow(std::nullopt); },
        [this](int) { return CommandState{bool(showSettingsWindow), false, {}}; });
    c.on(
        CommandId::showShortcuts, [this](int) { showSettingsWindow(Commands::clampSettingsTab(2)); },
        [this](int) { return CommandState{bool(showSettingsWindow), false, {}}; });
    // Linux desktops have no "hide the application": the window goes to the task bar.
    c.on(CommandId::hideWindow, [this](int) { showMinimized(); });
    c.on(CommandId::quit, [](int) { QApplication::closeAllWindows(); });
    c.on(CommandId::performClose, [this](int) { close(); });
    c.on(CommandId::performMiniaturize, [this](int) { showMinimized(); });
    c.on(CommandId::performZoom, [this](int) {
        if (isMaximized())
            showNormal();
        else
            showMaximized();
    });
    c.on(CommandId::arrangeInFront, [this](int) { showWindow(); });
}

void ViewerWindowController::pushPage(CommandPage *page)
{
    if (!page || !page->pageWidget())
        return;
    QWidget *widget = page->pageWidget();
    if (stack->indexOf(widget) < 0)
        stack->addWidget(widget);
    stack->setCurrentWidget(widget);
    m_router.pushPage(page);
    updateTitle();
}

void ViewerWindowController::popPage(CommandPage *page)
{
    if (!page || page == m_viewer)
        return;
    m_router.popPage(page);
    stack->removeWidget(page->pageWidget());
    if (CommandPage *active = m_router.activePage())
        stack->setCurrentWidget(active->pageWidget());
    updateTitle();
}

void ViewerWindowController::updateTitle()
{
    const QWidget *shown = stack ? stack->currentWidget() : nullptr;
    QString what = shown ? shown->windowTitle() : QString();
    // A line break or tab in a file name would break the title bar and the
    // task list's line; it shows as a space there.
    for (QChar &c : what) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    setWindowTitle(what.isEmpty() ? QStringLiteral("Glanto") : what + QStringLiteral(" \u2014 Glanto"));
}

void ViewerWindowController::changeEvent(QEvent *event)
{
    // In full screen (and so in a slideshow) the photo has the whole screen:
    // the menu bar goes, its commands stay on their keys.
    if (event->type() == QEvent::WindowStateChange)
        menuBar()->setVisible(!isFullScreen());
    QMainWindow::changeEvent(event);
}

bool ViewerWindowController::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyRelease) {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && widget->window() == this)
            m_router.noteKeyRelease(static_cast<QKeyEvent *>(event));
        return QMainWindow::eventFilter(watched, event);
    }
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return QMainWindow::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != this || takesText(widget))
        return QMainWindow::eventFilter(watched, event);
    // While a menu is open its keys move through the menu; nothing runs behind it.
    if (QApplication::activePopupWidget())
        return QMainWindow::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (pressesFocusedButton(widget, key))
        return QMainWindow::eventFilter(watched, event);
    const std::optional<Commands::Invocation> invocation = CommandRouter::commandForKey(key);
    // F10 opens the menu bar, as on the other desktop programs, unless a
    // command has the key.
    if (!invocation && type == QEvent::KeyPress && key->key() == Qt::Key_F10 && key->modifiers() == Qt::NoModifier
        && menuBar()->isVisible() && !menuBar()->actions().isEmpty()) {
        menuBar()->setActiveAction(menuBar()->actions().first());
        return true;
    }
    // Shift+F10 is the Menu key's other spelling on Linux desktops: the focused
    // control's own menu, at its middle.
    if (!invocation && type == QEvent::KeyPress && key->key() == Qt::Key_F10
        && key->modifiers() == Qt::ShiftModifier) {
        const QPoint middle = widget->rect().center();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, middle, widget->mapToGlobal(middle));
        QApplication::sendEvent(widget, &menu);
        return true;
    }
    if (!invocation)
        return QMainWindow::eventFilter(watched, event);
    // A page over the viewer (the cleanup review) keeps the keys that none of
    // its commands answers: its grid ticks, previews and moves with them.
    if (m_router.activePage() != m_viewer && !m_router.handlerFor(invocation->id))
        return QMainWindow::eventFilter(watched, event);
    if (type == QEvent::ShortcutOverride) {
        // Claim the key as a key press, so that no menu shortcut fires for it.
        event->accept();
        return true;
    }
    m_router.dispatchKey(key);
    return true;
}

void ViewerWindowController::showWindow(bool activate)
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible() && !m_framedOnce) {
        // The window manager's frame is known only once it has framed the
        // window: the first move it makes is looked at for a while.
        m_framedOnce = true;
        m_fitFramePending = true;
        QTimer::singleShot(3000, this, [this] { m_fitFramePending = false; });
    }
    show();
    GlobalHotkey::showDesktopOf(windowHandle());
    raise();
    if (activate)
        activateWindow();
}

void ViewerWindowController::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    if (m_fitFramePending)
        fitFrameOnScreen();
}

void ViewerWindowController::fitFrameOnScreen()
{
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)) {
        m_fitFramePending = false;
        return;
    }
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    if (frame == inner)
        return;   // not framed yet (or no window manager to frame it)
    m_fitFramePending = false;
    QScreen *screen = this->screen();
    const std::optional<QRect> fitted = fittedFrame(frame, inner, screen ? screen->availableGeometry() : QRect());
    if (!fitted)
        return;
    const QSize decoration = frame.size() - inner.size();
    if (screen) {
        const QRect available = screen->availableGeometry();
        setMinimumSize(minimumSizeWithin(available.adjusted(0, 0, -decoration.width(), -decoration.height())));
    }
    resize(fitted->size() - decoration);
    move(fitted->topLeft());
}

std::optional<QRect> ViewerWindowController::fittedFrame(const QRect &frame, const QRect &inner, const QRect &available)
{
    if (!available.isValid() || available.contains(frame))
        return std::nullopt;
    // A size that filled the screen's height leaves no room for the title bar:
    // the bottom edge, and the filmstrip above it, would be off the screen.
    const QSize decoration = frame.size() - inner.size();
    const QRect room = available.adjusted(0, 0, -decoration.width(), -decoration.height());
    const QSize size = inner.size().boundedTo(room.size()).expandedTo(minimumSizeWithin(room));
    QRect placed(QPoint(), size + decoration);
    placed.moveCenter(available.center());
    return placed;
}

QString cannotOpenText(const QString &path)
{
    // A folder named in another encoding than the system's reaches us with its
    // bad bytes replaced, so nothing is found under it.
    if (path.contains(QChar::ReplacementCharacter))
        return Texts::format("msg.openNotText", {path});
    if (FileNames::isAddress(path))
        return Texts::format("msg.openNotLocal", {path});
    struct stat st {};
    const bool denied = ::stat(QFile::encodeName(path).constData(), &st) != 0 && errno == EACCES;
    return Texts::format(denied ? "msg.openDenied" : "msg.openMissing", {path});
}

void ViewerWindowController::open(const QString &path)
{
    // A path handed over that is not there (a typo on the command line) leaves
    // what is shown as it is, and says so.
    if (!FileNames::isThere(path) && !QFileInfo(path).isSymLink()) {
        m_viewer->flash(cannotOpenText(path), 4.0);
        return;
    }
    m_viewer->open(path);
}

void ViewerWindowController::openFolderPanel()
{
    m_viewer->openFolderPanel();
}

void ViewerWindowController::saveFrame() const
{
    frameStore().setValue(QLatin1String(frameAutosaveName), saveGeometry());
}

void ViewerWindowController::closeEvent(QCloseEvent *event)
{
    if (!closeWithoutAsking && m_viewer && m_viewer->exports() && m_viewer->exports()->holdClose([this] { close(); })) {
        event->ignore();
        return;
    }
    saveFrame();
    QMainWindow::closeEvent(event);
}

QSize ViewerWindowController::openingSize(const std::optional<QSize> &remembered, const QRect &available)
{
    QSize size = remembered.value_or(initialSize);
    // A size that does not fit this screen (remembered from a larger one) is
    // made as a first start's would be: room is left for the window's frame,
    // which a size filling the whole free area would push off the screen.
    const bool fits = remembered && available.isValid() && remembered->width() <= available.width()
                      && remembered->height() <= available.height();
    if (available.isValid() && !fits)
        size = size.boundedTo(available.size() * 0.9);
    return size.expandedTo(minimumSizeWithin(available));
}

QSize ViewerWindowController::minimumSizeWithin(const QRect &available)
{
    if (!available.isValid())
        return minimumContentSize;
    return minimumContentSize.boundedTo(available.size());
}

QRect ViewerWindowController::openingArea(const std::optional<QPoint> &lastCentre, const QList<QRect> &screens,
                                          bool compositorPlaces)
{
    if (screens.isEmpty())
        return {};
    if (compositorPlaces)
        return *std::max_element(screens.begin(), screens.end(), [](const QRect &a, const QRect &b) {
            return qint64(a.width()) * a.height() < qint64(b.width()) * b.height();
        });
    if (lastCentre) {
        for (const QRect &area : screens)
            if (area.contains(*lastCentre))
                return area;
    }
    return screens.first();
}

void ViewerWindowController::restoreFrame()
{
    // The size is taken from the last session, and the screen it was on while
    // that screen is still there: the window opens centred on it, never
    // maximised or full screen.
    std::optional<QSize> remembered;
    std::optional<QPoint> lastCentre;
    const QByteArray saved = frameStore().value(QLatin1String(frameAutosaveName)).toByteArray();
    if (!saved.isEmpty() && restoreGeometry(saved)) {
        setWindowState(Qt::WindowNoState);
        const QRect last = normalGeometry().isValid() ? normalGeometry() : geometry();
        remembered = last.size();
        lastCentre = last.center();
    }

    QList<QRect> screens;
    if (QScreen *primary = QGuiApplication::primaryScreen())
        screens.append(primary->availableGeometry());
    for (QScreen *screen : QGuiApplication::screens())
        if (screen != QGuiApplication::primaryScreen())
            screens.append(screen->availableGeometry());
    const QRect available = openingArea(
        lastCentre, screens, QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
    setMinimumSize(minimumSizeWithin(available));
    const QSize size = openingSize(remembered, available);
    resize(size);

    if (available.isValid()) {
        QRect frame(QPoint(), size);
        frame.moveCenter(available.center());
        move(frame.topLeft());
    }
}
