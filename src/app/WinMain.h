#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QToolButton;
class TfrmAbout;
struct TlvFilesRecord;
class TfrmProgress;
class TJobListView;
class TFFmpegVCL;
struct PProgressInfo;
struct TTerminateInfo;
struct TPreviewInfo;
struct PHookInfo;

namespace vorlin::widgets {
class ThemeManager;
}
namespace vorlin::effects {
class FrameCompositor;
}
namespace vorlin::formats {
class TFormatChooser;
}
class TfrmSettings;
class TfmDirectory;

// The main window: job list, format and folder fields, preview box, menus and tool buttons.
// This file holds the window's life cycle (creation, showing, closing) and the application
// events; the job list, the run, the chooser and the preview live in their own files.
class TfrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    static constexpr int kWidth = 786;
    static constexpr int kHeight = 480;
    // Height of the main menu bar, the tool buttons' reference line.
    static constexpr int kBarWidth = 26;

    // Top of the seven tool buttons for a title bar of the given height (0 when hidden).
    static int ToolButtonTop(int titleBarHeight, int formTop, int barWidth);

    // Menus
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QMenu* Edit2 = nullptr;
    QMenu* Tools1 = nullptr;
    QMenu* Skin1 = nullptr;
    QMenu* Help1 = nullptr;
    QMenu* suiPopupMenu1 = nullptr;
    QAction* Edit1 = nullptr; // File > &Add
    QAction* Remove1 = nullptr;
    QAction* Clear1 = nullptr;
    QAction* Settings1 = nullptr;
    QAction* Start1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* Crop1 = nullptr;
    QAction* Trim1 = nullptr;
    QAction* WaterMark1 = nullptr;
    QAction* CheckAll1 = nullptr;
    QAction* UncheckAll1 = nullptr;
    QAction* ReserveCheck1 = nullptr;
    QAction* Check1 = nullptr;
    QAction* Uncheck1 = nullptr;
    QAction* Preference1 = nullptr;
    std::array<QAction*, 7> SkinItems{}; // Skin11 ... Skin71
    QAction* HelpItem = nullptr;
    QAction* WebSite1 = nullptr;
    QAction* Support1 = nullptr;
    QAction* About1 = nullptr;
    QAction* AddFiles1 = nullptr; // pop-up
    QAction* PopRemove = nullptr;
    QAction* PopClear = nullptr;
    QAction* PopStart = nullptr;
    QAction* PopCrop = nullptr;
    QAction* PopTrim = nullptr;
    QAction* WaterMark2 = nullptr;
    QAction* VideoInfo1 = nullptr;

    // Tool buttons
    QToolButton* btnAdd = nullptr;
    QToolButton* btnRemove = nullptr;
    QToolButton* btnClear = nullptr;
    QToolButton* BtnEdit = nullptr;
    QToolButton* btnStart = nullptr;
    QToolButton* btnExit = nullptr;
    QToolButton* btnSettings = nullptr;

    // Job list and converter
    TJobListView* lvFiles = nullptr;
    TFFmpegVCL* CCAVC = nullptr;
    TfrmProgress* frmProgress = nullptr; // created by the first run

    // Preview box
    QGroupBox* suiGroupBox1 = nullptr;
    QWidget* pan1 = nullptr;
    QSlider* trcPreview = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblPTS = nullptr;
    QToolButton* imgbtnPlay = nullptr;
    QToolButton* imgbtnPAuse = nullptr;
    QToolButton* imgbtnStop = nullptr;
    QToolButton* imgbtnSnap = nullptr;
    QCheckBox* ckMute = nullptr;
    QSlider* trcVolume = nullptr;

    // Format chooser and output folder
    QLabel* lblFormat = nullptr;
    QLineEdit* edt1 = nullptr;
    QToolButton* imgbtn1 = nullptr;
    QListWidget* lst1 = nullptr;
    QPushButton* btnOptions = nullptr;
    QComboBox* cbOutputFormat = nullptr;
    QLabel* lblFolder = nullptr;
    QLineEdit* edDirectory = nullptr;
    QPushButton* btnBrows = nullptr;
    QPushButton* btnOpen = nullptr;
    QPushButton* SpeedButton1 = nullptr;
    vorlin::formats::TFormatChooser* FormatChooser = nullptr; // edt1, imgbtn1, lst1
    TfrmSettings* frmSettings = nullptr;                      // created on first opening
    TfmDirectory* fmDirectory = nullptr;                      // created by the first Brows

    // Hidden
    QPlainTextEdit* mmoLog = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnPause = nullptr;
    QPushButton* btnResume = nullptr;

    vorlin::widgets::ThemeManager* suiFileTheme1 = nullptr;

    // State
    QImage PreviewFrame;
    bool PlayAfterAdd = false;
    bool PreviewPaused = false;
    bool PreviewStopped = true;
    std::vector<int> TaskRows; // converter task index -> job list row
    QString FormatCode;
    QString FormatName;
    QString OutputFolder;
    QString SnapshotFolder;

    // Life cycle
    void FormCreate();
    void FormShow();
    // The close question; true when the window may close (and everything was released).
    bool FormCloseQuery();

    // Application events
    void ApplicationEvents1Message(QObject* watched, QEvent* event);
    void ApplicationEvents1Deactivate();

    // Job list (WinMainJobs.cpp)
    void btnAddClick();
    // Adds files as chosen in the open dialog or dropped on the list.
    void AddFiles(const QStringList& files);
    void btnRemoveClick();
    void btnClearClick();
    void CheckAll1Click();
    void UncheckAll1Click();
    void ReserveCheck1Click();
    void Check1Click();
    void Uncheck1Click();
    void Edit2Click();
    void suiPopupMenu1Popup();
    void lvFilesMouseDown(const QPoint& globalPos);
    void BtnEditClick();

    // Conversion run (WinMainRun.cpp)
    void btnStartClick();
    void CCAVCProgress(const PProgressInfo& info);
    void CCAVCTerminate(const TTerminateInfo& info);
    void CCAVCPreviewBitmap(const TPreviewInfo& info);
    // Effects and watermarks of the task's row on every frame; runs on the converter's thread.
    void CCAVCCustomHook(PHookInfo& info);
    void btnStopClick();
    void btnPauseClick();
    void btnResumeClick();
    void ShutDownComputer();
    // Opens the output folder in the file manager, as the Open button does.
    void OpenOutputFolder();

    // Settings dialog and output folder (WinMainFormats.cpp)
    void btnOptionsClick();
    void btnSettingsClick();
    void Settings1Click();
    void btnBrowsClick();
    void btnOpenClick();
    void edDirectoryChange();

    // Preview player (stopped before a run or when the list empties).
    void imgbtnStopClick();

    // Skins, help and about
    void Skin1Click();
    void SkinClick(int index); // Skin11Click ... Skin71Click
    void Help2Click();
    void WebSite1Click();
    void Support1Click();
    void About1Click();

    // Web addresses of the product's own site.
    static QString SupportURL();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createMenus();
    void createControls();
    void placeToolButtons();
    void readSettingsAtShow();
    QString checkedFolder(const QString& key);
    void buildListColumns();
    void loadMediaLibraries();
    void connectJobList();
    void connectRun();
    void connectFormats();
    bool IsLastTask(int taskIndex) const;

    TfrmAbout* frmAbout_ = nullptr;
    // Draws the rows' effects and watermarks for CCAVCCustomHook.
    std::unique_ptr<vorlin::effects::FrameCompositor> compositor_;
    // The record of each task of the current run, by task index, for the hook's thread.
    std::vector<const TlvFilesRecord*> taskRecords_;
    bool closeConfirmed_ = false;
};
