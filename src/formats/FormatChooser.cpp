#include "formats/FormatChooser.h"

#include "widgets/OwnerDraw.h"

#include "formats/IniFile.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolButton>

#include <mutex>

// The chooser pictures live in a resource of this static library; nothing else refers to
// it, so it is registered on first use. The macro must be used outside any namespace.
static void initChooserPictures() {
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(formats); });
}

namespace vorlin::formats {

namespace {

const QString kSettingsSection = QStringLiteral("settings");
const QString kGroupSection = QStringLiteral("lstformat");
const QColor kListBackground(246, 247, 248);
const QColor kNavy(0, 0, 128);

constexpr int kMainListMax = 358;
constexpr int kMainListBuildMax = 362;
constexpr int kDialogListMax = 247;
// Format rows a build adds per expanded category, and positions an expansion looks at.
constexpr int kBuildPositions = 31;
constexpr int kExpandPositions = 50;

// Draws the chooser rows: the focused row in the highlight colours, category rows bold with
// glyph and icon, format rows in navy.
class FormatRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(TFormatList::kRowHeight);
        return size;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const auto* list = qobject_cast<const TFormatList*>(option.widget);
        const TFormatItem* item = list ? list->row(index.row()) : nullptr;
        if (!item)
            return;
        painter->save();
        QRect r = option.rect;
        const bool focused = option.state & QStyle::State_Selected;
        vorlin::widgets::DrawListEntryBackground(*painter, r, focused, kListBackground);
        r.adjust(3, 0, -3, 0);
        QFont font = option.font;
        const TItemInfo& info = item->Info;
        if (info.IsGroupRow) {
            font.setBold(true);
            painter->setFont(font);
            const QPixmap glyph = TFormatList::glyph(!info.Collapsed);
            painter->drawPixmap(r.left() + 1, r.top() + (r.height() - glyph.height()) / 2, glyph);
            const QPixmap icon = TFormatList::categoryIcon(info.Code);
            painter->drawPixmap(r.left() + 20, r.top() + (r.height() - icon.height()) / 2, icon);
            painter->setPen(Qt::black);
            painter->drawText(r.adjusted(45, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                              item->text());
        } else {
            painter->setFont(font);
            painter->setPen(focused ? QColor(Qt::black) : kNavy);
            painter->drawText(r.adjusted(25, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                              item->text());
        }
        painter->restore();
    }
};

} // namespace

bool isChooserControlName(const QString& name) {
    return name.compare(QLatin1String("lst1"), Qt::CaseInsensitive) == 0 ||
           name.compare(QLatin1String("imgbtn1"), Qt::CaseInsensitive) == 0 ||
           name.compare(QLatin1String("edt1"), Qt::CaseInsensitive) == 0;
}

// ---------------------------------------------------------------------------------------------

TFormatList::TFormatList(QWidget* parent) : QListWidget(parent) {
    setObjectName(QStringLiteral("lst1"));
    setItemDelegate(new FormatRowDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setStyleSheet(QStringLiteral("QListWidget { background: rgb(246, 247, 248); }"));
    // A press on the scroll bar or the rows must count as a press on the list itself, which
    // is how the outside-click rule recognises it; Qt builds the list from several widgets.
    for (QWidget* part : findChildren<QWidget*>())
        part->setObjectName(QStringLiteral("lst1"));
    viewport()->setObjectName(QStringLiteral("lst1"));
    verticalScrollBar()->setObjectName(QStringLiteral("lst1"));
    hide();
}

TFormatItem* TFormatList::row(int index) const {
    return static_cast<TFormatItem*>(item(index));
}

int TFormatList::selectedRow() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : QListWidget::row(selected.first());
}

int TFormatList::rowAt(const QPoint& point) const {
    const QModelIndex index = indexAt(point);
    return index.isValid() ? index.row() : -1;
}

QPixmap TFormatList::categoryIcon(int category) {
    initChooserPictures();
    return QPixmap(QStringLiteral(":/formats/category%1.png").arg(category));
}

QPixmap TFormatList::glyph(bool expanded) {
    initChooserPictures();
    return QPixmap(expanded ? QStringLiteral(":/formats/glyph_expanded.png")
                            : QStringLiteral(":/formats/glyph_collapsed.png"));
}

void TFormatList::mousePressEvent(QMouseEvent* event) {
    if (chooser_ && event->button() == Qt::LeftButton) {
        chooser_->lst1MouseDown(event->position().toPoint());
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void TFormatList::mouseReleaseEvent(QMouseEvent* event) {
    // A click re-sizes the list, which follows rows added or removed by the press.
    if (chooser_ && event->button() == Qt::LeftButton && isVisible())
        chooser_->lst1Click();
    event->accept();
}

void TFormatList::mouseMoveEvent(QMouseEvent* event) {
    if (chooser_)
        chooser_->lst1MouseMove(event->position().toPoint());
    event->accept();
}

void TFormatList::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is a press as well, then the double click.
    if (chooser_ && event->button() == Qt::LeftButton) {
        chooser_->lst1MouseDown(event->position().toPoint());
        if (isVisible())
            chooser_->lst1DblClick();
    }
    event->accept();
}

// ---------------------------------------------------------------------------------------------

TFormatChooser::TFormatChooser(ChooserHost host, QLineEdit* edt1, QToolButton* imgbtn1,
                               TFormatList* lst1, std::function<QString()> settingsFile,
                               QObject* parent)
    : QObject(parent), host_(host), edt1_(edt1), imgbtn1_(imgbtn1), lst1_(lst1),
      settingsFile_(std::move(settingsFile)) {
    lst1_->setChooser(this);
    edt1_->installEventFilter(this);
    connect(imgbtn1_, &QToolButton::clicked, this, &TFormatChooser::imgbtn1Click);
    if (host_ == ChooserHost::SettingsDialog) {
        // The main window closes its own list from its application events; the dialog's
        // list needs the same two rules.
        qApp->installEventFilter(this);
        connect(qApp, &QGuiApplication::applicationStateChanged, this,
                [this](Qt::ApplicationState state) {
                    if (state != Qt::ApplicationActive)
                        hideList();
                });
    }
}

TFormatChooser::~TFormatChooser() {
    if (host_ == ChooserHost::SettingsDialog)
        qApp->removeEventFilter(this);
}

bool TFormatChooser::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == edt1_ &&
        (type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton &&
            edt1_->rect().contains(mouse->position().toPoint()))
            edt1Click();
        else if (type == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton)
            edt1DblClick();
    }
    if (host_ == ChooserHost::SettingsDialog && type == QEvent::MouseButtonPress &&
        watched->isWidgetType() && lst1_->isVisible()) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            QWidget* control = QApplication::widgetAt(mouse->globalPosition().toPoint());
            if (!control)
                control = static_cast<QWidget*>(watched);
            if (!isChooserControlName(control->objectName()))
                hideList();
        }
    }
    return false;
}

QString TFormatChooser::storedFormatName() const {
    return IniFile(settingsFile_())
        .readString(kSettingsSection, QStringLiteral("FormatName"), kDefaultFieldName);
}

void TFormatChooser::BuildFormatList() {
    table_.clear();
    lst1_->hide();
    lst1_->clear();
    const IniFile settings(settingsFile_());
    for (int category = 0; category < kCategoryCount; ++category) {
        TItemInfo group;
        group.IsGroupRow = true;
        group.Code = category;
        group.Collapsed = settings.readBool(kGroupSection, QString::number(category), true);
        table_.fill(category);
        lst1_->addItem(new TFormatItem(table_.categoryRow(category), group));
        if (group.Collapsed)
            continue;
        for (int position = 0; position < kBuildPositions; ++position) {
            const QString text = table_.text(category, position);
            if (text.isEmpty())
                continue;
            TItemInfo format;
            format.IsFormatRow = true;
            format.Code = category * 100 + position;
            lst1_->addItem(new TFormatItem(text, format));
        }
    }
    if (host_ == ChooserHost::MainWindow) {
        const int height =
            std::min((lst1_->count() + 1) * TFormatList::kRowHeight, kMainListBuildMax);
        const QPoint field = edt1_->mapTo(lst1_->parentWidget(), QPoint(0, 0));
        lst1_->setGeometry(field.x(), field.y() - height + 2, edt1_->width(), height);
    }
    edt1_->setText(
        settings.readString(kSettingsSection, QStringLiteral("FormatName"), kDefaultFieldName));
    SelectRowByText(edt1_->text());
    paintField();
}

void TFormatChooser::SaveGroupStates() {
    IniFile settings(settingsFile_());
    for (int i = 0; i < lst1_->count(); ++i) {
        const TItemInfo& info = lst1_->row(i)->Info;
        if (info.IsGroupRow)
            settings.writeBool(kGroupSection, QString::number(info.Code), info.Collapsed);
    }
}

void TFormatChooser::paintField() {
    edt1_->setStyleSheet(QStringLiteral("QLineEdit { background: rgb(246, 247, 248); }"));
}

int TFormatChooser::groupRow(int category) const {
    for (int i = 0; i < lst1_->count(); ++i) {
        const TItemInfo& info = lst1_->row(i)->Info;
        if (info.IsGroupRow && info.Code == category)
            return i;
    }
    return -1;
}

void TFormatChooser::SelectRowByText(const QString& text) {
    const QString wanted = text.trimmed();
    for (int i = 0; i < lst1_->count(); ++i) {
        if (lst1_->item(i)->text().compare(wanted, Qt::CaseInsensitive) == 0) {
            lst1_->setCurrentRow(i);
            return;
        }
    }
    lst1_->clearSelection();
    lst1_->setCurrentItem(nullptr);
}

void TFormatChooser::edt1Click() {
    openList(false, false);
}

void TFormatChooser::edt1DblClick() {
    openList(true, false);
}

void TFormatChooser::imgbtn1Click() {
    openList(false, true);
}

void TFormatChooser::openList(bool fromDoubleClick, bool fromButton) {
    if (lst1_->isVisible()) {
        hideList();
        return;
    }
    if (host_ == ChooserHost::MainWindow) {
        const QString name = storedFormatName();
        if (fromButton || fromDoubleClick)
            edt1_->setText(name);
        SelectRowByText(name);
    } else {
        SelectRowByText(CurFormatName);
    }
    lst1_->show();
    lst1_->raise();
    lst1_->setFocus();
    if (fromDoubleClick)
        return;
    lst1Click();
    if (host_ == ChooserHost::MainWindow && !fromButton && lst1_->selectedRow() >= 0) {
        const QRect rowRect = lst1_->visualItemRect(lst1_->item(lst1_->selectedRow()));
        QCursor::setPos(lst1_->viewport()->mapToGlobal(rowRect.center()));
    }
}

void TFormatChooser::hideList() {
    if (lst1_->isVisible())
        lst1_->hide();
}

void TFormatChooser::lst1Click() {
    const int rows = lst1_->count();
    const QPoint field = edt1_->mapTo(lst1_->parentWidget(), QPoint(0, 0));
    const int rowsHeight = rows * TFormatList::kRowHeight;
    int height = 0;
    int top = 0;
    if (host_ == ChooserHost::MainWindow) {
        // Opens upward: the bottom edge meets the field.
        height = rowsHeight > kMainListMax ? kMainListMax : rowsHeight + TFormatList::kRowHeight;
        top = field.y() - height;
    } else {
        // Opens downward under the field.
        height =
            rowsHeight > kDialogListMax ? kDialogListMax : rowsHeight + TFormatList::kRowHeight;
        top = field.y() + edt1_->height() - 1;
    }
    lst1_->setGeometry(field.x(), top, edt1_->width(), height);
}

void TFormatChooser::lst1MouseMove(const QPoint& point) {
    const int row = lst1_->rowAt(point);
    if (row >= 0 && row != lst1_->selectedRow())
        lst1_->setCurrentRow(row);
}

void TFormatChooser::lst1MouseDown(const QPoint& point) {
    const int row = lst1_->rowAt(point);
    if (row < 0)
        return;
    const TItemInfo info = lst1_->row(row)->Info;
    if (info.IsGroupRow && point.x() < TFormatList::kGlyphColumn) {
        if (info.Collapsed)
            ExpandGroup(row);
        else
            CollapseGroup(row);
    } else if (info.IsFormatRow) {
        ChooseRow(row);
    }
}

void TFormatChooser::lst1DblClick() {
    const int row = lst1_->selectedRow();
    if (row < 0)
        return;
    const TItemInfo& info = lst1_->row(row)->Info;
    if (!info.IsGroupRow)
        return;
    if (info.Collapsed)
        ExpandGroup(row);
    else
        CollapseGroup(row);
}

void TFormatChooser::ExpandGroup(int row) {
    TFormatItem* group = lst1_->row(row);
    if (!group || !group->Info.IsGroupRow || !group->Info.Collapsed)
        return;
    const int category = group->Info.Code;
    int at = row + 1;
    for (int position = 0; position < kExpandPositions; ++position) {
        const QString text = table_.text(category, position);
        if (text.isEmpty())
            continue;
        TItemInfo format;
        format.IsFormatRow = true;
        format.Code = category * 100 + position;
        lst1_->insertItem(at++, new TFormatItem(text, format));
    }
    group->Info.Collapsed = false;
    lst1_->viewport()->update();
}

void TFormatChooser::CollapseGroup(int row) {
    TFormatItem* group = lst1_->row(row);
    if (!group || !group->Info.IsGroupRow)
        return;
    while (row + 1 < lst1_->count() && lst1_->row(row + 1)->Info.IsFormatRow)
        delete lst1_->takeItem(row + 1);
    group->Info.Collapsed = true;
    lst1_->viewport()->update();
}

void TFormatChooser::ChooseRow(int row) {
    const TFormatItem* item = lst1_->row(row);
    if (!item || !item->Info.IsFormatRow)
        return;
    const QString name = item->text();
    const int code = item->Info.Code;
    if (host_ == ChooserHost::MainWindow) {
        IniFile settings(settingsFile_());
        settings.writeString(kSettingsSection, QStringLiteral("FormatName"), name);
        settings.writeString(kSettingsSection, QStringLiteral("FormatCode"), QString::number(code));
    } else {
        CurFormatName = name;
        CurFormatCode = QString::number(code);
    }
    edt1_->setText(name);
    hideList();
    emit formatChosen(name, code);
}

} // namespace vorlin::formats
