#include "cleanup/review/CleanupPage.h"

#include "cleanup/CleanupController.h"
#include "cleanup/review/CleanupGridView.h"
#include "cleanup/review/CleanupPreviewView.h"
#include "cleanup/review/CleanupStyle.h"
#include "cleanup/review/CleanupThumbnails.h"
#include "library/ImageLoader.h"
#include "library/Spoken.h"
#include "platform/HandOff.h"
#include "settings/Texts.h"

#include <QCoreApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTextLayout>
#include <QThreadPool>

namespace {

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}

QLabel *label(QWidget *parent, int size, QFont::Weight weight, const QColor &colour)
{
    auto *l = new QLabel(parent);
    l->setFont(CleanupStyle::font(size, weight));
    setTextColour(l, colour);
    return l;
}

// The distance from a label's top to its first baseline, fallback fonts
// included (Chinese text is drawn with another font than the Latin one).
int ascentOf(const QLabel *l)
{
    QTextLayout layout(l->text().isEmpty() ? QStringLiteral("M") : l->text(), l->font());
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e6);
    layout.endLayout();
    return qRound(line.ascent());
}

const char *inlineButtonStyle = "QPushButton { border: none; background: transparent; color: #0A84FF; padding: 0; }"
                                "QPushButton:pressed { color: #66B2FF; }";
const char *pushButtonStyle = "QPushButton { border: none; border-radius: 6px; background: rgba(255,255,255,0.14);"
                              " color: rgba(255,255,255,0.92); padding: 4px 14px; }"
                              "QPushButton:pressed { background: rgba(255,255,255,0.22); }";
const char *trashButtonStyle = "QPushButton { border: none; border-radius: 6px; background: rgba(255,255,255,0.14);"
                               " color: #FF453A; padding: 4px 14px; }"
                               "QPushButton:pressed { background: rgba(255,255,255,0.22); }"
                               "QPushButton:disabled { color: rgba(235,235,245,0.3); background: rgba(255,255,255,0.07); }";

} // namespace

// One category of the sidebar: its title and count, highlighted when active.
class CategoryRow : public QWidget
{
public:
    explicit CategoryRow(const QString &title, QWidget *parent)
        : QWidget(parent)
        , titleLabel(label(this, 13, QFont::Normal, CleanupStyle::secondaryText()))
        , countLabel(label(this, 12, QFont::Normal, CleanupStyle::secondaryText()))
    {
        titleLabel->setText(title);
        // The desktop's sans fonts (DejaVu, Noto, Cantarell) draw digits of
        // equal width already, so counts line up without a font feature.
        countLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setCount(0);
        setCursor(Qt::PointingHandCursor);
    }

    std::function<void()> onClick;

    void setCount(int n)
    {
        count = n;
        countLabel->setText(QString::number(n));
        resizeEvent(nullptr);
    }
    void setActive(bool active)
    {
        isActive = active;
        setTextColour(titleLabel, active ? CleanupStyle::primaryText() : CleanupStyle::secondaryText());
        update();
    }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        const QSize countSize = countLabel->sizeHint();
        countLabel->setGeometry(width() - 8 - countSize.width(), (height() - countSize.height()) / 2,
                                countSize.width(), countSize.height());
        const int h = titleLabel->sizeHint().height();
        titleLabel->setGeometry(8, (height() - h) / 2, std::max(0, countLabel->x() - 8 - 6), h);
    }
    void paintEvent(QPaintEvent *) override
    {
        if (!isActive)
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 26)); // the label colour at 10 %
        painter.drawRoundedRect(QRectF(rect()), 6, 6);
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && onClick)
            onClick();
    }

private:
    QLabel *titleLabel;
    QLabel *countLabel;
    int count = 0;
    bool isActive = false;
};

namespace {

// The translucent side panel.
class Sidebar : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(255, 255, 255, 12));
        painter.fillRect(QRect(width() - 1, 0, 1, height()), QColor(255, 255, 255, 20));
    }
};

class BottomBar : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), CleanupStyle::grey(0.105));
        painter.fillRect(QRect(0, 0, width(), 1), QColor(255, 255, 255, 26)); // the separator
    }
};

constexpr int sidebarWidth = 208;
constexpr int bottomBarHeight = 52;

} // namespace

CleanupPage::CleanupPage(const QString &folder, QVector<CleanupUnit> units, Trash &trash,
                         std::function<void(bool)> onExit, QWidget *parent)
    : QWidget(parent)
    , control(std::make_unique<CleanupController>(folder, std::move(units), trash, std::move(onExit)))
{
    build();
    // The cache is read on a worker while the page is laid out and shown: on a
    // big folder that read is most of the wait for the first groups. Its
    // answer comes through the event loop, after the wiring above.
    control->start();
}

CleanupPage::~CleanupPage()
{
    ++previewGeneration;
    // The grid and the thumbnails go before the controller they read.
    delete gridView;
    gridView = nullptr;
    thumbnails.reset();
}

void CleanupPage::build()
{
    setAutoFillBackground(false);
    const qreal dpr = devicePixelRatioF();
    thumbnails = std::make_unique<CleanupThumbnails>(CleanupGridView::pictureBox().size(), dpr);

    sidebar = new Sidebar(this);
    titleLabel = label(sidebar, 15, QFont::DemiBold, CleanupStyle::primaryText());
    titleLabel->setText(Texts::text("cleanup.title"));
    betaLabel = label(sidebar, 11, QFont::Medium, CleanupStyle::secondaryText());
    betaLabel->setText(QStringLiteral("Beta"));
    for (CleanupCategory category : allCleanupCategories()) {
        auto *row = new CategoryRow(cleanupCategoryTitle(category), sidebar);
        row->onClick = [this, category] { selectCategory(category); };
        rows[category] = row;
    }
    progressLabel = label(sidebar, 11, QFont::Normal, CleanupStyle::secondaryText());
    progressLabel->setWordWrap(true);

    headerTitle = label(this, 15, QFont::DemiBold, CleanupStyle::primaryText());
    headerDetail = label(this, 12, QFont::Normal, CleanupStyle::secondaryText());
    const auto button = [this](const char *key, const char *style, int size) {
        auto *b = new QPushButton(Texts::text(key), this);
        b->setFont(CleanupStyle::font(size));
        b->setStyleSheet(QLatin1String(style));
        b->setFocusPolicy(Qt::NoFocus); // the grid keeps the keyboard
        b->setCursor(Qt::PointingHandCursor);
        return b;
    };
    selectAllButton = button("cleanup.selectAll", inlineButtonStyle, 12);
    selectNoneButton = button("cleanup.selectNone", inlineButtonStyle, 12);
    doneButton = button("cleanup.done", pushButtonStyle, 13);
    // The keys that do what the buttons do, since the buttons take no focus.
    selectAllButton->setToolTip(QKeySequence(Qt::CTRL | Qt::Key_A).toString(QKeySequence::NativeText));
    selectNoneButton->setToolTip(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A).toString(QKeySequence::NativeText));
    doneButton->setToolTip(QKeySequence(Qt::Key_Escape).toString(QKeySequence::NativeText));

    gridView = new CleanupGridView(*control, *thumbnails, this);
    emptyLabel = label(this, 13, QFont::Normal, CleanupStyle::secondaryText());
    emptyLabel->setAlignment(Qt::AlignCenter);
    emptyLabel->setAttribute(Qt::WA_TransparentForMouseEvents);

    bottomBar = new BottomBar(this);
    statusLabel = label(bottomBar, 12, QFont::Normal, CleanupStyle::secondaryText());
    Spoken::markMessageArea(statusLabel);
    hintLabel = label(bottomBar, 11, QFont::Normal, CleanupStyle::tertiaryText());
    hintLabel->setText(Texts::text("cleanup.hint"));
    trashButton = new QPushButton(bottomBar);
    trashButton->setFont(CleanupStyle::font(13));
    trashButton->setStyleSheet(QLatin1String(trashButtonStyle));
    trashButton->setFocusPolicy(Qt::NoFocus);
    trashButton->setToolTip(QKeySequence(Qt::Key_Delete).toString(QKeySequence::NativeText));

    previewView = new CleanupPreviewView(this);
    previewView->hide();

    // Wiring, in one place.
    CleanupController &c = *control;
    c.onProgressChanged = [this] { showProgress(); };
    c.onResultChanged = [this] { resultChanged(); };
    c.onTicksChanged = [this] { ticksChanged(); };
    c.onBusyChanged = [this] { updateStatus(); };
    gridView->onToggle = [this](CleanupGridView::IndexPath path) {
        const QVector<CleanupGroup> &groups = control->currentGroups();
        if (path.section < groups.size() && path.item < groups[path.section].units.size())
            control->toggleCheck(groups[path.section].units[path.item].primary);
    };
    gridView->onPreview = [this] { togglePreview(); };
    gridView->onEscape = [this] { escape(); };
    gridView->onUndo = [this] { control->undoLastTrash(); };
    gridView->onCategoryStep = [this](int step) { selectCategory(cleanupCategoryAfter(control->category, step)); };
    gridView->onCheckAll = [this](bool checked) { checked ? control->checkAll() : control->checkNone(); };
    gridView->onSelectionChanged = [this] {
        describeSelection();
        if (previewView->isVisible())
            refreshPreview();
    };
    connect(selectAllButton, &QPushButton::clicked, this, [this] { control->checkAll(); });
    connect(selectNoneButton, &QPushButton::clicked, this, [this] { control->checkNone(); });
    connect(doneButton, &QPushButton::clicked, this, [this] { control->exitCleanup(); });
    connect(trashButton, &QPushButton::clicked, this, [this] {
        // A double-click's second click would take the photos the first one's
        // batch left to propose, under a count nobody read.
        if (!trashClick.take())
            return;
        previewView->hide();
        control->trashCheckedUnits();
    });

    selectCategory(CleanupCategory::similar);
    showProgress();
}

// The label holds three lines at most; the tooltip has the whole text.
void CleanupPage::showProgress()
{
    progressLabel->setToolTip(control->progressText());
    layoutViews();
}

void CleanupPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    gridView->setFocus(Qt::OtherFocusReason);
}

QHash<QString, std::function<void()>> CleanupPage::commands()
{
    QPointer<CleanupPage> self(this);
    const auto weak = [self](void (CleanupPage::*method)()) {
        return [self, method] { if (self) (self.data()->*method)(); };
    };
    QHash<QString, std::function<void()>> map;
    map.insert(QStringLiteral("trash"), [self] { if (self) { self->previewView->hide(); self->control->trashCheckedUnits(); } });
    map.insert(QStringLiteral("undo"), [self] { if (self) self->control->undoLastTrash(); });
    map.insert(QStringLiteral("selectAll"), [self] { if (self) self->control->checkAll(); });
    map.insert(QStringLiteral("selectNone"), [self] { if (self) self->control->checkNone(); });
    map.insert(QStringLiteral("exit"), [self] { if (self) self->control->exitCleanup(); });
    map.insert(QStringLiteral("toggle"), weak(&CleanupPage::toggleSelected));
    map.insert(QStringLiteral("preview"), weak(&CleanupPage::togglePreview));
    map.insert(QStringLiteral("escape"), weak(&CleanupPage::escape));
    map.insert(QStringLiteral("left"), [self] { if (self) self->gridView->moveSelection(-1, 0); });
    map.insert(QStringLiteral("right"), [self] { if (self) self->gridView->moveSelection(1, 0); });
    map.insert(QStringLiteral("up"), [self] { if (self) self->gridView->moveSelection(0, -1); });
    map.insert(QStringLiteral("down"), [self] { if (self) self->gridView->moveSelection(0, 1); });
    return map;
}

void CleanupPage::selectCategory(CleanupCategory category)
{
    // The preview shows a photo of the category being left: it closes.
    previewView->hide();
    control->selectCategory(category); // reloads through onResultChanged
    gridView->scrollToTop();
}

void CleanupPage::resultChanged()
{
    for (auto &[c, row] : rows) {
        row->setCount(control->unitCount(c));
        row->setActive(c == control->category);
    }
    gridView->reload();
    headerTitle->setText(control->headerTitle());
    headerDetail->setText(control->headerDetail());
    const bool empty = control->emptyVisible();
    emptyLabel->setVisible(empty);
    emptyLabel->setText(control->emptyText());
    selectAllButton->setVisible(!empty);
    selectNoneButton->setVisible(!empty);
    describeSelection();
    updateStatus();
    layoutViews();
}

void CleanupPage::ticksChanged()
{
    gridView->refreshCells();
    describeSelection();
    updateStatus();
    if (previewView->isVisible())
        refreshPreview();
}

void CleanupPage::updateStatus()
{
    trashButton->setText(control->trashButtonTitle());
    trashButton->setEnabled(control->trashEnabled());
    layoutViews();
    // What a move to the Trash or an undo did is said once, as it appears.
    const QString notice = control->statusNotice().value_or(QString());
    if (notice != spokenNotice && !notice.isEmpty())
        Spoken::say(statusLabel, notice);
    else
        Spoken::setName(statusLabel, control->statusText());
    spokenNotice = notice;
}

void CleanupPage::describeSelection()
{
    // The grid holds the keyboard and draws its photos itself: its name is
    // what a screen reader says of the photo under the cursor, and it is said
    // again when the cursor moves or a tick changes.
    gridView->setAccessibleName(control->selectionSpoken());
}

void CleanupPage::escape()
{
    if (previewView->isVisible()) {
        previewView->hide();
        gridView->setFocus();
        return;
    }
    control->exitCleanup();
}

void CleanupPage::toggleSelected()
{
    if (const auto path = gridView->selected(); path && gridView->onToggle)
        gridView->onToggle(*path);
}

void CleanupPage::togglePreview()
{
    if (previewView->isVisible()) {
        previewView->hide();
        return;
    }
    if (!control->selectedPrimary)
        return;
    previewView->setGeometry(rect());
    previewView->show();
    previewView->raise();
    refreshPreview();
}

void CleanupPage::refreshPreview()
{
    if (!control->selectedPrimary)
        return;
    const CleanupUnit *unit = control->unitFor(*control->selectedPrimary);
    if (!unit)
        return;
    const QString url = unit->primary;
    previewView->setCaption(control->previewCaption(*unit));
    previewView->setFaces(control->facesShown(*unit));
    const int generation = ++previewGeneration;
    ImageLoader &loader = ImageLoader::shared();
    QImage image = loader.cachedPreview(url, 2048);
    if (image.isNull())
        image = loader.cachedFull(url);
    if (!image.isNull()) {
        previewView->setImage(image);
        return;
    }
    // The grid's thumbnail at once, the 2048-px picture when it is ready.
    const auto entry = thumbnails->cached(url);
    previewView->setImage(entry ? entry->thumbnail : QImage());
    QPointer<CleanupPage> self(this);
    HandOff::start(*QThreadPool::globalInstance(), [self, url, generation] {
        const QImage large = ImageLoader::shared().preview(url, 2048);
        HandOff::invoke(QCoreApplication::instance(), [self, url, generation, large] {
            if (!self || generation != self->previewGeneration || large.isNull())
                return;
            if (self->control->selectedPrimary == url)
                self->previewView->setImage(large);
        }, Qt::QueuedConnection);
    });
}

void CleanupPage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), CleanupStyle::grey(0.075));
}

void CleanupPage::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutViews();
}

void CleanupPage::layoutViews()
{
    if (!bottomBar)
        return;
    const int w = width();
    const int h = height();

    // Sidebar.
    sidebar->setGeometry(0, 0, sidebarWidth, h);
    const QSize titleSize = titleLabel->sizeHint();
    titleLabel->setGeometry(18, 48, titleSize.width(), titleSize.height());
    const QSize betaSize = betaLabel->sizeHint();
    betaLabel->setGeometry(18 + titleSize.width() + 6, 48 + ascentOf(titleLabel) - ascentOf(betaLabel),
                           betaSize.width(), betaSize.height());
    int y = 48 + titleSize.height() + 16;
    for (CleanupCategory category : allCleanupCategories()) {
        rows[category]->setGeometry(10, y, sidebarWidth - 20, 30);
        y += 30 + 2;
    }
    const int progressWidth = sidebarWidth - 18 - 14;
    const int lineHeight = QFontMetrics(progressLabel->font()).lineSpacing();
    // A text longer than three lines (the names of photos that could not be
    // checked) is cut after as much as fits; the tooltip keeps the whole of it.
    progressLabel->setText(CleanupStyle::elidedToLines(control->progressText(), progressLabel->font(), progressWidth, 3));
    const int progressHeight = std::min(3 * lineHeight, progressLabel->heightForWidth(progressWidth));
    progressLabel->setGeometry(18, h - 16 - progressHeight, progressWidth, progressHeight);

    // Header.
    const int left = sidebarWidth;
    const QSize headSize = headerTitle->sizeHint();
    headerTitle->setGeometry(left + 20, 46, headSize.width(), headSize.height());
    const QSize detailSize = headerDetail->sizeHint();
    headerDetail->setGeometry(left + 20 + headSize.width() + 10, 46 + ascentOf(headerTitle) - ascentOf(headerDetail),
                              detailSize.width(), detailSize.height());
    const int titleCentre = 46 + headSize.height() / 2;
    const QSize noneSize = selectNoneButton->sizeHint();
    selectNoneButton->setGeometry(w - 20 - noneSize.width(), titleCentre - noneSize.height() / 2, noneSize.width(),
                                  noneSize.height());
    const QSize allSize = selectAllButton->sizeHint();
    selectAllButton->setGeometry(selectNoneButton->x() - 14 - allSize.width(), titleCentre - allSize.height() / 2,
                                 allSize.width(), allSize.height());
    const QSize doneSize = doneButton->sizeHint();
    doneButton->setGeometry(w - 16 - doneSize.width(), 10, doneSize.width(), doneSize.height());

    // Grid and its empty state.
    const int gridTop = 46 + headSize.height() + 12;
    const QRect gridRect(left, gridTop, std::max(0, w - left), std::max(0, h - bottomBarHeight - gridTop));
    gridView->setGeometry(gridRect);
    const QSize emptySize(std::max(0, gridRect.width() - 40), emptyLabel->sizeHint().height());
    emptyLabel->setGeometry(gridRect.x() + (gridRect.width() - emptySize.width()) / 2,
                            gridRect.center().y() - 20 - emptySize.height() / 2, emptySize.width(), emptySize.height());

    // Bottom bar.
    bottomBar->setGeometry(left, h - bottomBarHeight, std::max(0, w - left), bottomBarHeight);
    const int barWidth = bottomBar->width();
    const QSize trashSize = trashButton->sizeHint();
    trashButton->setGeometry(barWidth - 16 - trashSize.width(), (bottomBarHeight - trashSize.height()) / 2,
                             trashSize.width(), trashSize.height());
    const QSize hintSize = hintLabel->sizeHint();
    hintLabel->setGeometry(trashButton->x() - 16 - hintSize.width(), (bottomBarHeight - hintSize.height()) / 2,
                           hintSize.width(), hintSize.height());
    // A long message (a move with failures and their reason) takes the hint's
    // room; what still does not fit ends in an ellipsis, the whole of it in the
    // tooltip.
    const QString status = control->statusText();
    const QFontMetrics statusMetrics(statusLabel->font());
    const int statusWidth = statusMetrics.horizontalAdvance(status);
    const bool hintShown = statusWidth <= hintLabel->x() - 20 - 12;
    hintLabel->setVisible(hintShown);
    const int statusRoom = std::max(0, (hintShown ? hintLabel->x() : trashButton->x()) - 20 - 12);
    const QString shownStatus = statusMetrics.elidedText(status, Qt::ElideRight, statusRoom);
    statusLabel->setText(shownStatus);
    statusLabel->setToolTip(shownStatus == status ? QString() : status);
    const QSize statusSize = statusLabel->sizeHint();
    statusLabel->setGeometry(20, (bottomBarHeight - statusSize.height()) / 2, std::min(statusSize.width(), statusRoom),
                             statusSize.height());

    if (previewView->isVisible())
        previewView->setGeometry(rect());
}
