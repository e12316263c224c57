// The job list of the main window: adding, removing, clearing, check marks and the menus
// that act on the selected row.
#include "app/GlobalUnit.h"
#include "app/WinMain.h"

#include "formats/IniFile.h"
#include "formats/OutputName.h"
#include "jobs/JobListView.h"
#include "media/FFmpegVCL.h"
#include "widgets/Dialogs.h"
#include "widgets/ThemeManager.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QToolButton>

using vorlin::formats::IniFile;

void TfrmMain::connectJobList() {
    connect(btnAdd, &QToolButton::clicked, this, &TfrmMain::btnAddClick);
    connect(Edit1, &QAction::triggered, this, &TfrmMain::btnAddClick);
    connect(AddFiles1, &QAction::triggered, this, &TfrmMain::btnAddClick);
    connect(btnRemove, &QToolButton::clicked, this, &TfrmMain::btnRemoveClick);
    connect(Remove1, &QAction::triggered, this, &TfrmMain::btnRemoveClick);
    connect(PopRemove, &QAction::triggered, this, &TfrmMain::btnRemoveClick);
    connect(btnClear, &QToolButton::clicked, this, &TfrmMain::btnClearClick);
    connect(Clear1, &QAction::triggered, this, &TfrmMain::btnClearClick);
    connect(PopClear, &QAction::triggered, this, &TfrmMain::btnClearClick);
    connect(CheckAll1, &QAction::triggered, this, &TfrmMain::CheckAll1Click);
    connect(UncheckAll1, &QAction::triggered, this, &TfrmMain::UncheckAll1Click);
    connect(ReserveCheck1, &QAction::triggered, this, &TfrmMain::ReserveCheck1Click);
    connect(Check1, &QAction::triggered, this, &TfrmMain::Check1Click);
    connect(Uncheck1, &QAction::triggered, this, &TfrmMain::Uncheck1Click);
    connect(Edit2, &QMenu::aboutToShow, this, &TfrmMain::Edit2Click);
    connect(suiPopupMenu1, &QMenu::aboutToShow, this, &TfrmMain::suiPopupMenu1Popup);
    connect(BtnEdit, &QToolButton::clicked, this, &TfrmMain::BtnEditClick);
    connect(lvFiles, &TJobListView::rightButtonPressed, this, &TfrmMain::lvFilesMouseDown);
    connect(lvFiles, &TJobListView::filesDropped, this, &TfrmMain::AddFiles);
}

void TfrmMain::btnAddClick() {
    if (!CCAVC->LoadFFmpegLibraries(QApplication::applicationDirPath() + "/LibAV"))
        return;
    const QStringList files = vorlin::widgets::dialogs().chooseFiles(
        this, "Open", QString(), "Quick Time files (*.mov,*.qt)|*.mov;*.qt");
    if (files.isEmpty())
        return;
    AddFiles(files);
}

void TfrmMain::AddFiles(const QStringList& files) {
    if (!GlobalObj || !CCAVC->LoadFFmpegLibraries())
        return;
    CCAVC->ClearTasks();
    const int formatCode =
        IniFile(GlobalObj->SettingsFile()).readInteger("settings", "FormatCode", 1);
    const QString section = vorlin::formats::formatSection(formatCode);
    const QString ext = IniFile(GlobalObj->FormatFile()).readString(section, "FileExt", "mp4");
    const QString zoom = IniFile(GlobalObj->SettingsFile()).readString(section, "parazoom", "lbox");

    for (const QString& file : files) {
        const QFileInfo info(file);
        if (!info.exists() || info.isDir() || !info.isReadable())
            continue;
        bool duplicate = false;
        for (int i = 0; i < lvFiles->rowCount() && !duplicate; ++i)
            duplicate = lvFiles->row(i)->text(0) == file;
        if (duplicate)
            continue;
        const QString destination =
            vorlin::formats::MakeOutputName(GlobalObj->SettingsFile(), file, "_ipod." + ext);
        TInputOptions input;
        input.InputFileName = file;
        const int task = CCAVC->AddTask(file, input);
        if (task < 0)
            continue;
        btnStart->setEnabled(true);
        const TAVProbe* probe = CCAVC->InputProbe(task);
        const QString seconds =
            QString::number(probe ? probe->ProbeFileInfo().Duration / 1000000 : 0);

        TlvFilesRecord record;
        record.SourceFile = file;
        record.ZoomMode = zoom;
        if (!lvFiles->HasColumns())
            lvFiles->BuildColumns();
        auto* row = new TJobItem(std::move(record));
        row->setText(1, seconds);
        row->setText(2, seconds);
        row->setText(3, QFileInfo(destination).fileName());
        row->setText(4, QString());
        lvFiles->addTopLevelItem(row);
        btnClear->setEnabled(true);
        btnRemove->setEnabled(true);
        CCAVC->RemoveTask(task);
        CCAVC->ClearTasks();
        lvFiles->selectRow(0);
    }
    lvFiles->viewport()->update();
}

void TfrmMain::btnRemoveClick() {
    const int index = lvFiles->selectedIndex();
    if (index < 0)
        return;
    delete lvFiles->takeTopLevelItem(index); // the row's record goes with it
    if (lvFiles->rowCount() == 0) {
        lvFiles->RemoveColumns();
        imgbtnStopClick();
    } else {
        lvFiles->selectRow(std::min(index, lvFiles->rowCount() - 1));
    }
    lvFiles->viewport()->update();
}

void TfrmMain::btnClearClick() {
    if (lvFiles->rowCount() == 0)
        return;
    CCAVC->ClearTasks();
    lvFiles->clear();
    lvFiles->RemoveColumns();
    imgbtnStopClick();
}

void TfrmMain::CheckAll1Click() {
    for (int i = 0; i < lvFiles->rowCount(); ++i)
        lvFiles->row(i)->setChecked(true);
}

void TfrmMain::UncheckAll1Click() {
    for (int i = 0; i < lvFiles->rowCount(); ++i)
        lvFiles->row(i)->setChecked(false);
}

void TfrmMain::ReserveCheck1Click() {
    for (int i = 0; i < lvFiles->rowCount(); ++i)
        lvFiles->row(i)->setChecked(!lvFiles->row(i)->checked());
}

void TfrmMain::Check1Click() {
    if (TJobItem* row = lvFiles->selectedRow())
        row->setChecked(true);
}

void TfrmMain::Uncheck1Click() {
    if (TJobItem* row = lvFiles->selectedRow())
        row->setChecked(false);
}

void TfrmMain::Edit2Click() {
    WaterMark1->setVisible(true);
    const bool onRow = lvFiles->rowCount() > 0 && lvFiles->selectedRow();
    for (QAction* item :
         {Crop1, Trim1, WaterMark1, CheckAll1, UncheckAll1, ReserveCheck1, Check1, Uncheck1})
        item->setEnabled(onRow);
}

void TfrmMain::suiPopupMenu1Popup() {
    WaterMark2->setVisible(true);
    const bool onRow = lvFiles->rowCount() > 0 && lvFiles->selectedRow();
    for (QAction* item : {PopCrop, PopTrim, WaterMark2, VideoInfo1, PopRemove, PopClear, PopStart})
        item->setEnabled(onRow);
    AddFiles1->setEnabled(true);
}

void TfrmMain::lvFilesMouseDown(const QPoint& globalPos) {
    suiPopupMenu1->popup(globalPos);
}

void TfrmMain::BtnEditClick() {
    vorlin::widgets::ThemeManager::applyMainTheme(suiPopupMenu1);
    suiPopupMenu1->popup(BtnEdit->mapToGlobal(QPoint(0, BtnEdit->height())));
}
