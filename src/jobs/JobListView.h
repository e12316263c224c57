#pragma once

#include "jobs/JobRecord.h"

#include <QStringList>
#include <QTreeWidget>

#include <functional>

// One row of the job list: the source path and the four sub-items as column texts, the
// check mark, and the row's job record, which lives exactly as long as the row.
class TJobItem : public QTreeWidgetItem {
public:
    explicit TJobItem(TlvFilesRecord record);
    TlvFilesRecord Record;

    bool checked() const { return checkState(0) == Qt::Checked; }
    void setChecked(bool on) { setCheckState(0, on ? Qt::Checked : Qt::Unchecked); }
};

// The job list `lvFiles`: a report view with check boxes whose rows it draws itself (white
// and skin-tinted rows, the selection frame, a drawn check box). It also accepts QuickTime
// files dropped from a file manager.
class TJobListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TJobListView(QWidget* parent = nullptr);

    // The five report columns, or none (the empty list shows as a plain list).
    void BuildColumns();
    void RemoveColumns();
    bool HasColumns() const { return hasColumns_; }

    int rowCount() const { return topLevelItemCount(); }
    TJobItem* row(int index) const;
    TJobItem* selectedRow() const;
    int selectedIndex() const;
    void selectRow(int index);
    int checkedCount() const;

    // Theme whose tint the odd rows take (-1: none of the built-in ones).
    void setThemeIndex(int index);
    int themeIndex() const { return themeIndex_; }

    // Background of a row as drawn: white for even rows, the theme's tint for odd ones, the
    // selection colours for the selected row.
    QColor rowBrush(int rowIndex, bool selected, bool focused) const;

    // True for the paths the list accepts: QuickTime files in any letter case.
    static bool IsQuickTimeFile(const QString& path);

signals:
    void rightButtonPressed(const QPoint& globalPos); // lvFilesMouseDown
    void rowDoubleClicked();                          // lvFilesDblClick
    void filesDropped(const QStringList& paths);

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QStringList acceptedDrops(const QMimeData* data) const;
    QRect checkBoxHitRect(const QRect& rowRect) const;

    bool hasColumns_ = false;
    int themeIndex_ = 0;
};
