#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace vorlin::formats {
class TFormatChooser;
class TFormatList;
class TOptionsPanel;
} // namespace vorlin::formats

// The settings dialog: a format chooser picks the format to edit, the options panel shows
// its values. Ok writes the whole section of that format and makes it the current output
// format; Cancel and the close button write nothing.
class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 475;
    static constexpr int kHeight = 370;

    TfrmSettings(std::function<QString()> settingsFile, std::function<QString()> formatFile,
                 QWidget* parent = nullptr);

    QLabel* lblFormat = nullptr;
    QLineEdit* edt1 = nullptr;
    QToolButton* imgbtn1 = nullptr;
    vorlin::formats::TFormatList* lst1 = nullptr;
    vorlin::formats::TFormatChooser* Chooser = nullptr;
    vorlin::formats::TOptionsPanel* Panel = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

    // The format being edited.
    QString CurFormatName() const;
    QString CurFormatCode() const;

    void FormShow();
    void btnOkClick();
    void btnCancelClick();
    void btnDefaultClick();
    // The field's text changed: another format was chosen, so the panel follows it.
    void edt1Change();

signals:
    // Ok stored a new current format; the main window rebuilds its chooser.
    void formatCommitted();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<QString()> settingsFile_;
    std::function<QString()> formatFile_;
    bool showing_ = false;
};
