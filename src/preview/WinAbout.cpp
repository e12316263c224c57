#include "preview/WinAbout.h"

#include "app/GlobalUnit.h"
#include "platform/Shell.h"
#include "widgets/ThemeManager.h"

#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>

TUrlLabel::TUrlLabel(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    paintWith(Qt::blue);
}

void TUrlLabel::setUrl(const QString& url) {
    url_ = url;
    setText(url);
}

void TUrlLabel::paintWith(const QColor& color) {
    setStyleSheet(QString("color: %1;").arg(color.name()));
}

void TUrlLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    paintWith(Qt::red);
}

void TUrlLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    paintWith(Qt::blue);
}

void TUrlLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && !url_.isEmpty())
        vorlin::platform::shell().openUrl(url_);
}

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName("frmAbout");
    img1 = new QLabel(this);
    img1->setObjectName("img1");
    img1->setPixmap(style()->standardIcon(QStyle::SP_MediaPlay).pixmap(48, 48));
    img1->setGeometry(16, 20, 48, 48);
    lblAppNameVer = new QLabel(this);
    lblAppNameVer->setObjectName("lblAppNameVer");
    lblAppNameVer->setGeometry(76, 24, 300 - 60, 40);
    lblAppNameVer->setWordWrap(true);
    QFont bold = lblAppNameVer->font();
    bold.setBold(true);
    lblAppNameVer->setFont(bold);
    lblUrl = new TUrlLabel(this);
    lblUrl->setObjectName("lblUrl");
    lblUrl->setGeometry(76, 76, 240, 20);
    btn1 = new QPushButton("&Ok", this);
    btn1->setObjectName("btn1");
    btn1->setGeometry(127, 128, 76, 26);
    btn1->setDefault(true);
    connect(btn1, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TfrmAbout::FormShow() {
    setFixedSize(330, 177);
    vorlin::widgets::ThemeManager::applyMainTheme(this);
    if (GlobalObj) {
        lblUrl->setUrl(GlobalObj->WebSiteURL());
        lblAppNameVer->setText(GlobalObj->ProductTitle() + GlobalObj->VersionText());
    }
    setWindowTitle("About");
}
