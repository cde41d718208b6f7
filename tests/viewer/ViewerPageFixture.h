#pragma once
// A viewer page on a shown 1000 x 700 host, the active page of its own router,
// with a temporary folder for the test's photos. Settings that would make a
// run depend on an earlier one (sort order, the one-time hint, fades) are set
// to fixed values first.
#include "ViewerTestSupport.h"
#include "commands/CommandRouter.h"
#include "library/ImageLoader.h"
#include "settings/Settings.h"
#include "viewer/ViewerPage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

class ViewerPageFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        ASSERT_TRUE(dir.isValid());
        Settings::setSortKey(SortKey::name);
        Settings::setSortReversed(false);
        Settings::setCleanupHintShown(true);
        Settings::setFadeTransition(false);
        beforePage();
        host = std::make_unique<QWidget>();
        host->resize(1000, 700);
        viewer = new ViewerPage(loader, host.get());
        router.pushPage(viewer);
        viewer->setGeometry(0, 0, 1000, 700);
        host->show();
    }

    void TearDown() override { host.reset(); }

    // What a test needs in place before the page is built (a language, a setting).
    virtual void beforePage() {}

    QString path(const QString &name) const { return QDir(dir.path()).filePath(name); }

    // Writes bytes to a file of the test's folder (or to an absolute path).
    bool writeFile(const QString &name, const QByteArray &bytes) const
    {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    ImageLoader loader{1ull << 30};
    QTemporaryDir dir;
    std::unique_ptr<QWidget> host;
    ViewerPage *viewer = nullptr;
    CommandRouter router;
};
