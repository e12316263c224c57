// The preview box of the main window.
#include "app/WinMain.h"

#include <QSlider>
#include <QToolButton>

void TfrmMain::imgbtnStopClick() {
    PreviewStopped = true;
    PreviewPaused = false;
    imgbtnPlay->setEnabled(true);
    imgbtnPAuse->setEnabled(false);
    imgbtnStop->setEnabled(false);
    imgbtnSnap->setEnabled(false);
    trcPreview->setEnabled(false);
}
