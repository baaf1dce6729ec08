#pragma once

#include "search/folder_tree.h"

#include <QByteArray>
#include <QStandardItemModel>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QFileSystemWatcher;
class QThread;

// The disk work of the folder tree, on a thread of its own: it reads a folder's subfolders (and
// whether each has subfolders), and watches the folders read, reading a watched folder again when
// it changes. A folder on a card that does not answer holds up this thread only, never the window.
class FolderTreeReader : public QObject {
    Q_OBJECT

public:
    FolderTreeReader();

    // Reads folder (a path ending with "/") and watches it; folderRead tells what was found.
    void Read(const QByteArray& folder);
    // Watches folder without reading it (a root, to notice that it goes).
    void Watch(const QByteArray& folder);
    // Stops watching the folders (all of them when the list is empty).
    void Forget(const QList<QByteArray>& folders);

signals:
    void folderRead(const QByteArray& folder, const std::vector<Subfolder>& subfolders);
    // A watched folder is gone (removed, or its volume unmounted).
    void folderGone(const QByteArray& folder);

private:
    void Changed(const QString& path);

    QFileSystemWatcher* watcher_;
};

// The archive folder tree as a model: one root per volume, and below each folder its
// subfolders, read by the FolderTreeReader when the folder is opened. A folder with subfolders
// holds one placeholder child "temp" until it is first opened, which only makes the view show an
// expand button; a folder without has none. The roots and the opened folders are watched: a
// folder made or removed in an opened folder appears or vanishes by itself.
class FolderTreeModel : public QStandardItemModel {
    Q_OBJECT

public:
    enum Role {
        FolderPathRole = Qt::UserRole + 1, // the folder's path with a trailing "/" (raw bytes)
        ImageRole,                         // the node's FolderImage
    };

    explicit FolderTreeModel(QObject* parent = nullptr);
    // Lets the reader's thread end by itself: a folder that does not answer must not hold up the
    // window that closes.
    ~FolderTreeModel() override;

    // Replaces the tree with the given roots, all closed.
    void BuildDriveRoots(const std::vector<FolderRoot>& roots);
    // Drops the roots that are no longer among roots and adds the new ones; the others stay as
    // they are, open or closed.
    void UpdateRoots(const std::vector<FolderRoot>& roots);
    // Asks for node's folder to be read again; its children are brought up to date when the
    // reader answers. Called every time the node is opened.
    void ExpandFolderNode(const QModelIndex& node);
    // The folder of a node; nothing for the placeholder or an invalid index.
    std::optional<std::string> folderPath(const QModelIndex& node) const;

signals:
    // A root's folder is gone (removed, or its volume unmounted): the roots should be read again.
    void rootGone();
    // A folder's children are shown as read (for tests and views that wait for them).
    void folderShown(const QByteArray& folder);

private:
    // Runs request on the reader's thread.
    void Ask(const std::function<void(FolderTreeReader&)>& request);
    QStandardItem* MakeNode(const std::string& text, const std::string& path, int image, bool hasSubfolders) const;
    void ShowFolder(const QByteArray& folder, const std::vector<Subfolder>& subfolders);
    void FolderGone(const QByteArray& folder);
    void ReplacePlaceholder(QStandardItem* node, const std::string& path, const std::vector<Subfolder>& subfolders);
    void UpdateChildren(QStandardItem* node, const std::string& path, const std::vector<Subfolder>& subfolders);
    void ForgetBelow(QStandardItem* node);
    static bool Opened(const QStandardItem* node);
    static void ShowExpandButton(QStandardItem* node, bool show);

    QThread* thread_;
    FolderTreeReader* reader_; // lives on thread_
};
