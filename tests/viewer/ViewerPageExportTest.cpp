// The export sheet and the batch dialog as the viewer page runs them, on real
// files (raster renderer, offscreen platform).
#include "ViewerPageFixture.h"

#include "commands/CommandRouter.h"
#include "settings/Settings.h"
#include "settings/Texts.h"
#include "viewer/ViewerPage.h"
#include "viewer/ViewerPageExport.h"
#include "viewer/ViewerPageRename.h"
#include "viewer/ViewerViewController.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStandardItemModel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ViewerPageExportTest : public ViewerPageFixture
{
protected:


    ViewerPageExport &exports() { return *viewer->exports(); }
    void run(CommandId id)
    {
        const CommandHandler *handler = viewer->commands.find(id);
        ASSERT_TRUE(handler && handler->run);
        ASSERT_TRUE(handler->state(0).enabled);
        handler->run(0);
    }
    bool shown()
    {
        return waitFor([this] { return viewer->currentPhotoPath().has_value(); }, 20000);
    }
    QString nameField()
    {
        auto *edit = exports().exportSavePanel->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        return edit ? edit->text() : QString();
    }

};

} // namespace

TEST_F(ViewerPageExportTest, TheSheetProposesANameThatFollowsTheFormatAndEstimates)
{
    makeJpeg(dir.path(), QStringLiteral("IMG_1.jpg"), 1200, 800);
    viewer->open(path(QStringLiteral("IMG_1.jpg")));
    ASSERT_TRUE(shown());
    run(CommandId::exportAs);
    ASSERT_TRUE(exports().exportSavePanel);
    EXPECT_EQ(exports().exportSavePanel->directory().absolutePath(), QDir(dir.path()).absolutePath());
    EXPECT_EQ(nameField(), QStringLiteral("IMG_1-compressed.jpg"));
    EXPECT_TRUE(exports().exportQualitySlider->isEnabled());
    auto *formats = qobject_cast<QStandardItemModel *>(exports().exportFormatPopup->model());
    ASSERT_TRUE(formats);
    EXPECT_EQ(formats->item(2)->isEnabled(), Encoder::canEncode(Encoder::Format::heic));

    const auto estimated = [this] {
        return exports().exportEstimateLabel && exports().exportEstimateLabel->text() != Texts::text("exp.estimating");
    };
    EXPECT_EQ(exports().exportEstimateLabel->text(), Texts::text("exp.estimating"));
    ASSERT_TRUE(waitFor(estimated, 20000));
    EXPECT_NE(exports().exportEstimateLabel->text(), Texts::format("exp.estimate", {QStringLiteral("--")}));

    exports().exportFormatPopup->setCurrentIndex(1);
    EXPECT_EQ(nameField(), QStringLiteral("IMG_1-compressed.png"));
    EXPECT_FALSE(exports().exportQualitySlider->isEnabled());
    EXPECT_FALSE(exports().exportQualityLabel->isEnabled());
    exports().exportFormatPopup->setCurrentIndex(0);
    EXPECT_TRUE(exports().exportQualityLabel->isEnabled());
    exports().exportQualitySlider->setValue(60);
    EXPECT_EQ(exports().exportQualityLabel->text(), Texts::format("exp.quality", {QStringLiteral("60")}));
    ASSERT_TRUE(waitFor(estimated, 20000));

    // Saving writes the copy and reports it; the sheet's controls are released.
    const QString out = path(QStringLiteral("small.jpg"));
    exports().exportSavePanel->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("small.jpg"));
    static_cast<QDialog *>(exports().exportSavePanel.data())->accept();
    ASSERT_TRUE(waitFor([&] { return viewer->hudMessage().contains(QLatin1String("small.jpg")); }, 20000))
        << viewer->hudMessage().toStdString();
    EXPECT_TRUE(QFileInfo(out).size() > 0);
    EXPECT_FALSE(exports().exportSavePanel);
    EXPECT_FALSE(exports().exportEstimateLabel);
    EXPECT_FALSE(exports().isProcessing());
}

// The sheet asks before replacing the file that is really written: a typed
// name that lacks the format's extension gains it, and that name is the one
// checked. Cancel keeps the sheet open and the file as it was.
TEST_F(ViewerPageExportTest, TheSheetAsksBeforeReplacingTheNameWithItsExtension)
{
    makeJpeg(dir.path(), QStringLiteral("a.jpg"), 400, 300);
    ASSERT_TRUE(writeFile(QStringLiteral("holiday.png.jpg"), "kept"));
    viewer->open(path(QStringLiteral("a.jpg")));
    ASSERT_TRUE(shown());
    run(CommandId::exportAs);
    ASSERT_TRUE(exports().exportSavePanel);
    QFileDialog *panel = exports().exportSavePanel;
    const auto question = [panel] { return panel->findChild<QMessageBox *>(); };
    const auto answer = [&](const QString &title) {
        ASSERT_TRUE(waitFor([&] { return question() && question()->isVisible(); }, 5000));
        EXPECT_EQ(question()->text(), Texts::format("exp.replaceQuestion", {QStringLiteral("holiday.png.jpg")}));
        for (QAbstractButton *button : question()->buttons()) {
            if (button->text() == title) {
                button->click();
                return;
            }
        }
        ADD_FAILURE() << "no button " << title.toStdString();
    };

    panel->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("holiday.png"));
    static_cast<QDialog *>(panel)->accept();
    answer(Texts::text("alert.cancel"));
    spin(100);
    ASSERT_TRUE(exports().exportSavePanel);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(exports().isProcessing());

    static_cast<QDialog *>(panel)->accept();
    answer(Texts::text("exp.replace"));
    ASSERT_TRUE(waitFor([&] { return viewer->hudMessage().contains(QLatin1String("holiday.png.jpg")); }, 20000))
        << viewer->hudMessage().toStdString();
    EXPECT_FALSE(exports().exportSavePanel);
    EXPECT_GT(QFileInfo(path(QStringLiteral("holiday.png.jpg"))).size(), 4);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("holiday.png"))));

    // The photo's own name (typed without its extension) offers no replacement:
    // the sheet says it cannot be done and stays open, the photo as it was.
    run(CommandId::exportAs);
    ASSERT_TRUE(exports().exportSavePanel);
    QFileDialog *second = exports().exportSavePanel;
    const auto refusal = [second] { return second->findChild<QMessageBox *>(); };
    const QByteArray before = [&] { QFile f(path(QStringLiteral("a.jpg"))); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    second->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("a"));
    static_cast<QDialog *>(second)->accept();
    ASSERT_TRUE(waitFor([&] { return refusal() && refusal()->isVisible(); }, 5000));
    EXPECT_EQ(refusal()->text(), Texts::text("msg.exportOntoSource"));
    EXPECT_EQ(refusal()->buttons().size(), 1);
    refusal()->buttons().first()->click();
    spin(100);
    EXPECT_TRUE(second->isVisible());
    EXPECT_FALSE(exports().isProcessing());
    QFile after(path(QStringLiteral("a.jpg")));
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);
}

TEST_F(ViewerPageExportTest, CancellingTheSheetLeavesNothingPending)
{
    makeJpeg(dir.path(), QStringLiteral("a.jpg"), 800, 600);
    viewer->open(path(QStringLiteral("a.jpg")));
    ASSERT_TRUE(shown());
    run(CommandId::exportAs);
    ASSERT_TRUE(exports().exportSavePanel);
    exports().exportSavePanel->reject();
    spin(600); // past the estimate's wait
    exports().estimator.waitForIdle();
    EXPECT_EQ(exports().estimator.encodesRun, 0);
    EXPECT_FALSE(exports().exportSavePanel);
    EXPECT_FALSE(exports().isProcessing());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("a.jpg")});
}

TEST_F(ViewerPageExportTest, BatchConvertAsksThenConvertsTheFolder)
{
    makeJpeg(dir.path(), QStringLiteral("a.jpg"), 400, 300);
    makeJpeg(dir.path(), QStringLiteral("b.jpeg"), 400, 300);
    QImage(64, 48, QImage::Format_RGB32).save(path(QStringLiteral("c.png")));
    viewer->open(path(QStringLiteral("a.jpg")));
    ASSERT_TRUE(shown());
    // The stop button only shows while a conversion runs.
    EXPECT_FALSE(exports().stopButton->isVisible());

    // Cancelling the dialog creates nothing.
    run(CommandId::batchConvert);
    ASSERT_TRUE(exports().batchDialog);
    exports().batchFormatPopup->setCurrentIndex(1);
    EXPECT_FALSE(exports().batchQualitySlider->isEnabled());
    exports().batchDialog->reject();
    spin(100);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("Converted-png"))));

    run(CommandId::batchConvert);
    ASSERT_TRUE(exports().batchDialog);
    exports().batchQualitySlider->setValue(70);
    EXPECT_EQ(exports().qualityLabel->text(), Texts::format("bc.quality", {QStringLiteral("70")}));
    exports().batchDialog->accept();
    EXPECT_TRUE(exports().isProcessing());
    EXPECT_TRUE(exports().stopButton->isVisible());
    // The stop button sits just under the bubble that counts the photos.
    const QRect stop = exports().stopButton->geometry();
    const QRect bubble = viewer->hudGeometry();
    EXPECT_EQ(stop.left(), bubble.left());
    EXPECT_GT(stop.top(), bubble.bottom());
    EXPECT_LE(stop.top(), bubble.bottom() + 12);
    // A second command while it runs is refused.
    run(CommandId::batchConvert);
    EXPECT_FALSE(exports().batchDialog);
    EXPECT_EQ(viewer->hudMessage(), Texts::text("msg.fileOpBusy"));
    // So is a rename: the conversion reads the photos by their names.
    viewer->flash(QString(), 0);
    run(CommandId::renameCurrent);
    EXPECT_FALSE(viewer->renames()->openAlert());
    EXPECT_EQ(viewer->hudMessage(), Texts::text("msg.fileOpBusy"));

    // The one that failed says why.
    const QString done = Texts::format("msg.convertDone", {"2", "1", "jpg"}) + QStringLiteral("  ·  ")
                         + "a.jpg: " + Texts::text("msg.convertSameFormat");
    ASSERT_TRUE(waitFor([&] { return viewer->hudMessage() == done; }, 30000)) << viewer->hudMessage().toStdString();
    EXPECT_EQ(QDir(path(QStringLiteral("Converted-jpg"))).entryList(QDir::Files),
              (QStringList{QStringLiteral("b.jpg"), QStringLiteral("c.jpg")}));
    EXPECT_FALSE(exports().isProcessing());
    EXPECT_FALSE(exports().stopButton->isVisible());
}

TEST_F(ViewerPageExportTest, StoppingAConversionSaysSoUntilTheLastPhotosFinish)
{
    for (int i = 0; i < 12; ++i)
        makeJpeg(dir.path(), QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0')), 1600, 1200);
    viewer->open(path(QStringLiteral("p00.jpg")));
    ASSERT_TRUE(shown());
    run(CommandId::batchConvert);
    ASSERT_TRUE(exports().batchDialog);
    exports().batchFormatPopup->setCurrentIndex(1);   // PNG
    exports().batchDialog->accept();
    ASSERT_TRUE(exports().stopButton->isVisible());

    exports().stopButton->click();
    EXPECT_FALSE(exports().stopButton->isEnabled());
    const QString stopping = Texts::text("msg.convertStopping");
    EXPECT_EQ(viewer->hudMessage(), stopping);
    // The photos under way (if any had begun) finish and report, without the
    // count coming back.
    bool stayed = true;
    ASSERT_TRUE(waitFor([&] {
        if (exports().isProcessing())
            stayed = stayed && viewer->hudMessage() == stopping;
        return !exports().isProcessing();
    }, 30000));
    EXPECT_TRUE(stayed);
    const int written = int(QDir(path(QStringLiteral("Converted-png"))).entryList(QDir::Files).size());
    EXPECT_LT(written, 12);
    EXPECT_EQ(viewer->hudMessage(),
              Texts::format("msg.convertCancelled", {QString::number(written), QStringLiteral("0"), QStringLiteral("png")}));
    EXPECT_FALSE(exports().stopButton->isVisible());
}

// Closing the window mid-conversion asks first; keeping on changes nothing, and
// stopping closes the window once the photos under way are written.
TEST_F(ViewerPageExportTest, ClosingDuringAConversionAsksAndClosesOnceStopped)
{
    for (int i = 0; i < 12; ++i)
        makeJpeg(dir.path(), QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0')), 1600, 1200);
    viewer->open(path(QStringLiteral("p00.jpg")));
    ASSERT_TRUE(shown());
    int closes = 0;
    const auto closeAgain = [&closes] { ++closes; };
    EXPECT_FALSE(exports().holdClose(closeAgain));

    run(CommandId::batchConvert);
    ASSERT_TRUE(exports().batchDialog);
    exports().batchFormatPopup->setCurrentIndex(1);   // PNG
    exports().batchDialog->accept();
    const auto answer = [this](const char *button) {
        QMessageBox *question = nullptr;
        EXPECT_TRUE(waitFor([&] { return (question = viewer->window()->findChild<QMessageBox *>()) != nullptr; }));
        if (!question)
            return;
        EXPECT_EQ(question->defaultButton()->text(), Texts::text("alert.keepConverting"));
        for (QAbstractButton *b : question->buttons())
            if (b->text() == Texts::text(button))
                b->click();
        EXPECT_TRUE(waitFor([&] { return viewer->window()->findChild<QMessageBox *>() == nullptr; }));
    };

    ASSERT_TRUE(exports().holdClose(closeAgain));
    answer("alert.keepConverting");
    spin(100);
    EXPECT_EQ(closes, 0);
    EXPECT_TRUE(exports().isProcessing());
    EXPECT_FALSE(exports().converter.isStopping());

    ASSERT_TRUE(exports().holdClose(closeAgain));
    answer("alert.stopAndClose");
    EXPECT_EQ(viewer->hudMessage(), Texts::text("msg.convertStopping"));
    ASSERT_TRUE(waitFor([&] { return closes == 1; }, 30000));
    EXPECT_FALSE(exports().isProcessing());
    EXPECT_LT(QDir(path(QStringLiteral("Converted-png"))).entryList(QDir::Files).size(), 12);
}
