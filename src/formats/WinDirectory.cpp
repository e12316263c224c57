#include "formats/WinDirectory.h"

#include "widgets/Dialogs.h"
#include "widgets/ThemeManager.h"

#include <QDir>
#include <QDirIterator>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTreeWidget>

#include <map>

namespace {

constexpr int kPathRole = Qt::UserRole;       // the folder of a node; empty for a place
constexpr int kLoadedRole = Qt::UserRole + 1; // the node's folders have been read

const QFileIconProvider& icons() {
    static const QFileIconProvider provider;
    return provider;
}

QString cleanAbsolute(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool isUnder(const QString& path, const QString& folder) {
    if (folder == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

bool hasSubfolders(const QString& path) {
    QDirIterator it(path, QDir::Dirs | QDir::NoDotAndDotDot);
    return it.hasNext();
}

QString nodePath(const QTreeWidgetItem* node) {
    return node ? node->data(0, kPathRole).toString() : QString();
}

// Volumes the user mounted or plugged in; the system's own mounts stay under "/".
bool isUserVolume(const QStorageInfo& volume) {
    const QString root = volume.rootPath();
    return volume.isValid() && volume.isReady() &&
           (root.startsWith(QLatin1String("/media/")) ||
            root.startsWith(QLatin1String("/run/media/")) ||
            root.startsWith(QLatin1String("/mnt/")));
}

} // namespace

TfmDirectory::TfmDirectory(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fmDirectory"));
    setWindowTitle(QStringLiteral("Brows"));
    setModal(true);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);

    lblPrompt = new QLabel(QStringLiteral("Please select an output directory:"), this);
    lblPrompt->setGeometry(10, 8, 302, 20);
    stview_selectdir = new QTreeWidget(this);
    stview_selectdir->setObjectName(QStringLiteral("stview_selectdir"));
    stview_selectdir->setGeometry(10, 30, 302, 268);
    stview_selectdir->setHeaderHidden(true);
    stview_selectdir->setColumnCount(1);
    stview_selectdir->setSelectionMode(QAbstractItemView::SingleSelection);
    stview_selectdir->setUniformRowHeights(true);
    stview_selectdir->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    stview_selectdir->header()->setStretchLastSection(false);
    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(142, 310, 80, 28);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(232, 310, 80, 28);

    connect(stview_selectdir, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem*, int) { stview_selectdirClick(); });
    connect(stview_selectdir, &QTreeWidget::itemExpanded, this, &TfmDirectory::RefreshNode);
    connect(btnOk, &QPushButton::clicked, this, &TfmDirectory::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfmDirectory::btnCancelClick);
    buildRoots();
}

QString TfmDirectory::StartFolder() {
    return vorlin::platform::userProfileFolder();
}

void TfmDirectory::buildRoots() {
    QTreeWidgetItem* root = stview_selectdir->invisibleRootItem();
    const QString home = cleanAbsolute(vorlin::platform::userProfileFolder());
    addFolderNode(root, home, QStringLiteral("Home"));
    const auto userFolder = [&](QStandardPaths::StandardLocation location, const QString& text) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && QFileInfo(path).isDir() && cleanAbsolute(path) != home)
            addFolderNode(root, cleanAbsolute(path), text);
    };
    userFolder(QStandardPaths::DesktopLocation, QStringLiteral("Desktop"));
    userFolder(QStandardPaths::MoviesLocation, QStringLiteral("Videos"));

    auto* computer = new QTreeWidgetItem(root, {QStringLiteral("Computer")});
    computer->setIcon(0, icons().icon(QFileIconProvider::Computer));
    computer->setData(0, kLoadedRole, true);
    QTreeWidgetItem* fileSystem =
        addFolderNode(computer, QStringLiteral("/"), QStringLiteral("File System"));
    fileSystem->setIcon(0, icons().icon(QFileIconProvider::Drive));
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!isUserVolume(volume))
            continue;
        // A volume without a label is named by its mount point's last part.
        const QString root = cleanAbsolute(volume.rootPath());
        const QString label = volume.name().isEmpty() ? QFileInfo(root).fileName() : volume.name();
        QTreeWidgetItem* node = addFolderNode(computer, root, label);
        node->setIcon(0, icons().icon(QFileIconProvider::Drive));
    }
    computer->setExpanded(true);
}

QTreeWidgetItem* TfmDirectory::addFolderNode(QTreeWidgetItem* parent, const QString& path,
                                             const QString& text) {
    auto* node = new QTreeWidgetItem(parent, {text});
    node->setIcon(0, icons().icon(QFileIconProvider::Folder));
    node->setData(0, kPathRole, path);
    node->setData(0, kLoadedRole, false);
    node->setToolTip(0, QDir::toNativeSeparators(path));
    node->setChildIndicatorPolicy(hasSubfolders(path) ? QTreeWidgetItem::ShowIndicator
                                                      : QTreeWidgetItem::DontShowIndicator);
    return node;
}

void TfmDirectory::RefreshNode(QTreeWidgetItem* node) {
    const QString path = nodePath(node);
    if (!node || path.isEmpty())
        return; // places keep the entries they were built with
    // Existing nodes are kept (with what lies open under them); vanished folders go.
    std::map<QString, QTreeWidgetItem*> existing;
    std::map<QTreeWidgetItem*, bool> expanded;
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        existing[nodePath(child)] = child;
        expanded[child] = child->isExpanded();
    }
    QTreeWidgetItem* current = stview_selectdir->currentItem();
    const QFileInfoList folders = QDir(path).entryInfoList(
        QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    const QList<QTreeWidgetItem*> old = node->takeChildren();
    QList<QTreeWidgetItem*> children;
    for (const QFileInfo& folder : folders) {
        const QString childPath = cleanAbsolute(folder.absoluteFilePath());
        const auto found = existing.find(childPath);
        if (found != existing.end()) {
            children.append(found->second);
            existing.erase(found);
            continue;
        }
        QTreeWidgetItem* child = addFolderNode(nullptr, childPath, folder.fileName());
        children.append(child);
    }
    bool currentGone = false;
    for (auto& [childPath, child] : existing) {
        for (QTreeWidgetItem* p = current; p; p = p->parent())
            currentGone = currentGone || p == child;
        delete child;
    }
    node->addChildren(children);
    for (QTreeWidgetItem* child : children) {
        const auto was = expanded.find(child);
        if (was != expanded.end() && was->second)
            child->setExpanded(true);
    }
    node->setData(0, kLoadedRole, true);
    node->setChildIndicatorPolicy(children.isEmpty() ? QTreeWidgetItem::DontShowIndicator
                                                     : QTreeWidgetItem::ShowIndicator);
    if (currentGone)
        stview_selectdir->setCurrentItem(node);
    else if (current && children.contains(current))
        stview_selectdir->setCurrentItem(current);
}

QTreeWidgetItem* TfmDirectory::findNode(const QString& path) const {
    const QString wanted = cleanAbsolute(path);
    // The deepest root that holds the folder: home before the file system.
    QTreeWidgetItem* best = nullptr;
    QList<QTreeWidgetItem*> roots;
    QTreeWidgetItem* top = stview_selectdir->invisibleRootItem();
    for (int i = 0; i < top->childCount(); ++i) {
        QTreeWidgetItem* node = top->child(i);
        if (nodePath(node).isEmpty()) {
            for (int j = 0; j < node->childCount(); ++j)
                roots.append(node->child(j));
        } else {
            roots.append(node);
        }
    }
    for (QTreeWidgetItem* root : roots) {
        const QString rootPath = nodePath(root);
        if (isUnder(wanted, rootPath) && (!best || rootPath.size() > nodePath(best).size()))
            best = root;
    }
    QTreeWidgetItem* node = best;
    auto* self = const_cast<TfmDirectory*>(this);
    while (node && nodePath(node) != wanted) {
        if (!node->data(0, kLoadedRole).toBool())
            self->RefreshNode(node);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < node->childCount() && !next; ++i) {
            const QString childPath = nodePath(node->child(i));
            if (childPath != QLatin1String("/") && isUnder(wanted, childPath))
                next = node->child(i);
        }
        node = next;
    }
    return node;
}

bool TfmDirectory::SelectFolder(const QString& path) {
    QTreeWidgetItem* node = findNode(path);
    if (!node)
        return false;
    for (QTreeWidgetItem* p = node->parent(); p; p = p->parent())
        p->setExpanded(true);
    stview_selectdir->setCurrentItem(node);
    stview_selectdir->scrollToItem(node);
    return true;
}

QString TfmDirectory::SelectedPath() const {
    return nodePath(stview_selectdir->currentItem());
}

void TfmDirectory::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfmDirectory::FormShow() {
    setFixedSize(kWidth, kHeight);
    SelectFolder(StartFolder());
    stview_selectdirClick();
    vorlin::widgets::ThemeManager::applyMainTheme(this);
}

void TfmDirectory::stview_selectdirClick() {
    const QString path = SelectedPath();
    btnOk->setEnabled(!path.isEmpty() && QFileInfo(path).isDir());
}

void TfmDirectory::btnOkClick() {
    const QString path = SelectedPath();
    QTreeWidgetItem* node = stview_selectdir->currentItem();
    if (!path.isEmpty() && !QFileInfo(path).isDir()) {
        // Deleted or moved away while the dialog was open.
        SelectedDir.clear();
        vorlin::widgets::dialogs().info(this, QGuiApplication::applicationDisplayName(),
                                        QStringLiteral("The folder ") +
                                            QDir::toNativeSeparators(path) +
                                            QStringLiteral(" does not exist any more. "
                                                           "Please select another folder."));
        if (node && node->parent())
            RefreshNode(node->parent());
        stview_selectdirClick();
        return;
    }
    SelectedDir = path.isEmpty() ? QString() : QDir::toNativeSeparators(path);
    if (!path.isEmpty() && DriveTypeOf(path) == vorlin::platform::DriveType::CdRom) {
        SelectedDir.clear();
        vorlin::widgets::dialogs().info(
            this, QGuiApplication::applicationDisplayName(),
            QStringLiteral("Output folder cannot be located in CD-ROM.Please select another "
                           "folder."));
        return;
    }
    accept();
}

void TfmDirectory::btnCancelClick() {
    reject();
}

void TfmDirectory::reject() {
    SelectedDir.clear();
    QDialog::reject();
}
