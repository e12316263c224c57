// The conversion run of the main window: Start, the converter's notices, the hidden
// Stop/Pause/Resume buttons and the after-conversion actions.
#include "app/GlobalUnit.h"
#include "app/WinMain.h"

#include "effects/FrameCompositing.h"
#include "formats/IniFile.h"
#include "jobs/ConversionRun.h"
#include "jobs/JobListView.h"
#include "jobs/WinProgress.h"
#include "media/FFmpegVCL.h"
#include "platform/Shell.h"
#include "widgets/Dialogs.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

using vorlin::formats::IniFile;

void TfrmMain::connectRun() {
    connect(btnStart, &QToolButton::clicked, this, &TfrmMain::btnStartClick);
    connect(SpeedButton1, &QPushButton::clicked, this, &TfrmMain::btnStartClick);
    connect(Start1, &QAction::triggered, this, &TfrmMain::btnStartClick);
    connect(PopStart, &QAction::triggered, this, &TfrmMain::btnStartClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmMain::btnStopClick);
    connect(btnPause, &QPushButton::clicked, this, &TfrmMain::btnPauseClick);
    connect(btnResume, &QPushButton::clicked, this, &TfrmMain::btnResumeClick);
    connect(CCAVC, &TFFmpegVCL::OnProgress, this, &TfrmMain::CCAVCProgress);
    connect(CCAVC, &TFFmpegVCL::OnTerminate, this, &TfrmMain::CCAVCTerminate);
    connect(CCAVC, &TFFmpegVCL::OnPreviewBitmap, this, &TfrmMain::CCAVCPreviewBitmap);

    // The hook runs on the converter's thread and reads the records taken at Start (never
    // the list widget itself); the modal progress dialog keeps them unchanged while tasks
    // run. Failures reach the log memo on the GUI thread.
    compositor_ = std::make_unique<vorlin::effects::FrameCompositor>(
        [this](int task) -> const TlvFilesRecord* {
            if (task < 0 || task >= int(taskRecords_.size()))
                return nullptr;
            return taskRecords_[size_t(task)];
        },
        [this](const QString& line) {
            QMetaObject::invokeMethod(
                mmoLog, [this, line] { mmoLog->appendPlainText(line); }, Qt::QueuedConnection);
        });
    CCAVC->OnCustomHook = [this](PHookInfo& info) {
        CCAVCCustomHook(info);
    };
}

void TfrmMain::CCAVCCustomHook(PHookInfo& info) {
    compositor_->CCAVCCustomHook(info);
}

void TfrmMain::btnStartClick() {
    if (!GlobalObj)
        return;
    const IniFile settings(GlobalObj->SettingsFile());
    if (const auto priority =
            vorlin::jobs::PriorityFromSetting(settings.readInteger("settings", "priority", 1)))
        CCAVC->SetThreadPriority(*priority);
    if (lvFiles->checkedCount() == 0) {
        vorlin::widgets::dialogs().message(this, "Warning",
                                           "Please select a file by clicking the check box!",
                                           vorlin::widgets::MessageIcon::None);
        return;
    }
    imgbtnStopClick();
    // Pictures are read again for every run: they may have changed since the last one.
    compositor_->Reset();
    std::vector<vorlin::jobs::RunJob> jobs;
    for (int i = 0; i < lvFiles->rowCount(); ++i) {
        if (lvFiles->row(i)->checked())
            jobs.push_back({i, &lvFiles->row(i)->Record});
    }
    const auto run = vorlin::jobs::PrepareTasks(
        *CCAVC, jobs, {GlobalObj->SettingsFile(), GlobalObj->FormatFile()});
    TaskRows = run.taskRows;
    taskRecords_.clear();
    for (int row : TaskRows)
        taskRecords_.push_back(&lvFiles->row(row)->Record);
    if (!run.skipped.isEmpty())
        vorlin::widgets::dialogs().warn(this, "Warning",
                                        "These files cannot be opened and are skipped:\n" +
                                            run.skipped.join('\n'));
    if (TaskRows.empty())
        return;

    for (QToolButton* b : {btnAdd, btnRemove, btnClear, btnStart})
        b->setEnabled(false);
    btnStop->setEnabled(true);
    btnPause->setEnabled(true);
    btnResume->setEnabled(false);
    if (!frmProgress) {
        frmProgress = new TfrmProgress(CCAVC, &PreviewFrame, this);
        connect(frmProgress, &TfrmProgress::pausedByUser, this, [this] {
            btnPause->setEnabled(false);
            btnResume->setEnabled(true);
        });
        connect(frmProgress, &TfrmProgress::resumedByUser, this, [this] {
            btnPause->setEnabled(true);
            btnResume->setEnabled(false);
        });
    }
    frmProgress->exec();
}

void TfrmMain::CCAVCProgress(const PProgressInfo& info) {
    if (info.TaskIndex < 0 || info.TaskIndex >= int(TaskRows.size()))
        return;
    TJobItem* row = lvFiles->row(TaskRows[size_t(info.TaskIndex)]);
    if (!row)
        return;
    const int64_t percent = vorlin::jobs::ProgressPercent(info.CurrentDuration, info.TotalDuration);
    if (frmProgress) {
        frmProgress->progbarFile->setValue(int(percent));
        frmProgress->lblTime->setText(QString::number(info.CurrentDuration / 1000000) + " Second");
        frmProgress->lblLength->setText(QString::number(info.TotalDuration / 1000000) + " Second");
        frmProgress->lblSize->setText(QString::number(info.CurrentSize / 1000) + " kb");
        frmProgress->lblProgress->setText(
            QString("[%1/%2]").arg(info.TaskIndex + 1).arg(CCAVC->TaskCount()));
        frmProgress->lblOutput->setText(vorlin::jobs::OutputLabelText(row->text(0)));
    }
    row->setText(4, QString::number(percent) + "%");
}

void TfrmMain::CCAVCPreviewBitmap(const TPreviewInfo& info) {
    if (info.Bitmap.width() > 0 && info.Bitmap.height() > 0)
        PreviewFrame = info.Bitmap;
}

bool TfrmMain::IsLastTask(int taskIndex) const {
    // Every task belongs to one checked row; rows skipped at Start have no task.
    return taskIndex + 1 == int(TaskRows.size());
}

void TfrmMain::CCAVCTerminate(const TTerminateInfo& info) {
    if (info.TaskIndex < 0) {
        for (QToolButton* b : {btnAdd, btnRemove, btnClear, btnStart})
            b->setEnabled(true);
        for (QPushButton* b : {btnStop, btnPause, btnResume})
            b->setEnabled(false);
        CCAVC->ClearTasks();
        taskRecords_.clear();
        if (frmProgress && frmProgress->isVisible())
            frmProgress->close();
        return;
    }
    if (info.TaskIndex >= int(TaskRows.size()))
        return;
    TJobItem* row = lvFiles->row(TaskRows[size_t(info.TaskIndex)]);
    if (!info.Finished) {
        // The row keeps its percentage; the reason goes where the user can look it up.
        if (info.Exception && row)
            mmoLog->appendPlainText(row->text(0) + ": " + info.ExceptionMsg);
        return;
    }
    if (row)
        row->setText(4, "100%");
    if (frmProgress)
        frmProgress->progbarFile->setValue(100);
    if (!IsLastTask(info.TaskIndex) || !frmProgress)
        return;
    if (frmProgress->ckOpen->isChecked())
        OpenOutputFolder();
    if (frmProgress->ckShutDown->isChecked())
        ShutDownComputer();
}

void TfrmMain::OpenOutputFolder() {
    btnOpenClick();
}

void TfrmMain::ShutDownComputer() {
    vorlin::platform::shell().shutDown();
}

void TfrmMain::btnStopClick() {
    btnStop->setEnabled(false);
    btnAdd->setEnabled(true);
    for (QToolButton* b : {btnRemove, btnClear, btnStart})
        b->setEnabled(false);
    btnPause->setEnabled(false);
    btnResume->setEnabled(false);
    CCAVC->StopAll(true);
}

void TfrmMain::btnPauseClick() {
    btnPause->setEnabled(false);
    btnResume->setEnabled(true);
    CCAVC->PauseAll();
}

void TfrmMain::btnResumeClick() {
    btnPause->setEnabled(true);
    btnResume->setEnabled(false);
    CCAVC->ResumeAll();
}
