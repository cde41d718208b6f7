#include "viewer/FileDialogSize.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTreeView>

void fitFileDialog(QFileDialog *dialog, const QWidget *window)
{
    if (!dialog)
        return;
    QSize size(880, 560);
    if (const QScreen *screen = window ? window->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    dialog->resize(size.expandedTo(dialog->minimumSizeHint()));
    if (auto *details = dialog->findChild<QTreeView *>(QStringLiteral("treeView"))) {
        QHeaderView *header = details->header();
        header->setStretchLastSection(false);
        header->resizeSection(1, 100);
        header->resizeSection(2, 130);
        header->resizeSection(3, 160);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
    }
}
