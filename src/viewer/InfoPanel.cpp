#include "viewer/InfoPanel.h"

#include "library/Spoken.h"
#include "platform/HandOff.h"
#include "settings/Texts.h"
#include "viewer/OverlayLayout.h"
#include "viewer/OverlayStyle.h"
#include "viewer/TextLines.h"

#include <QCoreApplication>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

#include <unistd.h>

InfoPanel::InfoPanel(QWidget *parent)
    : QWidget(parent)
    , scroller(new QScrollArea(this))
    , content(new QWidget)
    , rows(new QVBoxLayout(content))
{
    summarize = [](const QString &path) { return exifSummary(path); };
    exifQueue.setMaxThreadCount(2);
    setFocusPolicy(Qt::NoFocus);
    setFixedWidth(panelWidth);
    // The rows keep their height in a short window and scroll there, rather
    // than being squeezed over one another.
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroller);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setFocusPolicy(Qt::NoFocus);
    scroller->setWidgetResizable(true);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setStyleSheet(QStringLiteral(
        "QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"
        "QScrollBar:vertical { background: transparent; width: 8px; margin: 10px 2px 10px 0; }"
        "QScrollBar::handle:vertical { background: rgba(255,255,255,0.3); border-radius: 3px; min-height: 24px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    scroller->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    scroller->setWidget(content);
    rows->setContentsMargins(insetH, insetV, insetH, insetV);
    rows->setSpacing(rowSpacing);
    rebuild();
}

InfoPanel::~InfoPanel()
{
    exifQueue.clear();
    exifQueue.waitForDone();
}

void InfoPanel::refresh(const QString &path, int generation)
{
    const int serial = ++requestSerial;
    // A summary queued for a photo already left is not worth reading.
    exifQueue.clear();
    QPointer<InfoPanel> self(this);
    auto compute = summarize;
    HandOff::start(exifQueue, [self, compute, path, generation, serial] {
        QList<ExifEntry> entries = compute(path);
        // Nothing to show may mean the file could not be read at all, which
        // says more than that it carries no EXIF.
        const bool unreadable = entries.isEmpty() && ::access(QFile::encodeName(path).constData(), R_OK) != 0;
        HandOff::invoke(
            QCoreApplication::instance(),
            [self, entries = std::move(entries), unreadable, generation, serial] {
                if (!self || serial != self->requestSerial || self->isHidden())
                    return;
                if (self->currentGeneration && self->currentGeneration() != generation)
                    return;
                self->showEntries(entries, unreadable);
            },
            Qt::QueuedConnection);
    });
}

void InfoPanel::setRating(int rating)
{
    const int clamped = std::clamp(rating, 0, 5);
    if (clamped == m_rating)
        return;
    m_rating = clamped;
    rebuild();
}

void InfoPanel::showEntries(const QList<ExifEntry> &entries, bool unreadable)
{
    m_entries = entries;
    m_loaded = true;
    m_unreadable = unreadable;
    rebuild();
}

QLabel *InfoPanel::addLabel(const QString &text, const QFont &font, const QColor &color)
{
    auto *label = new QLabel(content);
    // File names and EXIF values are the file's text: never guessed as markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    label->setText(text);
    rows->addWidget(label);
    // Shown now rather than when the layout gets round to it, so that the panel's
    // height below counts the new row.
    label->show();
    return label;
}

void InfoPanel::rebuild()
{
    while (QLayoutItem *item = rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    addLabel(Texts::text("ui.exifTitle"), OverlayStyle::font(13, QFont::Bold), OverlayStyle::secondaryColor());
    if (m_rating >= 1) {
        addLabel(Texts::text("menu.rating"), OverlayStyle::font(11), OverlayStyle::secondaryColor());
        QLabel *stars = addLabel(fiveStarText(m_rating), OverlayStyle::font(12), OverlayStyle::badgeColor());
        stars->setAccessibleName(Texts::text("menu.rating") + QStringLiteral(": ") + Spoken::readable(stars->text()));
    }
    if (m_loaded && m_entries.isEmpty())
        addLabel(Texts::text(m_unreadable ? "ui.exifUnreadable" : "ui.noExif"), OverlayStyle::font(12),
                 OverlayStyle::secondaryColor());
    const QFont valueFont = OverlayStyle::font(12);
    for (const ExifEntry &entry : m_entries) {
        addLabel(entry.label, OverlayStyle::font(11), OverlayStyle::secondaryColor());
        QLabel *value = addLabel(twoLineText(entry.value, valueFont, valueWidth), valueFont,
                                 OverlayStyle::labelColor());
        // A screen reader reads the row as one: "Camera: NIKON D70s", in full.
        value->setAccessibleName(entry.label + QStringLiteral(": ") + entry.value);
        value->setAccessibleDescription(entry.value);
        // The whole value, for one shortened to two lines; escaped inside a forced
        // rich-text tooltip so that markup in a file name stays text.
        value->setToolTip(QStringLiteral("<qt>%1</qt>").arg(entry.value.toHtmlEscaped()));
    }
    rows->activate();
    resize(sizeHint());
    if (onRebuilt)
        onRebuilt();
}

QSize InfoPanel::sizeHint() const
{
    return QSize(panelWidth, rows->sizeHint().height());
}

void InfoPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    OverlayStyle::paintPanel(painter, rect(), cornerRadius);
}
