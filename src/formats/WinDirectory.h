#pragma once

#include "platform/Platform.h"

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The folder chooser "Brows": a tree of folders only. Under its invisible root sit the
// user's own folders (home, desktop, videos) and "Computer", which holds the file system
// and the mounted volumes. "Computer" is a place, not a folder, so it cannot be chosen, nor
// can a folder that has disappeared meanwhile. A chosen folder on an optical disc is
// refused inside the dialog.
class TfmDirectory : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 322;
    static constexpr int kHeight = 351;

    explicit TfmDirectory(QWidget* parent = nullptr);

    QLabel* lblPrompt = nullptr;
    QTreeWidget* stview_selectdir = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

    // The chosen folder; empty when nothing was chosen.
    QString SelectedDir;

    // The drive type of a folder; replaced by tests to stand for an optical disc.
    std::function<vorlin::platform::DriveType(const QString&)> DriveTypeOf =
        vorlin::platform::driveType;

    void FormShow();
    // A click in the tree: Ok is enabled only on a real, existing folder.
    void stview_selectdirClick();
    void btnOkClick();
    void btnCancelClick();

    // Selects the node of a folder, expanding the way down to it; false when the folder is
    // not in the tree (hidden, missing, or outside every root).
    bool SelectFolder(const QString& path);
    // The folder of the selected node; empty for a place that is not a folder.
    QString SelectedPath() const;

    // Reads the folders under a node again: new ones appear, vanished ones go.
    void RefreshNode(QTreeWidgetItem* node);

    // Where the tree starts each time the dialog is shown: the user's home folder.
    static QString StartFolder();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void buildRoots();
    QTreeWidgetItem* addFolderNode(QTreeWidgetItem* parent, const QString& path,
                                   const QString& text);
    QTreeWidgetItem* findNode(const QString& path) const;
};
