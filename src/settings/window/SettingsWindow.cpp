#include "settings/window/SettingsWindow.h"

#include "library/Spoken.h"
#include "platform/DefaultViewer.h"
#include "platform/GlobalHotkey.h"
#include "settings/Settings.h"
#include "settings/SortKey.h"
#include "settings/Texts.h"
#include "settings/window/ShortcutRecorder.h"
#include "update/UpdateAlert.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace {

constexpr std::array<int, 5> intervals{1, 2, 3, 5, 10};
constexpr std::array<double, 5> fadeDurations{0.5, 1.0, 1.5, 2.0, 3.0};

QLabel *note(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QPalette pal = label->palette();
    QColor faint = pal.color(QPalette::WindowText);
    faint.setAlphaF(0.55f);
    pal.setColor(QPalette::WindowText, faint);
    label->setPalette(pal);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.88);
    label->setFont(font);
    return label;
}

// The labelled rows of a pane: the label right-aligned in the first column,
// the controls and their note in the second.
class Rows
{
public:
    explicit Rows(QWidget *pane) : grid(new QGridLayout(pane))
    {
        grid->setContentsMargins(24, 18, 24, 18);
        grid->setHorizontalSpacing(12);
        grid->setVerticalSpacing(6);
        grid->setColumnStretch(1, 1);
    }

    // Adds a row; returns the layout its controls go into.
    QVBoxLayout *add(const char *labelKey)
    {
        auto *label = new QLabel(Texts::text(labelKey));
        label->setAlignment(Qt::AlignRight | Qt::AlignTop);
        label->setContentsMargins(0, 4, 0, 0);
        auto *cell = new QVBoxLayout;
        cell->setSpacing(4);
        grid->addWidget(label, row, 0);
        grid->addLayout(cell, row, 1);
        lastLabel = label;
        if (row > 0)
            grid->setRowMinimumHeight(row, 28);
        ++row;
        return cell;
    }

    static QHBoxLayout *line(QVBoxLayout *cell)
    {
        auto *line = new QHBoxLayout;
        line->setSpacing(8);
        cell->addLayout(line);
        return line;
    }

    // The last row's label names control for a screen reader (a list's name is
    // its value; what it chooses comes from the label that points at it).
    void labels(QWidget *control) { lastLabel->setBuddy(control); }

    void finish() { grid->setRowStretch(row, 1); }

private:
    QGridLayout *grid;
    QLabel *lastLabel = nullptr;
    int row = 0;
};

QString secondsText(double seconds)
{
    return QString::number(seconds, 'g', 3);
}

} // namespace

// ---------------------------------------------------------------- general pane

GeneralSettingsPane::GeneralSettingsPane(SettingsWindowController *owner)
    : SettingsPane(owner)
    , owner(owner)
{
    Rows rows(this);

    QVBoxLayout *cell = rows.add("set.default");
    QHBoxLayout *line = Rows::line(cell);
    defaultStatus = new QLabel(this);
    defaultStatus->setTextFormat(Qt::PlainText);
    // A long application name wraps rather than pushing the button out of view.
    defaultStatus->setWordWrap(true);
    makeDefaultButton = new QPushButton(Texts::text("set.makeDefault"), this);
    line->addWidget(defaultStatus);
    line->addWidget(makeDefaultButton);
    line->addStretch();
    defaultMessage = new QLabel(this);
    defaultMessage->setTextFormat(Qt::PlainText);
    defaultMessage->setWordWrap(true);
    defaultMessage->setStyleSheet(QStringLiteral("color: #ff6961;"));
    defaultMessage->hide();
    cell->addWidget(defaultMessage);
    cell->addWidget(note(Texts::text("set.defaultNote"), this));
    connect(makeDefaultButton, &QPushButton::clicked, this, [this] {
        const DefaultViewer::Outcome outcome = DefaultViewer::makeDefault();
        defaultMessage->setText(outcome.message);
        defaultMessage->setVisible(!outcome.message.isEmpty());
        refreshDefaultViewer();
    });

    cell = rows.add("set.sort");
    line = Rows::line(cell);
    sortPopup = new QComboBox(this);
    for (SortKey key : allSortKeys)
        sortPopup->addItem(Texts::text(sortKeyTitleKey(key)), int(key));
    sortDescending = new QCheckBox(Texts::text("sort.descending"), this);
    rows.labels(sortPopup);
    line->addWidget(sortPopup);
    line->addWidget(sortDescending);
    line->addStretch();
    // Each control writes its own key only: the View menu may have changed
    // the other one since this page was last shown.
    connect(sortPopup, &QComboBox::activated, this, [this] {
        Settings::setSortKey(sortKeyFromRaw(sortPopup->currentData().toInt()));
        SettingsNotifier::instance().postSettingsDidChange(QStringLiteral("sort"));
    });
    connect(sortDescending, &QCheckBox::clicked, this, [](bool on) {
        Settings::setSortReversed(on);
        SettingsNotifier::instance().postSettingsDidChange(QStringLiteral("sort"));
    });

    cell = rows.add("set.paging");
    pagingFade = new QCheckBox(Texts::text("menu.fadeTransition"), this);
    cell->addWidget(pagingFade);
    connect(pagingFade, &QCheckBox::clicked, this, [](bool on) { Settings::setFadeTransition(on); });

    cell = rows.add("set.slideInterval");
    line = Rows::line(cell);
    intervalPopup = new QComboBox(this);
    for (int seconds : intervals)
        intervalPopup->addItem(Texts::format("slide.seconds", {QString::number(seconds)}), seconds);
    rows.labels(intervalPopup);
    line->addWidget(intervalPopup);
    line->addStretch();
    connect(intervalPopup, &QComboBox::activated, this, [this] {
        Settings::setSlideshowInterval(intervalPopup->currentData().toInt());
        SettingsNotifier::instance().postSettingsDidChange(QStringLiteral("slideshow"));
    });

    cell = rows.add("set.slideFadeLabel");
    line = Rows::line(cell);
    slideFade = new QCheckBox(Texts::text("set.slideFade"), this);
    fadePopup = new QComboBox(this);
    for (double seconds : fadeDurations)
        fadePopup->addItem(Texts::format("slide.fadeSeconds", {secondsText(seconds)}), seconds);
    rows.labels(fadePopup);
    line->addWidget(slideFade);
    line->addWidget(fadePopup);
    line->addStretch();
    connect(slideFade, &QCheckBox::clicked, this, [this] { writeSlideFade(); });
    connect(fadePopup, &QComboBox::activated, this, [this] { writeSlideFade(); });

    cell = rows.add("set.rating");
    ratingBadge = new QCheckBox(Texts::text("set.ratingBadge"), this);
    cell->addWidget(ratingBadge);
    connect(ratingBadge, &QCheckBox::clicked, this, [](bool shown) {
        Settings::setRatingBadgeShown(shown);
        SettingsNotifier::instance().postSettingsDidChange(QStringLiteral("rating"));
    });

    cell = rows.add("set.esc");
    escCloses = new QCheckBox(Texts::text("menu.escCloses"), this);
    cell->addWidget(escCloses);
    cell->addWidget(note(Texts::text("set.escNote"), this));
    connect(escCloses, &QCheckBox::clicked, this, [](bool on) { Settings::setEscCloses(on); });

    cell = rows.add("set.hdr");
    hdr = new QCheckBox(Texts::text("set.hdrCheck"), this);
    hdrNote = note(QString(), this);
    cell->addWidget(hdr);
    cell->addWidget(hdrNote);
    connect(hdr, &QCheckBox::clicked, this, [](bool on) {
        Settings::setHdrEnabled(on);
        SettingsNotifier::instance().postSettingsDidChange(QStringLiteral("hdr"));
    });

    cell = rows.add("set.editor");
    line = Rows::line(cell);
    editorName = new QLabel(this);
    editorName->setTextFormat(Qt::PlainText);
    chooseEditor = new QPushButton(Texts::text("set.choose"), this);
    clearEditor = new QPushButton(Texts::text("set.clear"), this);
    line->addWidget(editorName);
    line->addWidget(chooseEditor);
    line->addWidget(clearEditor);
    line->addStretch();
    cell->addWidget(note(Texts::text("set.editorNote"), this));
    connect(chooseEditor, &QPushButton::clicked, this, [this] {
        QWidget *window = this->window();
        std::optional<QString> path;
        if (this->owner->chooseEditor) {
            path = this->owner->chooseEditor(window);
        } else {
            const QString chosen = QFileDialog::getOpenFileName(window, Texts::text("set.choose"),
                                                                QStringLiteral("/usr/share/applications"),
                                                                QStringLiteral("*.desktop"));
            if (!chosen.isEmpty())
                path = chosen;
        }
        if (path) {
            Settings::setEditorAppPath(path);
            refresh();
        }
    });
    connect(clearEditor, &QPushButton::clicked, this, [this] {
        Settings::setEditorAppPath(std::nullopt);
        refresh();
    });

    cell = rows.add("set.update");
    line = Rows::line(cell);
    autoUpdate = new QCheckBox(Texts::text("set.autoUpdate"), this);
    checkNow = new QPushButton(Texts::text("set.checkNow"), this);
    line->addWidget(autoUpdate);
    line->addWidget(checkNow);
    line->addStretch();
    cell->addWidget(note(Texts::text("set.updateNote"), this));
    connect(autoUpdate, &QCheckBox::clicked, this, [](bool on) { Settings::setAutoCheckUpdates(on); });
    connect(checkNow, &QPushButton::clicked, this, [this] {
        if (this->owner->onCheckNow)
            this->owner->onCheckNow(window());
        else
            UpdateAlert::checkNow(window());
    });

    rows.finish();
}

void GeneralSettingsPane::writeSlideFade()
{
    Settings::setSlideshowFadeOn(slideFade->isChecked());
    const QVariant seconds = fadePopup->currentData();
    if (seconds.isValid())
        Settings::setSlideshowFadeDuration(seconds.toDouble());
    fadePopup->setEnabled(slideFade->isChecked());
}

void GeneralSettingsPane::refreshDefaultViewer()
{
    const DefaultViewer::Status status = DefaultViewer::status();
    defaultStatus->setText(status.text);
    QPalette pal = defaultStatus->palette();
    QColor colour = palette().color(QPalette::WindowText);
    if (status.secondary)
        colour.setAlphaF(0.6f);
    pal.setColor(QPalette::WindowText, colour);
    defaultStatus->setPalette(pal);
    makeDefaultButton->setVisible(status.showButton);
}

void GeneralSettingsPane::refresh()
{
    refreshDefaultViewer();
    sortPopup->setCurrentIndex(sortPopup->findData(int(Settings::sortKey())));
    sortDescending->setChecked(Settings::sortReversed());
    pagingFade->setChecked(Settings::fadeTransition());
    intervalPopup->setCurrentIndex(intervalPopup->findData(Settings::slideshowInterval()));
    slideFade->setChecked(Settings::slideshowFadeOn());
    fadePopup->setCurrentIndex(fadePopup->findData(Settings::slideshowFadeDuration()));
    fadePopup->setEnabled(slideFade->isChecked());
    ratingBadge->setChecked(Settings::ratingBadgeShown());
    escCloses->setChecked(Settings::escCloses());

    const bool hdrPossible = owner->hdrAvailable && owner->hdrAvailable();
    hdr->setChecked(Settings::hdrEnabled());
    hdr->setEnabled(hdrPossible);
    hdrNote->setText(Texts::text(hdrPossible ? "set.hdrNote" : "set.hdrUnsupported"));

    const std::optional<QString> editor = Settings::editorAppPath();
    if (editor) {
        editorName->setText(DefaultViewer::applicationNameAt(*editor).value_or(QFileInfo(*editor).completeBaseName()));
    } else {
        editorName->setText(Texts::text("set.editorNone"));
    }
    clearEditor->setEnabled(editor.has_value());
    autoUpdate->setChecked(Settings::autoCheckUpdates());
}

// ------------------------------------------------------------------ mouse pane

MouseSettingsPane::MouseSettingsPane(QWidget *parent)
    : SettingsPane(parent)
{
    Rows rows(this);
    QVBoxLayout *cell = rows.add("set.wheel");
    wheelNavigates = new QRadioButton(Texts::text("wheel.navigate"), this);
    wheelZooms = new QRadioButton(Texts::text("wheel.zoom"), this);
    auto *group = new QButtonGroup(this);
    group->addButton(wheelNavigates);
    group->addButton(wheelZooms);
    wheelNote = note(QString(), this);
    cell->addWidget(wheelNavigates);
    cell->addWidget(wheelZooms);
    cell->addWidget(wheelNote);
    const auto choose = [this](bool navigates) {
        Settings::setWheelNavigates(navigates);
        wheelNote->setText(Texts::text(navigates ? "wheel.navigate.on" : "wheel.zoom.on"));
    };
    connect(wheelNavigates, &QRadioButton::clicked, this, [choose] { choose(true); });
    connect(wheelZooms, &QRadioButton::clicked, this, [choose] { choose(false); });

    cell = rows.add("set.zoomDirection");
    invertZoom = new QCheckBox(Texts::text("wheel.invert"), this);
    cell->addWidget(invertZoom);
    cell->addWidget(note(Texts::text("set.invertNote"), this));
    connect(invertZoom, &QCheckBox::clicked, this, [](bool on) { Settings::setWheelZoomInverted(on); });

    cell = rows.add("set.trackpad");
    cell->addWidget(note(Texts::text("set.trackpadNote"), this));
    rows.finish();
}

void MouseSettingsPane::refresh()
{
    const bool navigates = Settings::wheelNavigates();
    (navigates ? wheelNavigates : wheelZooms)->setChecked(true);
    wheelNote->setText(Texts::text(navigates ? "wheel.navigate.on" : "wheel.zoom.on"));
    invertZoom->setChecked(Settings::wheelZoomInverted());
}

// --------------------------------------------------------------- shortcut pane

ShortcutSettingsPane::ShortcutSettingsPane(SettingsWindowController *owner)
    : SettingsPane(owner)
    , owner(owner)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 14, 20, 14);
    column->setSpacing(6);
    column->addWidget(note(Texts::text("sc.hint"), this));

    table = new QTableWidget(this);
    table->setColumnCount(2);
    table->horizontalHeader()->hide();
    table->verticalHeader()->hide();
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setFocusPolicy(Qt::NoFocus);
    // Tab goes from key to key, not from cell to cell.
    table->setTabKeyNavigation(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setShowGrid(false);
    table->setFrameShape(QFrame::NoFrame);
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    int row = 0;
    for (ShortcutGroup group : allShortcutGroups) {
        const QList<ShortcutAction> actions = Shortcuts::actionsInGroup(group);
        table->setRowCount(row + 1 + int(actions.size()));
        auto *header = new QTableWidgetItem(Shortcuts::title(group));
        QFont bold = header->font();
        bold.setBold(true);
        header->setFont(bold);
        header->setTextAlignment(Qt::AlignLeft | Qt::AlignBottom);
        table->setItem(row, 0, header);
        table->setSpan(row, 0, 1, 2);
        table->setRowHeight(row, row == 0 ? 28 : 40);
        ++row;
        for (ShortcutAction action : actions) {
            table->setItem(row, 0, new QTableWidgetItem(Shortcuts::title(action)));
            auto *recorder = new ShortcutRecorder(action, table);
            recorder->onRecord = [this, action](const std::optional<KeyCombo> &combo) { record(action, combo); };
            recorder->onUnusable = [this](const QString &typed) {
                QApplication::beep();
                const QString message = Texts::format("sc.unusable", {typed});
                status->setText(message);
                Spoken::say(status, message);
            };
            // Tab walks the list: the row of the key in focus is scrolled into view.
            recorder->onFocus = [this, row] { table->scrollTo(table->model()->index(row, 1)); };
            recorders[size_t(action)] = recorder;
            auto *holder = new QWidget(table);
            auto *holderLayout = new QHBoxLayout(holder);
            holderLayout->setContentsMargins(4, 2, 4, 2);
            holderLayout->addWidget(recorder);
            table->setCellWidget(row, 1, holder);
            table->setRowHeight(row, 32);
            ++row;
        }
    }
    column->addWidget(table, 1);

    hotkeyNote = note(QString(), this);
    hotkeyNote->setStyleSheet(QStringLiteral("color: #ffb340;"));
    hotkeyNote->hide();
    column->addWidget(hotkeyNote);
    auto *fixed = note(Texts::text("sc.fixed"), this);
    column->addWidget(fixed);
    auto *bottom = new QHBoxLayout;
    status = new QLabel(this);
    status->setTextFormat(Qt::PlainText);
    Spoken::markMessageArea(status);
    status->setWordWrap(true);
    reset = new QPushButton(Texts::text("sc.reset"), this);
    bottom->addWidget(status, 1);
    bottom->addWidget(reset);
    column->addLayout(bottom);
    connect(reset, &QPushButton::clicked, this, [this] {
        Shortcuts::resetAll();
        status->clear();
        Spoken::setName(status, QString());
        refresh();
    });
    // Bindings changed elsewhere (another copy of the program) show at once.
    connect(&SettingsNotifier::instance(), &SettingsNotifier::shortcutsDidChange, this, [this] { refresh(); });
}

ShortcutRecorder *ShortcutSettingsPane::recorder(ShortcutAction action) const
{
    return recorders[size_t(action)];
}

void ShortcutSettingsPane::record(ShortcutAction action, const std::optional<KeyCombo> &combo)
{
    status->clear();
    const ShortcutAssignResult result = Shortcuts::assign(combo, action);
    if (!result.accepted)
        QApplication::beep();
    status->setText(result.status);
    // A shortcut taken from another command is said, not only shown: the
    // keyboard stays on the key just recorded.
    Spoken::say(status, result.status);
    // Rows are redrawn in place: the recorder that called us is still on the stack.
    refresh();
}

void ShortcutSettingsPane::refreshHotkeyNote()
{
    GlobalHotkey *hotkey = owner->hotkey();
    const auto unavailable = [hotkey] {
        if (hotkey->isAvailable())
            return Texts::text("set.hotkeyRefused");   // offered, but this one was refused
        return Texts::text(hotkey->backend() == GlobalHotkey::Backend::portal ? "set.hotkeyNoPortal"
                                                                              : "set.hotkeyUnavailable");
    };
    QString text;
    bool warning = true;
    if (hotkey && Shortcuts::combo(ShortcutAction::toggleApp)) {
        switch (hotkey->status()) {
        case GlobalHotkey::Status::unavailable:
            text = unavailable();
            break;
        case GlobalHotkey::Status::taken:
            text = Texts::format("set.hotkeyTaken", {Shortcuts::displayString(*Shortcuts::combo(ShortcutAction::toggleApp))});
            break;
        case GlobalHotkey::Status::active:
            // Where the desktop chooses the trigger, say which one it chose:
            // it may not be the one recorded here.
            if (!hotkey->triggerDescription().isEmpty()) {
                text = Texts::format("set.hotkeyAssigned", {hotkey->triggerDescription()});
                warning = false;
            }
            break;
        default:
            break;
        }
    } else if (hotkey && !hotkey->isAvailable()) {
        text = unavailable();
    }
    hotkeyNote->setStyleSheet(warning ? QStringLiteral("color: #ffb340;") : QString());
    hotkeyNote->setText(text);
    hotkeyNote->setVisible(!text.isEmpty());
}

void ShortcutSettingsPane::refresh()
{
    for (ShortcutRecorder *recorder : recorders) {
        if (recorder)
            recorder->refresh();
    }
    refreshHotkeyNote();
}

// ------------------------------------------------------------------ the window

namespace {
QPointer<SettingsWindowController> &sharedSlot()
{
    static QPointer<SettingsWindowController> slot;
    return slot;
}
} // namespace

SettingsWindowController &SettingsWindowController::shared()
{
    QPointer<SettingsWindowController> &slot = sharedSlot();
    if (!slot) {
        slot = new SettingsWindowController;
        // Gone with the application, before the application object is.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, slot.data(), [] { delete sharedSlot().data(); });
    }
    return *slot;
}

bool SettingsWindowController::exists()
{
    return !sharedSlot().isNull();
}

SettingsWindowController::SettingsWindowController()
    : QWidget(nullptr, Qt::Window)
{
    // The menu item's text without its "…": a Linux title bar shows it.
    QString title = Texts::text("menu.settings");
    if (title.endsWith(QChar(0x2026)))
        title.chop(1);
    setWindowTitle(title);
    // Opens at its own size, and can be made larger: a large desktop font needs
    // more room than that. On a screen smaller than it, the screen is the size,
    // less room for the window's frame and title bar.
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize opening
        = screen ? windowSize.boundedTo(screen->availableGeometry().size() - QSize(8, 40)) : windowSize;
    setMinimumSize(opening);
    resize(opening);
    // Closing the viewer window ends the program even while this one is open.
    setAttribute(Qt::WA_QuitOnClose, false);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 8, 0, 0);
    column->setSpacing(0);
    auto *tabs = new QHBoxLayout;
    tabs->setSpacing(4);
    tabs->addStretch();
    const std::array<const char *, tabCount> titles{"set.tab.general", "set.tab.mouse", "set.tab.shortcuts"};
    const std::array<const char *, tabCount> icons{"preferences-system", "input-mouse", "input-keyboard"};
    for (int i = 0; i < tabCount; ++i) {
        auto *button = new QToolButton(this);
        // A button reads "&" as the mark of its shortcut letter; "Mouse & Touchpad"
        // must show its ampersand.
        button->setText(Texts::text(titles[size_t(i)]).replace(QLatin1Char('&'), QLatin1String("&&")));
        button->setIcon(QIcon::fromTheme(QLatin1String(icons[size_t(i)])));
        button->setToolButtonStyle(button->icon().isNull() ? Qt::ToolButtonTextOnly : Qt::ToolButtonTextUnderIcon);
        Spoken::markPageTab(button);
        button->setCheckable(true);
        button->setAutoRaise(true);
        // Tab reaches the pages too; Space opens the one in focus.
        button->setFocusPolicy(Qt::TabFocus);
        button->setMinimumWidth(96);
        button->setStyleSheet(QStringLiteral(
            "QToolButton { padding: 6px 12px; border-radius: 7px; border: 1px solid transparent; }"
            "QToolButton:hover { background: rgba(255, 255, 255, 18); }"
            "QToolButton:checked { background: rgba(255, 255, 255, 36); color: palette(highlight); }"
            "QToolButton:focus { border: 1px solid palette(highlight); }"));
        connect(button, &QToolButton::clicked, this, [this, i] { select(i); });
        buttons[size_t(i)] = button;
        tabs->addWidget(button);
    }
    tabs->addStretch();
    column->addLayout(tabs);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 24);"));
    column->addSpacing(8);
    column->addWidget(line);

    container = new QStackedWidget(this);
    auto *generalScroll = new QScrollArea(this);
    // The controls inside take the focus, not the area that scrolls to them.
    generalScroll->setFocusPolicy(Qt::NoFocus);
    generalScroll->setWidgetResizable(true);
    generalScroll->setFrameShape(QFrame::NoFrame);
    generalScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    panes[general] = new GeneralSettingsPane(this);
    generalScroll->setWidget(panes[general]);
    panes[mouse] = new MouseSettingsPane(this);
    panes[shortcuts] = new ShortcutSettingsPane(this);
    container->addWidget(generalScroll);
    container->addWidget(panes[mouse]);
    container->addWidget(panes[shortcuts]);
    column->addWidget(container, 1);

    // Ctrl+W closes it like any other window, and Esc as a settings window on
    // the Linux desktops (while a recorder listens, the recorder takes the key
    // first: there Esc cancels the recording).
    auto *closeAction = new QAction(this);
    QList<QKeySequence> closeKeys = QKeySequence::keyBindings(QKeySequence::Close);
    closeKeys.append(QKeySequence(Qt::Key_Escape));
    closeAction->setShortcuts(closeKeys);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
    addAction(closeAction);
    // The next and the previous page, as in any window with tabs.
    const auto pageStep = [this](std::initializer_list<QKeySequence> keys, int step) {
        auto *action = new QAction(this);
        action->setShortcuts(QList<QKeySequence>(keys));
        connect(action, &QAction::triggered, this, [this, step] {
            select((selected + step + tabCount) % tabCount);
            buttons[size_t(selected)]->setFocus(Qt::TabFocusReason);
        });
        addAction(action);
    };
    pageStep({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, 1);
    pageStep({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
              QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
             -1);

    select(0);
}

GeneralSettingsPane *SettingsWindowController::generalPane() const
{
    return static_cast<GeneralSettingsPane *>(panes[general]);
}

MouseSettingsPane *SettingsWindowController::mousePane() const
{
    return static_cast<MouseSettingsPane *>(panes[mouse]);
}

ShortcutSettingsPane *SettingsWindowController::shortcutPane() const
{
    return static_cast<ShortcutSettingsPane *>(panes[shortcuts]);
}

void SettingsWindowController::select(int index)
{
    selected = std::clamp(index, 0, tabCount - 1);
    for (int i = 0; i < tabCount; ++i)
        buttons[size_t(i)]->setChecked(i == selected);
    container->setCurrentIndex(selected);
    panes[size_t(selected)]->refresh();
}

void SettingsWindowController::changeEvent(QEvent *event)
{
    // The View menu changes the sort, the fades and the wheel while this
    // window stays open: coming back to it shows what is in force. The keys
    // page follows its own announcement and may be recording.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && selected != shortcuts)
        panes[size_t(selected)]->refresh();
    QWidget::changeEvent(event);
}

void SettingsWindowController::showTab(std::optional<int> tab)
{
    select(tab.value_or(selected));
    if (!isVisible()) {
        // Centred the first time on the screen the viewer is on (on the
        // primary screen without one), where the user left it afterwards.
        if (!property("placed").toBool()) {
            const QScreen *screen = viewer ? viewer->screen() : nullptr;
            if (!screen)
                screen = QGuiApplication::primaryScreen();
            if (screen)
                move(screen->availableGeometry().center() - rect().center());
            setProperty("placed", true);
        }
        show();
    }
    raise();
    activateWindow();
    // The keyboard starts on the page's own tab, never on a control the page
    // switch left it on (Restore All Defaults, whose Space resets every key).
    buttons[size_t(selected)]->setFocus(Qt::OtherFocusReason);
}

void SettingsWindowController::setHotkey(GlobalHotkey *hotkey)
{
    if (globalHotkey == hotkey)
        return;
    if (globalHotkey)
        disconnect(globalHotkey, nullptr, this, nullptr);
    globalHotkey = hotkey;
    // The desktop portal answers a while after the binding was recorded.
    if (globalHotkey)
        connect(globalHotkey, &GlobalHotkey::statusChanged, this, [this] { shortcutPane()->refreshHotkeyNote(); });
    shortcutPane()->refreshHotkeyNote();
}

void SettingsWindowController::followViewerWindow(QWidget *viewerWindow)
{
    if (viewer)
        viewer->removeEventFilter(this);
    viewer = viewerWindow;
    if (viewer)
        viewer->installEventFilter(this);
}

bool SettingsWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == viewer && event->type() == QEvent::Close && event->isAccepted())
        close();
    return QWidget::eventFilter(watched, event);
}

void showSettings()
{
    SettingsWindowController::shared().showTab(std::nullopt);
}

void showSettings(int tab)
{
    SettingsWindowController::shared().showTab(tab);
}
