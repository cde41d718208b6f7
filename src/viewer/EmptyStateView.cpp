#include "viewer/EmptyStateView.h"

#include "settings/Texts.h"
#include "viewer/OverlayStyle.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, color);
    widget->setPalette(pal);
}

} // namespace

EmptyStateView::EmptyStateView(QWidget *parent)
    : QWidget(parent)
    , title(new QLabel(QStringLiteral("Glanto"), this))
    , hintLabel(new QLabel(this))
    , button(new QPushButton(Texts::text("ui.openButton"), this))
    , belowButton(new QPushButton(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    title->setTextFormat(Qt::PlainText);
    title->setFont(OverlayStyle::font(30, QFont::Light));
    setTextColor(title, OverlayStyle::tertiaryColor());
    title->setAlignment(Qt::AlignCenter);
    hintLabel->setTextFormat(Qt::PlainText);
    hintLabel->setFont(OverlayStyle::font(13));
    setTextColor(hintLabel, OverlayStyle::secondaryColor());
    hintLabel->setAlignment(Qt::AlignCenter);
    button->setFont(OverlayStyle::font(14, QFont::Medium));
    button->setMinimumSize(160, 40);
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoDefault(true); // Return presses it when it has the focus
    button->setStyleSheet(QStringLiteral(
        "QPushButton { color: rgba(255,255,255,0.92); background: rgba(255,255,255,0.12);"
        " border: 1px solid rgba(255,255,255,0.18); border-radius: 10px; padding: 8px 22px; }"
        "QPushButton:hover { background: rgba(255,255,255,0.18); }"
        "QPushButton:pressed { background: rgba(255,255,255,0.26); }"
        "QPushButton:focus { border: 2px solid rgba(255,255,255,0.7); padding: 7px 21px; outline: none; }"));
    connect(button, &QPushButton::clicked, this, [this] {
        if (onOpen)
            onOpen();
    });
    layout->addWidget(title);
    layout->addWidget(hintLabel);
    layout->addSpacing(6);
    layout->addWidget(button, 0, Qt::AlignHCenter);
    // A quieter button under the main one: a plain line of text that opens.
    belowButton->setFont(OverlayStyle::font(13));
    belowButton->setCursor(Qt::PointingHandCursor);
    belowButton->setFlat(true);
    belowButton->setAutoDefault(true);
    belowButton->setStyleSheet(QStringLiteral(
        "QPushButton { color: rgba(255,255,255,0.72); background: transparent; border: none; padding: 4px 12px; }"
        "QPushButton:hover, QPushButton:focus { color: rgba(255,255,255,0.95); text-decoration: underline; outline: none; }"));
    connect(belowButton, &QPushButton::clicked, this, [this] {
        if (onOpenBelow && !folderBelow.isEmpty())
            onOpenBelow(folderBelow);
    });
    layout->addWidget(belowButton, 0, Qt::AlignHCenter);
    belowButton->hide();
    setHint(Texts::text("ui.emptyHint"));
}

void EmptyStateView::setHint(const QString &hint)
{
    hintLabel->setText(hint);
    setFolderBelow({}, {});
}

void EmptyStateView::setFolderBelow(const QString &folder, const QString &shownFrom)
{
    folderBelow = folder;
    if (folder.isEmpty()) {
        belowButton->hide();
        return;
    }
    const QString shown = QDir(shownFrom).relativeFilePath(folder);
    belowButton->setText(Texts::format("ui.openFolderBelow", {shown}));
    belowButton->setAccessibleName(belowButton->text());
    belowButton->show();
}

QString EmptyStateView::hint() const
{
    return hintLabel->text();
}
