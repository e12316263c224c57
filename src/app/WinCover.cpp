#include "app/WinCover.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTimer>

TfrmCover::TfrmCover(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("frmCover");
    imgCover = new QLabel(this);
    imgCover->setObjectName("imgCover");
    tmr1 = new QTimer(this);
    tmr1->setObjectName("tmr1");
    tmr1->setInterval(1000);
    connect(tmr1, &QTimer::timeout, this, &TfrmCover::tmr1Timer);
    FormCreate();
}

QPixmap TfrmCover::builtInPicture() {
    QPixmap picture(399, 239);
    QPainter p(&picture);
    QLinearGradient g(0, 0, 0, 239);
    g.setColorAt(0, QColor(40, 70, 136));
    g.setColorAt(1, QColor(120, 160, 226));
    p.fillRect(picture.rect(), g);
    p.setRenderHint(QPainter::Antialiasing);
    // A film strip across the picture.
    p.fillRect(QRect(0, 150, 399, 44), QColor(20, 20, 28));
    p.setBrush(QColor(230, 230, 236));
    p.setPen(Qt::NoPen);
    for (int x = 6; x < 399; x += 18) {
        p.drawRect(x, 153, 9, 6);
        p.drawRect(x, 185, 9, 6);
    }
    p.setPen(Qt::white);
    QFont title = p.font();
    title.setPixelSize(26);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(0, 38, 399, 40), Qt::AlignCenter, "Vorlin");
    title.setPixelSize(17);
    p.setFont(title);
    p.drawText(QRect(0, 80, 399, 30), Qt::AlignCenter, "MOV to MP4 Converter");
    QFont small = p.font();
    small.setPixelSize(11);
    small.setBold(false);
    p.setFont(small);
    p.drawText(QRect(0, 205, 399, 24), Qt::AlignCenter, "Loading...");
    return picture;
}

QString TfrmCover::coverFilePath() {
    return QApplication::applicationDirPath() + "/skin/movmp4cover.jpg";
}

void TfrmCover::FormCreate() {
    QPixmap picture;
    if (!QFileInfo::exists(coverFilePath()) || !picture.load(coverFilePath()))
        picture = builtInPicture();
    imgCover->setPixmap(picture);
}

void TfrmCover::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FormShow();
}

void TfrmCover::FormShow() {
    const QSize size = imgCover->pixmap().size();
    imgCover->setGeometry(0, 0, size.width(), size.height());
    resize(size);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    tmr1->start();
}

void TfrmCover::tmr1Timer() {
    if (mainWindow_ && mainWindow_->isVisible()) {
        tmr1->stop();
        close();
    }
}
