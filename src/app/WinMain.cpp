#include "app/WinMain.h"

#include "app/AppException.h"
#include "app/GlobalUnit.h"
#include "app/VorlinApplication.h"
#include "effects/FrameCompositing.h"
#include "formats/DeliveredFiles.h"
#include "formats/FormatChooser.h"
#include "formats/IniFile.h"
#include "jobs/JobListView.h"
#include "jobs/WinProgress.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegVCL.h"
#include "platform/Platform.h"
#include "platform/Shell.h"
#include "preview/WinAbout.h"
#include "widgets/Dialogs.h"
#include "widgets/ThemeManager.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

using vorlin::formats::IniFile;

namespace {

const QString kSettings = QStringLiteral("settings");
const QString kHelpUrl = QStringLiteral("https://www.vorlinsoft.com/movmp4/help.htm");
const QString kWebSiteUrl = QStringLiteral("https://www.vorlinsoft.com/");

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

} // namespace

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent) {
    setObjectName("frmMain");
    setWindowIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    suiFileTheme1 = new vorlin::widgets::ThemeManager(this);
    suiFileTheme1->setObjectName("suiFileTheme1");
    vorlin::widgets::ThemeManager::setMainTheme(suiFileTheme1);
    createControls();
    createMenus();
    connectJobList();
    connectRun();
    connectFormats();
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s != Qt::ApplicationActive)
            ApplicationEvents1Deactivate();
    });
    FormCreate();
}

TfrmMain::~TfrmMain() {
    qApp->removeEventFilter(this);
    // The compositor goes before the converter: no frame may reach it any more.
    if (CCAVC)
        CCAVC->OnCustomHook = nullptr;
    if (vorlin::widgets::ThemeManager::mainTheme() == suiFileTheme1)
        vorlin::widgets::ThemeManager::setMainTheme(nullptr);
}

int TfrmMain::ToolButtonTop(int titleBarHeight, int formTop, int barWidth) {
    const int titleBar = titleBarHeight > 0 ? titleBarHeight + 3 : 0;
    return titleBar + formTop + barWidth + 4;
}

QString TfrmMain::SupportURL() {
    return kWebSiteUrl + "support.htm";
}

void TfrmMain::createControls() {
    // Tool buttons: icon above text, one common top set by placeToolButtons().
    const auto toolButton = [this](const char* name, const QString& text,
                                   QStyle::StandardPixmap icon) {
        auto* b = named(new QToolButton(this), name);
        b->setText(text);
        b->setIcon(style()->standardIcon(icon));
        b->setIconSize(QSize(24, 24));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setFixedSize(62, 48);
        b->setAutoRaise(true);
        return b;
    };
    btnAdd = toolButton("btnAdd", "&Add", QStyle::SP_FileDialogNewFolder);
    btnRemove = toolButton("btnRemove", "&Remove", QStyle::SP_DialogDiscardButton);
    btnClear = toolButton("btnClear", "&Clear", QStyle::SP_DialogResetButton);
    BtnEdit = toolButton("BtnEdit", "&Edit", QStyle::SP_FileDialogDetailedView);
    btnStart = toolButton("btnStart", "&Start", QStyle::SP_MediaPlay);
    btnExit = toolButton("btnExit", "E&xit", QStyle::SP_DialogCloseButton);
    btnSettings = toolButton("btnSettings", "&Settings", QStyle::SP_FileDialogContentsView);
    btnRemove->setEnabled(false);
    btnClear->setEnabled(false);
    btnStart->setEnabled(false);
    connect(btnExit, &QToolButton::clicked, this, &QWidget::close);

    lvFiles = new TJobListView(this);
    lvFiles->setGeometry(8, 84, 498, 286);
    CCAVC = new TFFmpegVCL(this);
    CCAVC->setObjectName("CCAVC");
    CCAVC->SetPreviewBitmap(true);

    suiGroupBox1 = named(new QGroupBox("Preview", this), "suiGroupBox1");
    suiGroupBox1->setGeometry(514, 78, 264, 292);
    pan1 = named(new QWidget(suiGroupBox1), "pan1");
    pan1->setGeometry(4, 20, 256, 183);
    pan1->setAutoFillBackground(true);
    QPalette gray = pan1->palette();
    gray.setColor(QPalette::Window, Qt::gray);
    pan1->setPalette(gray);
    trcPreview = named(new QSlider(Qt::Horizontal, suiGroupBox1), "trcPreview");
    trcPreview->setGeometry(4, 210, 213, 20);
    trcPreview->setTickPosition(QSlider::NoTicks);
    lblTime = named(new QLabel("00:00:00", suiGroupBox1), "lblTime");
    lblTime->setGeometry(6, 232, 60, 16);
    lblPTS = named(new QLabel("00:00:00", suiGroupBox1), "lblPTS");
    lblPTS->setGeometry(196, 232, 60, 16);
    lblPTS->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const auto mediaButton = [this](const char* name, const QString& hint,
                                    QStyle::StandardPixmap icon, int x) {
        auto* b = named(new QToolButton(suiGroupBox1), name);
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(hint);
        b->setAutoRaise(true);
        b->setGeometry(x, 258, 24, 24);
        return b;
    };
    imgbtnPlay = mediaButton("imgbtnPlay", "play", QStyle::SP_MediaPlay, 4);
    imgbtnPAuse = mediaButton("imgbtnPAuse", "pause", QStyle::SP_MediaPause, 30);
    imgbtnStop = mediaButton("imgbtnStop", "stop", QStyle::SP_MediaStop, 56);
    imgbtnSnap = mediaButton("imgbtnSnap", "capture image", QStyle::SP_DesktopIcon, 82);
    ckMute = named(new QCheckBox("Mute", suiGroupBox1), "ckMute");
    ckMute->setGeometry(112, 260, 52, 20);
    trcVolume = named(new QSlider(Qt::Horizontal, suiGroupBox1), "trcVolume");
    trcVolume->setGeometry(166, 260, 92, 20);
    trcVolume->setRange(0, 128);
    trcVolume->setPageStep(2);
    trcVolume->setSingleStep(1);

    lblFormat = named(new QLabel("Output Format:", this), "lblFormat");
    lblFormat->setGeometry(8, 390, 90, 20);
    edt1 = named(new QLineEdit(this), "edt1");
    edt1->setGeometry(100, 388, 384, 22);
    edt1->setReadOnly(true);
    edt1->setCursor(Qt::ArrowCursor);
    edt1->setTextMargins(4, 2, 20, 0);
    edt1->setStyleSheet("background: rgb(246, 247, 248);");
    imgbtn1 = named(new QToolButton(this), "imgbtn1");
    imgbtn1->setArrowType(Qt::DownArrow);
    imgbtn1->setGeometry(100 + 384 - 19, 390, 17, 18);
    lst1 = new vorlin::formats::TFormatList(this);
    lst1->setVisible(false);
    btnOptions = named(new QPushButton("Settings", this), "btnOptions");
    btnOptions->setGeometry(490, 387, 76, 24);
    cbOutputFormat = named(new QComboBox(this), "cbOutputFormat");
    cbOutputFormat->setVisible(false);

    lblFolder = named(new QLabel("Output Folder:", this), "lblFolder");
    lblFolder->setGeometry(8, 424, 90, 20);
    edDirectory = named(new QLineEdit(this), "edDirectory");
    edDirectory->setGeometry(100, 422, 384, 22);
    btnBrows = named(new QPushButton("&Brows", this), "btnBrows");
    btnBrows->setGeometry(490, 421, 76, 24);
    btnOpen = named(new QPushButton("&Open", this), "btnOpen");
    btnOpen->setGeometry(572, 421, 62, 24);

    SpeedButton1 = named(new QPushButton("&Start", this), "SpeedButton1");
    SpeedButton1->setGeometry(646, 386, 132, 60);
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));

    mmoLog = named(new QPlainTextEdit(this), "mmoLog");
    mmoLog->setReadOnly(true);
    mmoLog->setVisible(false);
    btnStop = named(new QPushButton("Stop", this), "btnStop");
    btnStop->setVisible(false);
    btnPause = named(new QPushButton("Pause", this), "btnPause");
    btnPause->setVisible(false);
    btnResume = named(new QPushButton("Resume", this), "btnResume");
    btnResume->setVisible(false);
}

void TfrmMain::createMenus() {
    MainMenu1 = named(new QMenuBar(this), "MainMenu1");
    MainMenu1->setGeometry(0, 0, kWidth, kBarWidth - 2);

    File1 = named(MainMenu1->addMenu("&File"), "File1");
    Edit1 = File1->addAction("&Add");
    Remove1 = File1->addAction("&Remove");
    Clear1 = File1->addAction("&Clear");
    File1->addSeparator();
    Settings1 = File1->addAction("Se&ttings");
    Start1 = File1->addAction("&Start");
    File1->addSeparator();
    Exit1 = File1->addAction("&Exit");
    connect(Exit1, &QAction::triggered, this, &QWidget::close);

    Edit2 = named(MainMenu1->addMenu("&Edit"), "Edit2");
    Crop1 = Edit2->addAction("&Crop");
    Trim1 = Edit2->addAction("&Trim");
    WaterMark1 = Edit2->addAction("&Video Effect && Water Mark");
    WaterMark1->setVisible(false);
    Edit2->addSeparator();
    CheckAll1 = Edit2->addAction("&Check All");
    UncheckAll1 = Edit2->addAction("&Uncheck All");
    ReserveCheck1 = Edit2->addAction("&Reverse Check");
    Check1 = Edit2->addAction("C&heck");
    Uncheck1 = Edit2->addAction("U&ncheck");

    Tools1 = named(MainMenu1->addMenu("&Tools"), "Tools1");
    Preference1 = Tools1->addAction("&Preference");
    Skin1 = named(Tools1->addMenu("&Skin"), "Skin1");
    for (int i = 0; i < vorlin::widgets::kSkinCount; ++i) {
        QAction* item = Skin1->addAction(vorlin::widgets::skinColors(i)->name);
        item->setObjectName(QString("Skin%1").arg(i + 1) + "1");
        item->setCheckable(true);
        // Qt toggles a checkable item before reporting the click; undo that so the handler
        // sees the state the user clicked on.
        connect(item, &QAction::triggered, this, [this, item, i](bool checked) {
            item->setChecked(!checked);
            SkinClick(i);
        });
        SkinItems[static_cast<size_t>(i)] = item;
    }
    connect(Skin1, &QMenu::aboutToShow, this, &TfrmMain::Skin1Click);

    Help1 = named(MainMenu1->addMenu("&Help"), "Help1");
    HelpItem = Help1->addAction("&Help");
    WebSite1 = Help1->addAction("&Web Site");
    Support1 = Help1->addAction("&Support and Contact");
    Help1->addSeparator();
    About1 = Help1->addAction("&About");
    connect(HelpItem, &QAction::triggered, this, &TfrmMain::Help2Click);
    connect(WebSite1, &QAction::triggered, this, &TfrmMain::WebSite1Click);
    connect(Support1, &QAction::triggered, this, &TfrmMain::Support1Click);
    connect(About1, &QAction::triggered, this, &TfrmMain::About1Click);

    suiPopupMenu1 = named(new QMenu(this), "suiPopupMenu1");
    AddFiles1 = suiPopupMenu1->addAction("Add");
    PopRemove = suiPopupMenu1->addAction("Remove");
    PopClear = suiPopupMenu1->addAction("Clear");
    suiPopupMenu1->addSeparator();
    PopCrop = suiPopupMenu1->addAction("&Crop");
    PopTrim = suiPopupMenu1->addAction("&Trim");
    WaterMark2 = suiPopupMenu1->addAction("&Video Effect && Water Mark");
    WaterMark2->setVisible(false);
    VideoInfo1 = suiPopupMenu1->addAction("Video Infomation");
    suiPopupMenu1->addSeparator();
    PopStart = suiPopupMenu1->addAction("Start");
}

void TfrmMain::placeToolButtons() {
    // Native title bars are outside the client area, so the skinned title bar counts as hidden.
    const int top = ToolButtonTop(0, 0, kBarWidth);
    QToolButton* buttons[] = {btnAdd, BtnEdit, btnRemove, btnClear, btnSettings, btnStart, btnExit};
    int x = 8;
    for (QToolButton* b : buttons) {
        b->move(x, top);
        x += b->width() + 4;
    }
}

void TfrmMain::FormCreate() {
    GlobalObj = std::make_unique<TGlobalObject>();
    const QString dataFolder = GlobalObj->SpecialFolder(vorlin::platform::kCommonAppDataFolder);
    GlobalObj->SetSettingsFile(dataFolder + "vorlinmovmp4converter.ini");
    GlobalObj->SetFormatFile(dataFolder + "vorlinmovmp4format.ini");
    GlobalObj->SetProductTitle("Vorlin MOV to MP4 Converter");
    GlobalObj->SetVersionText(" ver 1.10 ");
    GlobalObj->SetHelpURL(kHelpUrl);
    GlobalObj->SetWebSiteURL(kWebSiteUrl);
    QApplication::setApplicationDisplayName(GlobalObj->ProductTitle());

    // The delivered profile and a first settings file, when they are not there yet.
    QString installError;
    if (!vorlin::formats::installDeliveredFiles(GlobalObj->SettingsFile(), GlobalObj->FormatFile(),
                                                &installError))
        mmoLog->appendPlainText(installError);

    const int skin = IniFile(GlobalObj->SettingsFile()).readInteger(kSettings, "skinIndex", 0);
    suiFileTheme1->setTheme(skin); // out-of-range values keep the design theme
    suiFileTheme1->applyTo(this);
    lvFiles->setThemeIndex(suiFileTheme1->theme());

    VorlinApplication::setExceptionHandler(
        [this](QObject*, std::exception_ptr error) { AppException(this, error); });

    loadMediaLibraries();
}

void TfrmMain::loadMediaLibraries() {
    if (TFFmpegLoader::FFmpegLibrariesLoaded())
        return;
    const QString folder = QApplication::applicationDirPath() + "/LibAV";
    if (!TFFmpegLoader::LoadFFmpegLibraries(folder))
        mmoLog->appendPlainText(TFFmpegLoader::LoaderLastError());
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmMain::FormShow() {
    setFixedSize(kWidth, kHeight);
    MainMenu1->setGeometry(0, 0, kWidth, kBarWidth - 2);
    imgbtnPlay->setEnabled(true);
    imgbtnPAuse->setEnabled(false);
    imgbtnStop->setEnabled(false);
    imgbtnSnap->setEnabled(false);
    trcPreview->setEnabled(false);
    PlayAfterAdd = false;
    PreviewStopped = true;
    PreviewPaused = false;
    placeToolButtons();
    PreviewFrame = QImage();
    cbOutputFormat->clear();
    if (GlobalObj)
        readSettingsAtShow();
    buildListColumns();
    if (GlobalObj) {
        GlobalObj->SetVersionText(GlobalObj->FileVersionText());
        setWindowTitle(GlobalObj->ProductTitle() + GlobalObj->VersionText());
        FormatChooser->BuildFormatList();
    }
}

void TfrmMain::readSettingsAtShow() {
    IniFile ini(GlobalObj->SettingsFile());
    cbOutputFormat->setCurrentIndex(ini.readInteger(kSettings, "OutPutFormat", 0));
    OutputFolder = checkedFolder("OutPutDir");
    SnapshotFolder = checkedFolder("SnapOutPutDir");
    edDirectory->setText(OutputFolder);
    QPalette light = edDirectory->palette();
    light.setColor(QPalette::Base, palette().color(QPalette::Light));
    edDirectory->setPalette(light);
    FormatCode = ini.readString(kSettings, "FormatCode", "1");
    FormatName = ini.readString(kSettings, "FormatName", "iPod Video MPEG-4");

    const int volume = ini.readInteger(kSettings, "volume", 0);
    trcVolume->setValue(volume < 0 || volume > 128 ? 64 : volume);
    const int mute = ini.readInteger(kSettings, "mute", 0);
    if (mute == 1)
        ckMute->setChecked(true);
    else if (mute == 0)
        ckMute->setChecked(false);
}

QString TfrmMain::checkedFolder(const QString& key) {
    IniFile ini(GlobalObj->SettingsFile());
    QString folder = ini.readString(kSettings, key, vorlin::platform::defaultOutputFolder());
    if (!GlobalObj->CanWriteTo(folder)) {
        folder = vorlin::platform::defaultOutputFolder();
        ini.writeString(kSettings, key, folder);
    }
    return folder;
}

void TfrmMain::buildListColumns() {
    lvFiles->BuildColumns();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (closeConfirmed_ || FormCloseQuery()) {
        event->accept();
        return;
    }
    event->ignore();
}

bool TfrmMain::FormCloseQuery() {
    if (!vorlin::widgets::dialogs().ask(this, "Warning", "Do you really want to exit?"))
        return false;
    FormatChooser->SaveGroupStates();
    // No late progress or termination notice may reach a window on its way out.
    CCAVC->OnCustomHook = nullptr;
    disconnect(CCAVC, &TFFmpegVCL::OnProgress, this, nullptr);
    disconnect(CCAVC, &TFFmpegVCL::OnTerminate, this, nullptr);
    CCAVC->StopAll(true);
    imgbtnStopClick();
    PreviewFrame = QImage();
    TaskRows.clear();
    GlobalObj.reset();
    closeConfirmed_ = true;
    return true;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    ApplicationEvents1Message(watched, event);
    return false; // never marked as handled
}

void TfrmMain::ApplicationEvents1Message(QObject* watched, QEvent* event) {
    if (!watched->isWidgetType())
        return;
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove)
        return;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    QWidget* control = QApplication::widgetAt(mouse->globalPosition().toPoint());
    if (!control)
        control = static_cast<QWidget*>(watched);
    const QString name = control->objectName();
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        if (!vorlin::formats::isChooserControlName(name) && lst1->isVisible())
            lst1->hide();
    }
    if (name.compare("edt1", Qt::CaseInsensitive) == 0)
        edt1->setCursorPosition(0);
}

void TfrmMain::ApplicationEvents1Deactivate() {
    if (lst1->isVisible())
        lst1->hide();
}

void TfrmMain::Skin1Click() {
    if (!GlobalObj)
        return;
    const int index = IniFile(GlobalObj->SettingsFile()).readInteger(kSettings, "skinIndex", 0);
    if (index >= 0 && index < vorlin::widgets::kSkinCount)
        SkinItems[static_cast<size_t>(index)]->setChecked(true);
}

void TfrmMain::SkinClick(int index) {
    QAction* item = SkinItems[static_cast<size_t>(index)];
    if (item->isChecked())
        return;
    hide();
    suiFileTheme1->setTheme(index);
    suiFileTheme1->applyTo(this);
    lvFiles->setThemeIndex(index);
    for (QAction* other : SkinItems)
        other->setChecked(other == item);
    show();
    if (GlobalObj)
        IniFile(GlobalObj->SettingsFile()).writeInteger(kSettings, "skinIndex", index);
}

void TfrmMain::Help2Click() {
    if (GlobalObj)
        vorlin::platform::shell().openUrl(GlobalObj->HelpURL());
}

void TfrmMain::WebSite1Click() {
    if (GlobalObj)
        vorlin::platform::shell().openUrl(GlobalObj->WebSiteURL());
}

void TfrmMain::Support1Click() {
    vorlin::platform::shell().openUrl(SupportURL());
}

void TfrmMain::About1Click() {
    if (!frmAbout_)
        frmAbout_ = new TfrmAbout(this);
    frmAbout_->exec();
}
