#include "app/VorlinApplication.h"
#include "app/WinCover.h"
#include "app/WinMain.h"

#include <QStyleFactory>

int main(int argc, char** argv) {
    VorlinApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));

    // The splash is painted before anything slow happens.
    TfrmCover cover;
    cover.show();
    QApplication::processEvents();

    QApplication::setApplicationDisplayName("Vorlin Video Converter");
    TfrmMain frmMain; // its FormCreate sets the title to the product title
    cover.setMainWindow(&frmMain);
    frmMain.show();
    return app.exec();
}
