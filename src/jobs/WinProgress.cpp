#include "jobs/WinProgress.h"

#include "jobs/FitRect.h"
#include "media/FFmpegVCL.h"
#include "widgets/ThemeManager.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y, int w) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setGeometry(x, y, w, 16);
    return l;
}

} // namespace

TfrmProgress::TfrmProgress(TFFmpegVCL* converter, const QImage* previewFrame, QWidget* parent)
    : QDialog(parent), converter_(converter), previewFrame_(previewFrame) {
    setObjectName("suiFrmProgress");
    setWindowTitle("Progress");
    setModal(true);
    setMaximumSize(420, 460);

    imgPreview = new QLabel(this);
    imgPreview->setObjectName("imgPreview");
    imgPreview->setGeometry(18, 37, 372, 210);
    canvas_ = QImage(372, 210, QImage::Format_RGB32);

    lbl1 = label(this, "lbl1", "Current Time:", 18, 258, 90);
    lblTime = label(this, "lblTime", "", 110, 258, 90);
    lbl2 = label(this, "lbl2", "Length:", 210, 258, 70);
    lblLength = label(this, "lblLength", "", 282, 258, 108);
    lbl3 = label(this, "lbl3", "File Size:", 18, 278, 90);
    lblSize = label(this, "lblSize", "", 110, 278, 90);
    lbl4 = label(this, "lbl4", "Progress:", 210, 278, 70);
    lblProgress = label(this, "lblProgress", "", 282, 278, 108);
    lbl5 = label(this, "lbl5", "File:", 18, 298, 40);
    lblOutput = label(this, "lblOutput", "", 60, 300, 283);
    lblOutput->setFixedSize(283, 13);

    progbarFile = new QProgressBar(this);
    progbarFile->setObjectName("progbarFile");
    progbarFile->setGeometry(18, 322, 370, 12);
    progbarFile->setRange(0, 100);
    progbarFile->setTextVisible(true);
    QFont small = progbarFile->font();
    small.setPixelSize(9);
    progbarFile->setFont(small);

    ckShutDown = new QCheckBox("Shut down computer after conversion", this);
    ckShutDown->setObjectName("ckShutDown");
    ckShutDown->setGeometry(18, 346, 300, 20);
    ckOpen = new QCheckBox("Open the output folder after conversion", this);
    ckOpen->setObjectName("ckOpen");
    ckOpen->setGeometry(18, 368, 300, 20);

    const auto button = [this](const char* name, const QString& text, int x) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setGeometry(x, 406, 80, 27);
        b->setAutoDefault(false);
        return b;
    };
    btnPause = button("btnPause", "Pause", 18);
    btnResume = button("btnResume", "Resume", 106);
    btnCancel = button("btnCancel", "Cancel", 310);
    imgbtnSnap = new QToolButton(this);
    imgbtnSnap->setObjectName("imgbtnSnap");
    imgbtnSnap->setToolTip("Save snapshot picture");
    imgbtnSnap->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    imgbtnSnap->setGeometry(270, 407, 28, 26);
    connect(btnPause, &QPushButton::clicked, this, &TfrmProgress::btnPauseClick);
    connect(btnResume, &QPushButton::clicked, this, &TfrmProgress::btnResumeClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmProgress::btnCancelClick);
    connect(imgbtnSnap, &QToolButton::clicked, this, &TfrmProgress::snapshotRequested);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TfrmProgress::Timer1Timer);
}

void TfrmProgress::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmProgress::FormShow() {
    setFixedSize(408, 453);
    vorlin::widgets::ThemeManager::applyMainTheme(this);
    for (QLabel* l : {lblTime, lblSize, lblLength, lblProgress, lblOutput})
        l->clear();
    ckOpen->setChecked(true);
    btnPause->setEnabled(true);
    btnResume->setEnabled(false);
    clearPreview();
    Timer1->start();
    progbarFile->setRange(0, 100);
    progbarFile->setValue(0);
    if (converter_)
        converter_->StartTask(1);
}

void TfrmProgress::clearPreview() {
    canvas_.fill(QColor::fromRgb(kSkyBlue));
    imgPreview->setPixmap(QPixmap::fromImage(canvas_));
}

void TfrmProgress::btnPauseClick() {
    if (converter_)
        converter_->PauseAll();
    btnPause->setEnabled(false);
    btnResume->setEnabled(true);
    emit pausedByUser();
}

void TfrmProgress::btnResumeClick() {
    if (converter_)
        converter_->ResumeAll();
    btnPause->setEnabled(true);
    btnResume->setEnabled(false);
    emit resumedByUser();
}

void TfrmProgress::btnCancelClick() {
    close();
}

void TfrmProgress::reject() {
    close();
}

void TfrmProgress::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void TfrmProgress::FormCloseQuery() {
    if (converter_)
        converter_->StopAll(true);
    Timer1->stop();
}

void TfrmProgress::Timer1Timer() {
    if (!previewFrame_ || previewFrame_->width() <= 0 || previewFrame_->height() <= 0)
        return;
    canvas_.fill(QColor::fromRgb(kSkyBlue));
    QPainter painter(&canvas_);
    vorlin::jobs::DrawFitted(painter, canvas_.rect(), *previewFrame_);
    painter.end();
    imgPreview->setPixmap(QPixmap::fromImage(canvas_));
}
