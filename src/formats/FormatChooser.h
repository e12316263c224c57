#pragma once

#include "formats/FormatCatalog.h"

#include <QListWidget>
#include <QObject>
#include <QPixmap>
#include <QString>

#include <functional>

class QLineEdit;
class QToolButton;

namespace vorlin::formats {

// One row of a chooser list, carrying its row object.
class TFormatItem : public QListWidgetItem {
public:
    TFormatItem(const QString& text, const TItemInfo& info) : QListWidgetItem(text), Info(info) {}
    TItemInfo Info;
};

class TFormatChooser;

// The owner-drawn drop-down list `lst1` of a format chooser: fixed rows of 20 pixels, bold
// category rows with an expand/collapse glyph and an icon, navy format rows. Mouse events go
// to the chooser's handlers.
class TFormatList : public QListWidget {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 20;
    static constexpr int kGlyphColumn = 20; // a press left of this on a category row toggles it

    explicit TFormatList(QWidget* parent = nullptr);

    void setChooser(TFormatChooser* chooser) { chooser_ = chooser; }

    TFormatItem* row(int index) const;
    // The highlighted row; -1 when none is (Qt may keep a current row without selecting it).
    int selectedRow() const;
    // The row under a point of the viewport; -1 when there is none.
    int rowAt(const QPoint& point) const;

    // The chooser pictures: category icon n (20 x 20) and glyph 0 collapsed / 1 expanded.
    static QPixmap categoryIcon(int category);
    static QPixmap glyph(bool expanded);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    TFormatChooser* chooser_ = nullptr;
};

enum class ChooserHost { MainWindow, SettingsDialog };

// The format chooser: the read-only field `edt1`, the button `imgbtn1` and the list `lst1`.
// The main window's chooser makes a chosen format the current output format at once; the
// settings dialog's only changes the format the dialog edits (CurFormatName/CurFormatCode).
class TFormatChooser : public QObject {
    Q_OBJECT
public:
    static inline const QString kDefaultFieldName =
        QStringLiteral("Apple iPod Video MPEG-4 Movie (*.mp4)");

    // The chooser does not own the controls; they belong to the host window.
    TFormatChooser(ChooserHost host, QLineEdit* edt1, QToolButton* imgbtn1, TFormatList* lst1,
                   std::function<QString()> settingsFile, QObject* parent = nullptr);
    ~TFormatChooser() override;

    ChooserHost host() const { return host_; }
    QLineEdit* edt1() const { return edt1_; }
    QToolButton* imgbtn1() const { return imgbtn1_; }
    TFormatList* lst1() const { return lst1_; }

    // Fills the list from the catalogue and the stored category states, shows the stored
    // format name in the field and selects its row.
    void BuildFormatList();
    // Stores every category row's collapsed flag in section lstformat.
    void SaveGroupStates();

    void edt1Click();
    void edt1DblClick();
    void imgbtn1Click();
    // Sizes and places the list next to the field.
    void lst1Click();
    void lst1MouseDown(const QPoint& point);
    void lst1MouseMove(const QPoint& point);
    void lst1DblClick();

    // Row operations (also used by the handlers above).
    void ExpandGroup(int row);
    void CollapseGroup(int row);
    void ChooseRow(int row);
    // Selects the row whose text equals the given one (blanks removed, any case); none else.
    void SelectRowByText(const QString& text);
    // Index of the category row of a category; -1 when it is not in the list.
    int groupRow(int category) const;

    // The format the settings dialog edits.
    QString CurFormatName;
    QString CurFormatCode;

signals:
    // A format row was chosen (after the settings or CurFormat values were set).
    void formatChosen(const QString& name, int code);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openList(bool fromDoubleClick, bool fromButton);
    void hideList();
    void paintField();
    QString storedFormatName() const;

    ChooserHost host_;
    QLineEdit* edt1_;
    QToolButton* imgbtn1_;
    TFormatList* lst1_;
    std::function<QString()> settingsFile_;
    CatalogueTable table_;
};

// True for the names of a chooser's controls ("lst1", "imgbtn1", "edt1", any case): a press
// on them leaves an open list open.
bool isChooserControlName(const QString& name);

} // namespace vorlin::formats
