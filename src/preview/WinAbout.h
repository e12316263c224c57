#pragma once

#include <QDialog>
#include <QLabel>

class QPushButton;

// A link label: underlined, blue, red while the pointer is over it, hand cursor; a click
// opens the address through the shell services.
class TUrlLabel : public QLabel {
    Q_OBJECT
public:
    explicit TUrlLabel(QWidget* parent = nullptr);
    void setUrl(const QString& url);
    const QString& url() const { return url_; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void paintWith(const QColor& color);
    QString url_;
};

// The about box: program name and version, and the web-site link.
class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    QLabel* img1 = nullptr;
    QLabel* lblAppNameVer = nullptr;
    TUrlLabel* lblUrl = nullptr;
    QPushButton* btn1 = nullptr;

    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;
};
