#include "viewer/ViewerPageExport.h"

#include "platform/HandOff.h"
#include "settings/Texts.h"
#include "viewer/FileDialogSize.h"
#include "viewer/OverlayStyle.h"
#include "viewer/ViewerPage.h"
#include "viewer/ViewerPageEdits.h"
#include "viewer/ZoomableImageView.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The save sheet asks before replacing the file that will really be written:
// the typed name with the format's extension added where it lacks one, which
// the file dialog's own question never sees ("holiday.png" saved as JPEG is
// "holiday.png.jpg").
class ExportSavePanel : public QFileDialog
{
public:
    ExportSavePanel(QWidget *parent, const QString &caption, const QString &directory,
                    std::function<QString(const QString &typed)> finalPath,
                    std::function<bool(const QString &target)> isSource)
        : QFileDialog(parent, caption, directory)
        , finalPath(std::move(finalPath))
        , isSource(std::move(isSource))
    {
        setOption(QFileDialog::DontConfirmOverwrite);
    }

    void accept() override
    {
        const QString typed = selectedFiles().value(0);
        if (typed.isEmpty() || QFileInfo(typed).isDir()) {
            QFileDialog::accept();   // a folder typed is opened, nothing saved
            return;
        }
        const QString target = finalPath(typed);
        // The photo itself is never replaced: say so here, with the sheet
        // still open, rather than offer a replacement that is then refused.
        if (isSource(target)) {
            auto *refusal = new QMessageBox(QMessageBox::Warning, windowTitle(), Texts::text("msg.exportOntoSource"),
                                            QMessageBox::Ok, this);
            refusal->setAttribute(Qt::WA_DeleteOnClose);
            refusal->open();
            return;
        }
        if (target == confirmed || !QFileInfo(target).isFile()) {
            QFileDialog::accept();
            return;
        }
        auto *question = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                         Texts::format("exp.replaceQuestion", {QFileInfo(target).fileName()}),
                                         QMessageBox::NoButton, this);
        question->setAttribute(Qt::WA_DeleteOnClose);
        QPushButton *replace = question->addButton(Texts::text("exp.replace"), QMessageBox::AcceptRole);
        question->setDefaultButton(question->addButton(Texts::text("alert.cancel"), QMessageBox::RejectRole));
        connect(question, &QMessageBox::buttonClicked, this, [this, target, replace](QAbstractButton *button) {
            if (button != replace)
                return;
            confirmed = target;
            accept();
        });
        question->open();
    }

private:
    std::function<QString(const QString &)> finalPath;
    std::function<bool(const QString &)> isSource;
    QString confirmed;
};

// The formats in pop-up order; one this system cannot write is shown disabled,
// with a note saying why.
QComboBox *formatPopup(QWidget *parent)
{
    auto *popup = new QComboBox(parent);
    for (const Encoder::FormatInfo &f : Encoder::formats()) {
        const bool available = Encoder::canEncode(f.format);
        popup->addItem(available ? QString::fromLatin1(f.title) : Texts::text("exp.heicUnavailable"));
        if (!available) {
            if (auto *model = qobject_cast<QStandardItemModel *>(popup->model()))
                model->item(popup->count() - 1)->setEnabled(false);
        }
    }
    popup->setCurrentIndex(0);
    return popup;
}

QSlider *qualitySlider(QWidget *parent)
{
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(Encoder::minQuality, Encoder::maxQuality);
    slider->setValue(Encoder::defaultQuality);
    return slider;
}

QLabel *smallLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.92);
    label->setFont(font);
    return label;
}

Encoder::Format selectedFormat(const QComboBox *popup)
{
    return Encoder::formatOfIndex(popup ? popup->currentIndex() : 0).value_or(Encoder::Format::jpeg);
}

} // namespace

ViewerPageExport::ViewerPageExport(ViewerPage *page)
    : QObject(page)
    , page(page)
{
    exportQueue.setMaxThreadCount(1);
    page->commands.on(CommandId::exportAs, [this](int) { exportAs(); }, page->menuRule(CommandId::exportAs));
    page->commands.on(CommandId::batchConvert, [this](int) { batchConvert(); }, page->menuRule(CommandId::batchConvert));

    estimator.onEstimate = [this](ExportEstimator::State state, qint64 bytes) {
        if (!exportEstimateLabel)
            return;
        switch (state) {
        case ExportEstimator::State::estimating:
            exportEstimateLabel->setText(Texts::text("exp.estimating"));
            break;
        case ExportEstimator::State::known:
            exportEstimateLabel->setText(Texts::format("exp.estimate", {Texts::byteCount(bytes)}));
            break;
        case ExportEstimator::State::failed:
            exportEstimateLabel->setText(Texts::format("exp.estimate", {QStringLiteral("--")}));
            break;
        }
        // Read where the keyboard is: a screen reader gives the slider's
        // description with its value.
        if (exportQualitySlider)
            exportQualitySlider->setAccessibleDescription(exportEstimateLabel->text());
    };

    QPointer<ViewerPage> guard(page);
    converter.onProgress = [this, guard](int handled, int total) {
        // Once stopped, the bubble goes on saying so while the last photos finish.
        if (!guard || converter.isStopping())
            return;
        guard->flash(Texts::format("msg.converting", {QString::number(handled), QString::number(total)}), 3600);
        placeStopButton();
    };
    converter.onFinished = [this, guard](const BatchConvert::Summary &s) {
        if (stopButton)
            stopButton->hide();
        if (!guard)
            return;
        guard->flash(s.message(), s.failed > 0 ? 6.0 : 4.0);
        // The window was closed while the photos were converted: it closes now.
        if (auto closeAgain = std::exchange(closeWhenStopped, {}))
            QTimer::singleShot(0, guard, closeAgain);
    };

    stopButton = new QPushButton(Texts::text("alert.cancel"));
    stopButton->setFocusPolicy(Qt::NoFocus);
    connect(stopButton, &QPushButton::clicked, this, &ViewerPageExport::stopConversion);
    page->addOverlay(stopButton, [this](QWidget *, const QRect &) { placeStopButton(); });
    // Placing an overlay shows it; the stop button only belongs to a running conversion.
    stopButton->hide();
}

void ViewerPageExport::stopConversion()
{
    converter.cancel();
    if (!converter.isStopping())
        return;
    // A photo being encoded cannot be interrupted: a large one takes seconds.
    page->flash(Texts::text("msg.convertStopping"), 3600);
    placeStopButton();
    if (stopButton)
        stopButton->setEnabled(false);
}

bool ViewerPageExport::holdClose(std::function<void()> closeAgain)
{
    if (!converter.isRunning())
        return false;
    if (converter.isStopping()) {
        closeWhenStopped = std::move(closeAgain);
        return true;
    }
    if (closeQuestion) {
        closeQuestion->raise();
        closeQuestion->activateWindow();
        return true;
    }
    // Closing would stop the conversion half-way without a word: ask first.
    auto *question = new QMessageBox(
        QMessageBox::Question, QGuiApplication::applicationDisplayName(),
        Texts::format("msg.convertCloseQuestion", {QString::number(converter.handled()), QString::number(converter.total())}),
        QMessageBox::NoButton, page->window());
    question->setInformativeText(Texts::text("msg.convertCloseNote"));
    question->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *stop = question->addButton(Texts::text("alert.stopAndClose"), QMessageBox::DestructiveRole);
    question->setDefaultButton(question->addButton(Texts::text("alert.keepConverting"), QMessageBox::RejectRole));
    connect(question, &QMessageBox::buttonClicked, this, [this, stop, closeAgain = std::move(closeAgain)](QAbstractButton *button) {
        if (button != stop)
            return;
        if (!converter.isRunning()) {
            QTimer::singleShot(0, this, closeAgain);
            return;
        }
        closeWhenStopped = closeAgain;
        stopConversion();
    });
    closeQuestion = question;
    question->open();
    return true;
}

ViewerPageExport::~ViewerPageExport()
{
    converter.cancel();
    exportQueue.waitForDone();
}

bool ViewerPageExport::isProcessing() const
{
    return exporting || converter.isRunning() || (page->edits() && page->edits()->edits.isProcessing());
}

// ---- Export

void ViewerPageExport::exportAs()
{
    const std::optional<QString> photo = page->currentPhotoPath();
    if (!photo || exportSavePanel)
        return;
    exportPhoto = *photo;
    exportTurns = page->imageView()->quarterTurns();
    const QFileInfo info(exportPhoto);

    auto *panel = new ExportSavePanel(page->window(), Texts::text("exp.title"), info.absolutePath(),
                                      [this](const QString &typed) {
                                          return Export::savedPath(typed, selectedFormat(exportFormatPopup));
                                      },
                                      [this](const QString &target) {
                                          return Export::isThePhotoItself(exportPhoto, target);
                                      });
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setWindowModality(Qt::WindowModal);
    panel->selectFile(Export::proposedName(exportPhoto, Encoder::Format::jpeg));
    exportSavePanel = panel;

    auto *accessory = new QWidget(panel);
    accessory->setFixedWidth(280);
    auto *column = new QVBoxLayout(accessory);
    column->setContentsMargins(0, 4, 0, 4);
    auto *message = new QLabel(Texts::text("exp.message"), accessory);
    message->setWordWrap(true); // the column is narrow; the explanation must not be cut off
    message->setTextFormat(Qt::PlainText);
    // The file dialog's grid gives the row only a line's height unless told.
    message->setMinimumHeight(message->heightForWidth(accessory->width()));
    column->addWidget(message);
    exportFormatPopup = formatPopup(accessory);
    column->addWidget(exportFormatPopup);
    exportQualityLabel = smallLabel(Texts::format("exp.quality", {QString::number(Encoder::defaultQuality)}), accessory);
    column->addWidget(exportQualityLabel);
    exportQualitySlider = qualitySlider(accessory);
    column->addWidget(exportQualitySlider);
    exportQualityLabel->setBuddy(exportQualitySlider);
    exportEstimateLabel = smallLabel(Texts::text("exp.estimating"), accessory);
    // A caption in the secondary colour: readable, unlike the greyed-out text
    // of a control that is off.
    QPalette captionPalette = exportEstimateLabel->palette();
    captionPalette.setColor(QPalette::WindowText, OverlayStyle::secondaryColor());
    exportEstimateLabel->setPalette(captionPalette);
    column->addWidget(exportEstimateLabel);
    if (auto *grid = qobject_cast<QGridLayout *>(panel->layout()))
        grid->addWidget(accessory, grid->rowCount(), 0, 1, -1);
    else if (panel->layout())
        panel->layout()->addWidget(accessory);

    connect(exportFormatPopup, &QComboBox::currentIndexChanged, this, [this] { exportFormatChanged(); });
    connect(exportQualitySlider, &QSlider::valueChanged, this, [this] { exportQualityChanged(); });
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString &path) { saveExport(path); });
    connect(panel, &QDialog::finished, this, [this] { releaseSheet(); });

    exportFormatChanged();
    fitFileDialog(panel, page->window());
    panel->open();
}

void ViewerPageExport::exportFormatChanged()
{
    if (!exportSavePanel)
        return;
    const Encoder::FormatInfo &f = Encoder::info(selectedFormat(exportFormatPopup));
    const QString extension = QString::fromLatin1(f.extension);
    exportSavePanel->setNameFilter(QStringLiteral("%1 (*.%2)").arg(QLatin1String(f.title), extension));
    exportSavePanel->setDefaultSuffix(extension);
    if (auto *name = exportSavePanel->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
        if (!name->text().isEmpty())
            name->setText(Export::withExtension(name->text(), f.format));
    }
    // PNG has no quality: the slider and its figure are greyed out together.
    if (exportQualitySlider)
        exportQualitySlider->setEnabled(f.format != Encoder::Format::png);
    if (exportQualityLabel)
        exportQualityLabel->setEnabled(f.format != Encoder::Format::png);
    estimate();
}

void ViewerPageExport::exportQualityChanged()
{
    if (exportQualityLabel && exportQualitySlider)
        exportQualityLabel->setText(Texts::format("exp.quality", {QString::number(exportQualitySlider->value())}));
    estimate();
}

void ViewerPageExport::estimate()
{
    if (!exportSavePanel)
        return;
    estimator.request({exportPhoto, exportTurns, selectedFormat(exportFormatPopup),
                       exportQualitySlider ? exportQualitySlider->value() : Encoder::defaultQuality});
}

void ViewerPageExport::saveExport(const QString &chosen)
{
    if (chosen.isEmpty())
        return;
    if (isProcessing()) {
        page->flash(Texts::text("msg.fileOpBusy"), 3.0);
        return;
    }
    const Encoder::Format format = selectedFormat(exportFormatPopup);
    const int quality = exportQualitySlider ? exportQualitySlider->value() : Encoder::defaultQuality;
    const QString destination = Export::savedPath(chosen, format);
    const QString photo = exportPhoto;
    const int turns = exportTurns;

    exporting = true;
    page->flash(Texts::text("msg.exporting"), 3600);
    QPointer<ViewerPageExport> self(this);
    HandOff::start(exportQueue, [self, photo, turns, format, quality, destination] {
        const Export::Result result = Export::write(photo, turns, format, quality, destination, &Trash::system());
        HandOff::invoke(
            self.data(),
            [self, result, destination] {
                if (!self)
                    return;
                self->exporting = false;
                const QString name = QFileInfo(destination).fileName();
                if (result.succeeded) {
                    QString text = Texts::format("msg.exported", {name, Texts::byteCount(result.sourceBytes),
                                                                  Texts::byteCount(result.writtenBytes)});
                    if (result.replacedKept)
                        text += QStringLiteral("  ·  ") + Texts::text("msg.exportReplacedKept");
                    else if (!result.replacedLostReason.isEmpty())
                        text += QStringLiteral("  ·  ")
                                + Texts::format("msg.exportReplacedLost", {result.replacedLostReason});
                    self->page->flash(text, 4.0);
                } else {
                    const QString failedText = Texts::format("msg.exportFailed", {name});
                    self->page->flash(result.reason.isEmpty() ? failedText : failedText + QStringLiteral(" (%1)").arg(result.reason), 4.0);
                }
            },
            Qt::QueuedConnection);
    });
}

void ViewerPageExport::releaseSheet()
{
    estimator.cancel();
    exportSavePanel = nullptr;
    exportFormatPopup = nullptr;
    exportQualitySlider = nullptr;
    exportQualityLabel = nullptr;
    exportEstimateLabel = nullptr;
}

// ---- Batch convert

void ViewerPageExport::batchConvert()
{
    if (batchDialog)
        return;
    if (isProcessing()) {
        page->flash(Texts::text("msg.fileOpBusy"), 3.0);
        return;
    }
    const int count = int(page->controller()->folderModel().photoItems().size());
    if (count == 0)
        return;

    auto *dialog = new QDialog(page->window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(Texts::text("bc.title"));
    batchDialog = dialog;
    connect(dialog, &QDialog::finished, this, [this] { batchDialog = nullptr; });
    auto *column = new QVBoxLayout(dialog);
    auto *title = new QLabel(Texts::text("bc.title"), dialog);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    column->addWidget(title);
    auto *info = new QLabel(Texts::format("bc.info", {QString::number(count)}), dialog);
    info->setWordWrap(true);
    column->addWidget(info);

    auto *accessory = new QWidget(dialog);
    accessory->setFixedWidth(240);
    auto *controls = new QVBoxLayout(accessory);
    controls->setContentsMargins(0, 0, 0, 0);
    batchFormatPopup = formatPopup(accessory);
    controls->addWidget(batchFormatPopup);
    batchQualitySlider = qualitySlider(accessory);
    controls->addWidget(batchQualitySlider);
    qualityLabel = smallLabel(Texts::format("bc.quality", {QString::number(Encoder::defaultQuality)}), accessory);
    controls->addWidget(qualityLabel);
    qualityLabel->setBuddy(batchQualitySlider);
    column->addWidget(accessory);

    auto *buttons = new QDialogButtonBox(dialog);
    QPushButton *start = buttons->addButton(Texts::text("bc.start"), QDialogButtonBox::AcceptRole);
    buttons->addButton(Texts::text("alert.cancel"), QDialogButtonBox::RejectRole);
    start->setDefault(true);
    start->setAutoDefault(true);
    column->addWidget(buttons);

    connect(batchFormatPopup, &QComboBox::currentIndexChanged, this, [this](int index) {
        const bool hasQuality = Encoder::formatOfIndex(index) != Encoder::Format::png;
        if (batchQualitySlider)
            batchQualitySlider->setEnabled(hasQuality);
        if (qualityLabel)
            qualityLabel->setEnabled(hasQuality);
    });
    connect(batchQualitySlider, &QSlider::valueChanged, this, [this](int value) {
        if (qualityLabel)
            qualityLabel->setText(Texts::format("bc.quality", {QString::number(value)}));
    });
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(dialog, &QDialog::accepted, this, [this] {
        startConversion(batchFormatPopup ? batchFormatPopup->currentIndex() : 0,
                        batchQualitySlider ? batchQualitySlider->value() : Encoder::defaultQuality);
    });
    dialog->open();
    start->setFocus(Qt::OtherFocusReason);
}

void ViewerPageExport::startConversion(int formatIndex, int quality)
{
    const std::optional<Encoder::Format> format = Encoder::formatOfIndex(formatIndex);
    if (!format || !Encoder::canEncode(*format))
        return;
    // A rotation save may have started while the dialog was open.
    if (isProcessing()) {
        page->flash(Texts::text("msg.fileOpBusy"), 3.0);
        return;
    }
    const FolderModel &model = page->controller()->folderModel();
    QStringList photos;
    for (const ImageItem &item : model.photoItems())
        photos << item.url;
    if (photos.isEmpty())
        return;
    const std::optional<ImageItem> current = model.current();
    const QString folder = QFileInfo(current ? current->url : photos.first()).absolutePath();
    if (!converter.start(photos, folder, *format, quality))
        return;
    page->flash(Texts::format("msg.converting", {QStringLiteral("0"), QString::number(photos.size())}), 3600);
    if (stopButton) {
        stopButton->setEnabled(true);
        placeStopButton();
        stopButton->show();
        stopButton->raise();
    }
}

void ViewerPageExport::placeStopButton()
{
    // Under the message bubble that counts the photos, lined up with its left
    // edge: the button belongs to that count. The bubble's height follows its
    // message, so this runs again with every new count.
    if (!stopButton)
        return;
    const QRect bubble = page->hudGeometry();
    stopButton->setGeometry(QRect(QPoint(bubble.left(), bubble.bottom() + 1 + 6), stopButton->sizeHint()));
}
