#include "jobs/JobListView.h"

#include "widgets/ThemeManager.h"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>

namespace {

const QColor kSelectedFocused(185, 204, 236);
const QColor kSelected(229, 236, 248);
const QColor kFrameFocused(122, 160, 218);
const QColor kFrame(152, 181, 226);
constexpr int kCheckColumnWidth = 18;

const char* const kCaptions[] = {"Source", "Length", "Trimmed Length", "Destination File",
                                 "Progress"};
constexpr int kWidths[] = {140, 65, 90, 120, 60};
constexpr Qt::Alignment kAlignments[] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignRight,
                                         Qt::AlignLeft, Qt::AlignHCenter};

} // namespace

TJobItem::TJobItem(TlvFilesRecord record) : Record(std::move(record)) {
    setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    setText(0, Record.SourceFile);
    setChecked(true);
}

TJobListView::TJobListView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName("lvFiles");
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::PreventContextMenu);
    setAllColumnsShowFocus(true);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
    RemoveColumns();
}

void TJobListView::BuildColumns() {
    setColumnCount(5);
    QStringList captions;
    for (const char* c : kCaptions)
        captions << c;
    setHeaderLabels(captions);
    for (int i = 0; i < 5; ++i) {
        setColumnWidth(i, kWidths[i]);
        headerItem()->setTextAlignment(i, Qt::AlignLeft | Qt::AlignVCenter);
    }
    setHeaderHidden(false);
    hasColumns_ = true;
}

void TJobListView::RemoveColumns() {
    setHeaderHidden(true);
    setColumnCount(1);
    setHeaderLabels({QString()});
    setColumnWidth(0, 4000);
    hasColumns_ = false;
}

TJobItem* TJobListView::row(int index) const {
    return static_cast<TJobItem*>(topLevelItem(index));
}

TJobItem* TJobListView::selectedRow() const {
    const auto items = selectedItems();
    return items.isEmpty() ? nullptr : static_cast<TJobItem*>(items.first());
}

int TJobListView::selectedIndex() const {
    TJobItem* item = selectedRow();
    return item ? indexOfTopLevelItem(item) : -1;
}

void TJobListView::selectRow(int index) {
    if (index < 0 || index >= rowCount()) {
        clearSelection();
        return;
    }
    setCurrentItem(topLevelItem(index));
    topLevelItem(index)->setSelected(true);
}

int TJobListView::checkedCount() const {
    int n = 0;
    for (int i = 0; i < rowCount(); ++i)
        n += row(i)->checked() ? 1 : 0;
    return n;
}

void TJobListView::setThemeIndex(int index) {
    themeIndex_ = index;
    viewport()->update();
}

QColor TJobListView::rowBrush(int rowIndex, bool selected, bool focused) const {
    if (selected)
        return focused ? kSelectedFocused : kSelected;
    return rowIndex % 2 == 0 ? QColor(Qt::white) : vorlin::widgets::oddRowColor(themeIndex_);
}

bool TJobListView::IsQuickTimeFile(const QString& path) {
    const QString suffix = QFileInfo(path).suffix();
    return suffix.compare("mov", Qt::CaseInsensitive) == 0 ||
           suffix.compare("qt", Qt::CaseInsensitive) == 0;
}

QRect TJobListView::checkBoxHitRect(const QRect& rowRect) const {
    return QRect(rowRect.left(), rowRect.top(), kCheckColumnWidth, rowRect.height());
}

void TJobListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    const int r = index.row();
    const TJobItem* item = row(r);
    if (!item)
        return;
    const bool selected = selectionModel()->isSelected(index);
    const bool focused = selected && hasFocus() && currentIndex().row() == r;
    const QRect rowRect = option.rect.adjusted(1, 0, -1, 0);
    painter->save();
    painter->fillRect(rowRect, rowBrush(r, selected, focused));
    painter->setPen(Qt::black);

    const int L = rowRect.left(), T = rowRect.top(), B = rowRect.bottom() + 1;
    QPen pen(Qt::black, 2);
    painter->setPen(pen);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->drawRect(QRect(QPoint(L + 2, T + 2), QPoint(L + 14, B - 2)).adjusted(0, 0, -1, -1));
    if (item->checked()) {
        painter->drawLine(L + 4, T + 6, L + 6, T + 11);
        painter->drawLine(L + 6, T + 11, L + 11, T + 5);
    }
    painter->setPen(QPen(Qt::black, 1));

    const QFontMetrics fm(font());
    for (int c = 0; c < columnCount(); ++c) {
        const int x = header()->sectionViewportPosition(c);
        QRect cell(x, option.rect.top(), header()->sectionSize(c), option.rect.height());
        if (c == 0)
            cell.setLeft(cell.left() + kCheckColumnWidth);
        cell.adjust(3, 0, -3, 0);
        const Qt::Alignment align =
            (hasColumns_ ? kAlignments[c] : Qt::AlignLeft) | Qt::AlignVCenter;
        painter->drawText(cell, int(align) | Qt::TextSingleLine,
                          fm.elidedText(item->text(c), Qt::ElideRight, cell.width()));
    }
    if (selected) {
        painter->setPen(focused ? kFrameFocused : kFrame);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(rowRect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

void TJobListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        emit rightButtonPressed(event->globalPosition().toPoint());
        return;
    }
    QTreeWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid())
        return;
    QRect rowRect = visualRect(index);
    rowRect.setLeft(header()->sectionViewportPosition(0));
    if (checkBoxHitRect(rowRect).contains(event->position().toPoint())) {
        TJobItem* item = row(index.row());
        item->setChecked(!item->checked());
    }
}

void TJobListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && selectedRow())
        emit rowDoubleClicked();
}

void TJobListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && selectedRow()) {
        selectedRow()->setChecked(!selectedRow()->checked());
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

QStringList TJobListView::acceptedDrops(const QMimeData* data) const {
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && IsQuickTimeFile(url.toLocalFile()))
            paths << url.toLocalFile();
    }
    return paths;
}

void TJobListView::dragEnterEvent(QDragEnterEvent* event) {
    if (!acceptedDrops(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TJobListView::dragMoveEvent(QDragMoveEvent* event) {
    if (!acceptedDrops(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TJobListView::dropEvent(QDropEvent* event) {
    const QStringList paths = acceptedDrops(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(paths);
}
