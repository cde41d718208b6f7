#include "update/UpdateBanner.h"

#include "update/UpdateAlert.h"

#include "settings/Texts.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace {

constexpr char bannerName[] = "glantoUpdateBanner";
constexpr int topMargin = 12;

} // namespace

UpdateBanner *UpdateBanner::find(QWidget *host)
{
    return host ? host->findChild<UpdateBanner *>(QLatin1String(bannerName), Qt::FindDirectChildrenOnly) : nullptr;
}

UpdateBanner *UpdateBanner::showIn(QWidget *host, const UpdateChecker::Release &release)
{
    if (!host)
        return nullptr;
    if (UpdateBanner *existing = find(host))
        return existing;
    auto *banner = new UpdateBanner(host, release);
    banner->place();
    banner->show();
    banner->raise();
    return banner;
}

UpdateBanner::UpdateBanner(QWidget *host, const UpdateChecker::Release &release)
    : QFrame(host)
    , shown(release)
{
    setObjectName(QLatin1String(bannerName));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("#glantoUpdateBanner { background: rgba(44, 44, 48, 235); border-radius: 10px;"
                                 " border: 1px solid rgba(255, 255, 255, 28); }"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(14, 6, 10, 6);
    row->setSpacing(10);

    // The version comes from the network: it is shown as text, never as markup.
    message = new QLabel(Texts::format("update.available", {release.version}), this);
    message->setTextFormat(Qt::PlainText);
    QFont font = message->font();
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    message->setFont(font);
    row->addWidget(message);

    downloadBtn = new QPushButton(Texts::text("update.download"), this);
    downloadBtn->setCursor(Qt::PointingHandCursor);
    row->addWidget(downloadBtn);

    skipBtn = new QToolButton(this);
    skipBtn->setText(QStringLiteral("✕"));
    skipBtn->setAutoRaise(true);
    skipBtn->setToolTip(Texts::text("update.skip"));
    skipBtn->setAccessibleDescription(Texts::text("update.skip"));
    skipBtn->setStyleSheet(QStringLiteral("QToolButton { color: rgba(235, 235, 245, 150); border: none; }"));
    row->addWidget(skipBtn);

    connect(downloadBtn, &QPushButton::clicked, this, [this] { download(); });
    connect(skipBtn, &QToolButton::clicked, this, [this] { skipVersion(); });
    host->installEventFilter(this);
}

void UpdateBanner::download()
{
    if (openLink && !openLink(shown.download))
        UpdateAlert::showUnopenedLink(window(), shown.download);
    dismiss();
}

void UpdateBanner::skipVersion()
{
    UpdateChecker::skip(shown.version);
    dismiss();
}

void UpdateBanner::dismiss()
{
    // Taken out of the host at once so that a new banner can appear right away.
    hide();
    if (QWidget *host = parentWidget())
        host->removeEventFilter(this);
    setObjectName(QString());
    deleteLater();
    if (onDismiss)
        onDismiss();
}

void UpdateBanner::place()
{
    QWidget *host = parentWidget();
    if (!host)
        return;
    adjustSize();
    move((host->width() - width()) / 2, topMargin);
}

bool UpdateBanner::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        place();
    return QFrame::eventFilter(watched, event);
}
