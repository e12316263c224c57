#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QLabel;
class QTimer;

// Splash window: shown and painted before anything slow happens, closed by its timer once
// the main window is showing.
class TfrmCover : public QWidget {
    Q_OBJECT
public:
    explicit TfrmCover(QWidget* parent = nullptr);

    // The window whose showing ends the splash.
    void setMainWindow(QWidget* mainWindow) { mainWindow_ = mainWindow; }

    QLabel* imgCover = nullptr;
    QTimer* tmr1 = nullptr;

    // The 399 x 239 built-in picture.
    static QPixmap builtInPicture();
    // The optional replacement picture: "skin/movmp4cover.jpg" beside the executable.
    static QString coverFilePath();

    // Closes the splash once the main window is showing.
    void tmr1Timer();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormShow();

    QPointer<QWidget> mainWindow_;
};
