#pragma once

#include "fileops/BatchConvert.h"
#include "fileops/Export.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <functional>

class QComboBox;
class QDialog;
class QFileDialog;
class QLabel;
class QMessageBox;
class QPushButton;
class QSlider;
class ViewerPage;

// Connects export and batch convert to the viewer page: the export sheet with
// its format pop-up, quality slider and live size estimate, the batch dialog,
// the progress and summary messages in the bubble, and the button that stops a
// conversion. One file operation runs at a time per viewer, whichever command
// started it.
class ViewerPageExport : public QObject
{
    Q_OBJECT
public:
    explicit ViewerPageExport(ViewerPage *page);
    // Stops a conversion after its current files and waits for an export.
    ~ViewerPageExport() override;

    // The export command: opens the save sheet for the photo on screen.
    void exportAs();
    // The batch convert command: asks for format and quality, then converts the folder.
    void batchConvert();

    // An export or a conversion (or a rotation save) is running.
    bool isProcessing() const;

    // Closing the window while photos are being converted: true when the close
    // has to wait. The user is asked whether to stop; once the conversion has
    // stopped, closeAgain is called. False while no conversion runs.
    bool holdClose(std::function<void()> closeAgain);

    ExportEstimator estimator;
    BatchConvert converter;
    QThreadPool exportQueue;

    // The open sheet and its controls (null while none is open).
    QPointer<QFileDialog> exportSavePanel;
    QPointer<QComboBox> exportFormatPopup;
    QPointer<QSlider> exportQualitySlider;
    QPointer<QLabel> exportQualityLabel;
    QPointer<QLabel> exportEstimateLabel;
    // The open batch dialog and its controls.
    QPointer<QDialog> batchDialog;
    QPointer<QComboBox> batchFormatPopup;
    QPointer<QSlider> batchQualitySlider;
    QPointer<QLabel> qualityLabel;
    QPointer<QPushButton> stopButton;

private:
    void exportFormatChanged();
    void exportQualityChanged();
    void estimate();
    void saveExport(const QString &destination);
    void releaseSheet();
    void startConversion(int formatIndex, int quality);
    void stopConversion();
    void placeStopButton();

    ViewerPage *page;
    QString exportPhoto; // the photo the open sheet exports
    int exportTurns = 0;
    bool exporting = false;
    QPointer<QMessageBox> closeQuestion;
    std::function<void()> closeWhenStopped;
};
