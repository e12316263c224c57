// The main window's format chooser, the settings dialog's three entry points and the
// output folder field with its Brows and Open buttons.
#include "app/GlobalUnit.h"
#include "app/WinMain.h"

#include "formats/FormatChooser.h"
#include "formats/IniFile.h"
#include "formats/OutputFolder.h"
#include "formats/WinDirectory.h"
#include "formats/WinSettings.h"
#include "platform/Platform.h"
#include "platform/Shell.h"
#include "widgets/Dialogs.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

using vorlin::formats::IniFile;

namespace {

const QString kSettings = QStringLiteral("settings");

QString settingsFile() {
    return GlobalObj ? GlobalObj->SettingsFile() : QString();
}

QString formatFile() {
    return GlobalObj ? GlobalObj->FormatFile() : QString();
}

} // namespace

void TfrmMain::connectFormats() {
    FormatChooser = new vorlin::formats::TFormatChooser(
        vorlin::formats::ChooserHost::MainWindow, edt1, imgbtn1,
        static_cast<vorlin::formats::TFormatList*>(lst1), settingsFile, this);
    connect(FormatChooser, &vorlin::formats::TFormatChooser::formatChosen, this,
            [this](const QString& name, int code) {
                FormatName = name;
                FormatCode = QString::number(code);
            });
    edDirectory->setReadOnly(true);
    edDirectory->setStyleSheet(QStringLiteral("QLineEdit { background: rgb(246, 247, 248); }"));
    connect(btnOptions, &QPushButton::clicked, this, &TfrmMain::btnOptionsClick);
    connect(btnSettings, &QToolButton::clicked, this, &TfrmMain::btnSettingsClick);
    connect(Settings1, &QAction::triggered, this, &TfrmMain::Settings1Click);
    connect(btnBrows, &QPushButton::clicked, this, &TfrmMain::btnBrowsClick);
    connect(btnOpen, &QPushButton::clicked, this, &TfrmMain::btnOpenClick);
    connect(edDirectory, &QLineEdit::textChanged, this, &TfrmMain::edDirectoryChange);
}

void TfrmMain::btnOptionsClick() {
    btnSettingsClick();
}

void TfrmMain::Settings1Click() {
    btnSettingsClick();
}

void TfrmMain::btnSettingsClick() {
    if (!GlobalObj)
        return;
    FormatChooser->SaveGroupStates();
    if (!frmSettings) {
        frmSettings = new TfrmSettings(settingsFile, formatFile, this);
        connect(frmSettings, &TfrmSettings::formatCommitted, this, [this] {
            // The dialog stored a new current format and the category states.
            FormatChooser->BuildFormatList();
            const IniFile settings(settingsFile());
            FormatCode = settings.readString(kSettings, QStringLiteral("FormatCode"), "1");
            FormatName = settings.readString(kSettings, QStringLiteral("FormatName"),
                                             QStringLiteral("iPod Video MPEG-4"));
        });
    }
    frmSettings->exec();
}

void TfrmMain::btnBrowsClick() {
    if (!GlobalObj)
        return;
    if (!fmDirectory)
        fmDirectory = new TfmDirectory(this);
    fmDirectory->exec();
    vorlin::formats::OutputFolderRules rules = vorlin::formats::systemFolderRules();
    rules.canWriteTo = [](const QString& folder) {
        return GlobalObj->CanWriteTo(folder);
    };
    rules.userName = GlobalObj->CurrentUserName();
    const vorlin::formats::OutputFolderChoice choice =
        vorlin::formats::ResolveChosenFolder(fmDirectory->SelectedDir, edDirectory->text(), rules);
    if (!choice.message.isEmpty())
        vorlin::widgets::dialogs().message(this, QStringLiteral("Warning"), choice.message,
                                           vorlin::widgets::MessageIcon::Warning);
    if (choice.folder.isEmpty())
        return;
    IniFile(settingsFile()).writeString(kSettings, QStringLiteral("OutPutDir"), choice.folder);
    OutputFolder = choice.folder;
    edDirectory->setText(choice.folder);
}

void TfrmMain::btnOpenClick() {
    if (!GlobalObj)
        return;
    const QString folder = IniFile(settingsFile())
                               .readString(kSettings, QStringLiteral("OutPutDir"),
                                           vorlin::platform::defaultOutputFolder());
    if (edDirectory->text().length() > 2)
        vorlin::platform::shell().openFolder(folder);
}

void TfrmMain::edDirectoryChange() {
    if (!GlobalObj)
        return;
    OutputFolder = edDirectory->text();
    IniFile(settingsFile()).writeString(kSettings, QStringLiteral("OutPutDir"), OutputFolder);
}
