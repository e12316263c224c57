#pragma once

#include <QDialog>
#include <QImage>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;
class TFFmpegVCL;

// The modal dialog of a conversion run. Showing it starts the converter; it shows the
// running task's time, length, size, number and file, a live preview of the converted
// frames, and offers Pause, Resume and Cancel and the two after-conversion choices.
class TfrmProgress : public QDialog {
    Q_OBJECT
public:
    // previewFrame: the main window's latest preview frame, read every 100 ms.
    TfrmProgress(TFFmpegVCL* converter, const QImage* previewFrame, QWidget* parent = nullptr);

    static constexpr QRgb kSkyBlue = 0xffa6caf0; // (166, 202, 240)

    QLabel* imgPreview = nullptr;
    QLabel* lbl1 = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lbl2 = nullptr;
    QLabel* lblLength = nullptr;
    QLabel* lbl3 = nullptr;
    QLabel* lblSize = nullptr;
    QLabel* lbl4 = nullptr;
    QLabel* lblProgress = nullptr;
    QLabel* lbl5 = nullptr;
    QLabel* lblOutput = nullptr;
    QProgressBar* progbarFile = nullptr;
    QCheckBox* ckShutDown = nullptr;
    QCheckBox* ckOpen = nullptr;
    QPushButton* btnPause = nullptr;
    QPushButton* btnResume = nullptr;
    QPushButton* btnCancel = nullptr;
    QToolButton* imgbtnSnap = nullptr;
    QTimer* Timer1 = nullptr;

    void FormShow();
    void btnPauseClick();
    void btnResumeClick();
    void btnCancelClick();
    void FormCloseQuery();
    void Timer1Timer();

    // The picture the preview shows now.
    QImage previewPicture() const { return canvas_; }

signals:
    // The main window mirrors these on its own Pause and Resume buttons.
    void pausedByUser();
    void resumedByUser();
    void snapshotRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override; // Escape closes like Cancel

private:
    void clearPreview();

    TFFmpegVCL* converter_;
    const QImage* previewFrame_;
    QImage canvas_;
};
