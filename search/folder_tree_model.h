#pragma once

#include "search/folder_tree.h"

#include <QStandardItemModel>
#include <optional>
#include <string>
#include <vector>

class QFileSystemWatcher;

// The archive folder tree as a model: one root per volume, and below each folder its
// subfolders, read when the folder is opened. Until then a folder holds one placeholder child
// "temp", which only makes the view show an expand button. The roots and the opened folders
// are watched: a folder made or removed in an opened folder appears or vanishes by itself.
class FolderTreeModel : public QStandardItemModel {
    Q_OBJECT

public:
    enum Role {
        FolderPathRole = Qt::UserRole + 1, // the folder's path with a trailing "/" (raw bytes)
        ImageRole,                         // the node's FolderImage
    };

    explicit FolderTreeModel(QObject* parent = nullptr);

    // Replaces the tree with the given roots, all closed.
    void BuildDriveRoots(const std::vector<FolderRoot>& roots);
    // Drops the roots that are no longer among roots and adds the new ones; the others stay as
    // they are, open or closed.
    void UpdateRoots(const std::vector<FolderRoot>& roots);
    // Reads node's folder again: its children (and everything below them) are replaced by the
    // subfolders found now. Called every time the node is opened.
    void ExpandFolderNode(const QModelIndex& node);
    // The folder of a node; nothing for the placeholder or an invalid index.
    std::optional<std::string> folderPath(const QModelIndex& node) const;

signals:
    // A root's folder is gone (removed, or its volume unmounted): the roots should be read again.
    void rootGone();

private:
    QStandardItem* MakeNode(const std::string& text, const std::string& path, int image) const;
    void FolderChanged(const QString& path);
    void UpdateChildren(QStandardItem* node, const std::string& path);
    void Watch(const std::string& path);
    void ForgetBelow(QStandardItem* node);
    static bool Opened(const QStandardItem* node);

    QFileSystemWatcher* watcher_;
};
