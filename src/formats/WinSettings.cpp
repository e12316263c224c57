#include "formats/WinSettings.h"

#include "formats/FormatChooser.h"
#include "formats/IniFile.h"
#include "formats/OptionsPanel.h"
#include "widgets/ThemeManager.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>

using vorlin::formats::IniFile;

namespace {
const QString kSettingsSection = QStringLiteral("settings");
}

TfrmSettings::TfrmSettings(std::function<QString()> settingsFile,
                           std::function<QString()> formatFile, QWidget* parent)
    : QDialog(parent), settingsFile_(std::move(settingsFile)), formatFile_(std::move(formatFile)) {
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    setModal(true);

    lblFormat = new QLabel(QStringLiteral("Output Format:"), this);
    lblFormat->setGeometry(12, 15, 90, 22);
    edt1 = new QLineEdit(this);
    edt1->setObjectName(QStringLiteral("edt1"));
    edt1->setGeometry(104, 15, 359, 22);
    edt1->setReadOnly(true);
    edt1->setCursor(Qt::ArrowCursor);
    edt1->setFocusPolicy(Qt::ClickFocus);
    edt1->setTextMargins(4, 0, 20, 0);
    imgbtn1 = new QToolButton(this);
    imgbtn1->setObjectName(QStringLiteral("imgbtn1"));
    imgbtn1->setArrowType(Qt::DownArrow);
    imgbtn1->setGeometry(104 + 359 - 19, 17, 17, 18);
    imgbtn1->setFocusPolicy(Qt::NoFocus);
    lst1 = new vorlin::formats::TFormatList(this);
    Chooser = new vorlin::formats::TFormatChooser(vorlin::formats::ChooserHost::SettingsDialog,
                                                  edt1, imgbtn1, lst1, settingsFile_, this);
    connect(edt1, &QLineEdit::textChanged, this, &TfrmSettings::edt1Change);

    Panel = new vorlin::formats::TOptionsPanel(this, settingsFile_, formatFile_);
    Panel->grpbxVideo->setGeometry(10, 48, 222, 268);
    Panel->grpbxAudio->setGeometry(242, 48, 222, 268);

    btnDefault = new QPushButton(QStringLiteral("&Default"), this);
    btnDefault->setObjectName(QStringLiteral("btnDefault"));
    btnDefault->setGeometry(10, 328, 84, 28);
    btnOk = new QPushButton(QStringLiteral("&Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(288, 328, 84, 28);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(380, 328, 84, 28);
    // Enter in a typed field must not press a button behind the user's back.
    for (QPushButton* b : {btnDefault, btnOk, btnCancel})
        b->setAutoDefault(false);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmSettings::btnDefaultClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmSettings::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmSettings::btnCancelClick);
    lst1->raise();
}

QString TfrmSettings::CurFormatName() const {
    return Chooser->CurFormatName;
}

QString TfrmSettings::CurFormatCode() const {
    return Chooser->CurFormatCode;
}

void TfrmSettings::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmSettings::FormShow() {
    setFixedSize(kWidth, kHeight);
    vorlin::widgets::ThemeManager::applyMainTheme(this);
    showing_ = true;
    Chooser->BuildFormatList();
    const IniFile settings(settingsFile_());
    Chooser->CurFormatCode =
        settings.readString(kSettingsSection, QStringLiteral("FormatCode"), QStringLiteral("1"));
    Chooser->CurFormatName = settings.readString(kSettingsSection, QStringLiteral("FormatName"),
                                                 QStringLiteral("iPod Video MPEG-4"));
    Panel->LoadOptionLists(Chooser->CurFormatCode);
    Panel->RestoreOnShow(Chooser->CurFormatCode);
    showing_ = false;
}

void TfrmSettings::edt1Change() {
    if (showing_)
        return;
    Panel->LoadOptionLists(Chooser->CurFormatCode);
    Panel->RestoreOnSwitch(Chooser->CurFormatCode);
}

void TfrmSettings::btnOkClick() {
    IniFile settings(settingsFile_());
    vorlin::formats::WriteFormatSettings(settings, IniFile(formatFile_()), Chooser->CurFormatCode,
                                         Chooser->CurFormatName, Panel->Shown());
    Chooser->SaveGroupStates();
    settings.writeString(kSettingsSection, QStringLiteral("FormatName"), Chooser->CurFormatName);
    settings.writeString(kSettingsSection, QStringLiteral("FormatCode"), Chooser->CurFormatCode);
    emit formatCommitted();
    accept();
}

void TfrmSettings::btnCancelClick() {
    reject();
}

void TfrmSettings::btnDefaultClick() {
    Panel->ApplyProfileDefaults(Chooser->CurFormatCode);
}
