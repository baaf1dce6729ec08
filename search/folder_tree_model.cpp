#include "search/folder_tree_model.h"

#include "platform/qt_text.h"

#include <QApplication>
#include <QFileSystemWatcher>
#include <QThread>
#include <QStyle>

#include <algorithm>
#include <functional>

namespace {

const QString kPlaceholderText = QStringLiteral("temp");

// The node's picture: a folder shows open while it is selected.
QIcon ImageIcon(int image)
{
    const QStyle* style = QApplication::style();
    switch (image) {
    case kImageCdDrive:
        return style->standardIcon(QStyle::SP_DriveCDIcon);
    case kImageFolderClosed: {
        QIcon icon = style->standardIcon(QStyle::SP_DirClosedIcon);
        icon.addPixmap(style->standardPixmap(QStyle::SP_DirOpenIcon), QIcon::Selected);
        return icon;
    }
    default:
        return style->standardIcon(QStyle::SP_DriveHDIcon);
    }
}

} // namespace

FolderTreeReader::FolderTreeReader() : watcher_(new QFileSystemWatcher(this))
{
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &FolderTreeReader::Changed);
}

void FolderTreeReader::Read(const QByteArray& folder)
{
    const std::string path = folder.toStdString();
    std::vector<Subfolder> subfolders = ReadSubfolders(path);
    Watch(folder);
    emit folderRead(folder, subfolders);
}

void FolderTreeReader::Watch(const QByteArray& folder)
{
    const QString path = ToQString(folder.toStdString());
    if (!watcher_->directories().contains(path))
        watcher_->addPath(path);
}

void FolderTreeReader::Forget(const QList<QByteArray>& folders)
{
    QStringList paths;
    for (const QByteArray& folder : folders)
        paths << ToQString(folder.toStdString());
    if (folders.isEmpty())
        paths = watcher_->directories();
    if (!paths.isEmpty())
        watcher_->removePaths(paths);
}

// A folder the watcher has let go of is gone; one that changed is read again.
void FolderTreeReader::Changed(const QString& path)
{
    const QByteArray folder = QByteArray::fromStdString(path.toStdString());
    if (!watcher_->directories().contains(path))
        emit folderGone(folder);
    else
        Read(folder);
}

FolderTreeModel::FolderTreeModel(QObject* parent)
    : QStandardItemModel(parent), thread_(new QThread), reader_(new FolderTreeReader)
{
    reader_->moveToThread(thread_);
    connect(thread_, &QThread::finished, reader_, &QObject::deleteLater);
    connect(thread_, &QThread::finished, thread_, &QObject::deleteLater);
    connect(reader_, &FolderTreeReader::folderRead, this, &FolderTreeModel::ShowFolder);
    connect(reader_, &FolderTreeReader::folderGone, this, &FolderTreeModel::FolderGone);
    thread_->start();
}

FolderTreeModel::~FolderTreeModel()
{
    thread_->quit();
}

void FolderTreeModel::Ask(const std::function<void(FolderTreeReader&)>& request)
{
    QMetaObject::invokeMethod(
        reader_, [reader = reader_, request] { request(*reader); }, Qt::QueuedConnection);
}

QStandardItem* FolderTreeModel::MakeNode(const std::string& text, const std::string& path, int image,
                                         bool hasSubfolders) const
{
    auto* node = new QStandardItem(ImageIcon(image), ToQString(text));
    node->setEditable(false);
    node->setData(QByteArray::fromStdString(path), FolderPathRole);
    node->setData(image, ImageRole);
    ShowExpandButton(node, hasSubfolders);
    return node;
}

// A closed node shows its expand button through the placeholder child.
void FolderTreeModel::ShowExpandButton(QStandardItem* node, bool show)
{
    if (Opened(node) && node->rowCount() > 0)
        return;
    if (!show) {
        node->removeRows(0, node->rowCount());
    } else if (node->rowCount() == 0) {
        auto* placeholder = new QStandardItem(kPlaceholderText);
        placeholder->setEditable(false);
        node->appendRow(placeholder);
    }
}

void FolderTreeModel::BuildDriveRoots(const std::vector<FolderRoot>& roots)
{
    clear();
    Ask([](FolderTreeReader& reader) { reader.Forget({}); });
    UpdateRoots(roots);
}

void FolderTreeModel::UpdateRoots(const std::vector<FolderRoot>& roots)
{
    for (int row = rowCount() - 1; row >= 0; --row) {
        const std::optional<std::string> path = folderPath(index(row, 0));
        if (std::ranges::none_of(roots, [&](const FolderRoot& root) { return root.path == path; })) {
            ForgetBelow(item(row));
            const QByteArray folder = QByteArray::fromStdString(*path);
            Ask([folder](FolderTreeReader& reader) { reader.Forget({folder}); });
            removeRow(row);
        }
    }
    for (std::size_t wanted = 0; wanted < roots.size(); ++wanted) {
        const int row = static_cast<int>(wanted);
        if (row < rowCount() && folderPath(index(row, 0)) == roots[wanted].path)
            continue;
        insertRow(row, MakeNode(roots[wanted].path, roots[wanted].path, roots[wanted].image, true));
        const QByteArray folder = QByteArray::fromStdString(roots[wanted].path);
        Ask([folder](FolderTreeReader& reader) { reader.Watch(folder); });
    }
}

void FolderTreeModel::ExpandFolderNode(const QModelIndex& node)
{
    if (const std::optional<std::string> path = folderPath(node)) {
        const QByteArray folder = QByteArray::fromStdString(*path);
        Ask([folder](FolderTreeReader& reader) { reader.Read(folder); });
    }
}

void FolderTreeModel::FolderGone(const QByteArray& folder)
{
    for (int row = 0; row < rowCount(); ++row) {
        if (item(row)->data(FolderPathRole).toByteArray() == folder) {
            emit rootGone();
            return;
        }
    }
}

// Every node of the folder gets its children as read; a node still closed gets them too, so
// that it opens on what is there now.
void FolderTreeModel::ShowFolder(const QByteArray& folder, const std::vector<Subfolder>& subfolders)
{
    const QModelIndexList nodes = match(index(0, 0), FolderPathRole, folder, -1, Qt::MatchExactly | Qt::MatchRecursive);
    for (const QModelIndex& node : nodes) {
        if (QStandardItem* item = itemFromIndex(node)) {
            if (Opened(item))
                UpdateChildren(item, folder.toStdString(), subfolders);
            else
                ReplacePlaceholder(item, folder.toStdString(), subfolders);
        }
    }
    emit folderShown(folder);
}

// The children of a node read for the first time take the placeholder's place. They come before
// it goes: a view closes a node that is left without children, and the user has just opened it.
void FolderTreeModel::ReplacePlaceholder(QStandardItem* node, const std::string& path,
                                         const std::vector<Subfolder>& subfolders)
{
    const int placeholders = node->rowCount();
    for (const Subfolder& subfolder : subfolders)
        node->appendRow(
            MakeNode(subfolder.name, path + subfolder.name + "/", kImageFolderClosed, subfolder.hasSubfolders));
    node->removeRows(0, placeholders);
}

// Removes the children whose folder is gone and inserts the new ones in their place in name
// order; the children that stay keep what is open below them.
void FolderTreeModel::UpdateChildren(QStandardItem* node, const std::string& path,
                                     const std::vector<Subfolder>& subfolders)
{
    // The name as the folder holds it, which its text may not show byte for byte.
    const auto nameAt = [&](int row) {
        const std::string childPath = node->child(row)->data(FolderPathRole).toByteArray().toStdString();
        return childPath.substr(path.size(), childPath.size() - path.size() - 1);
    };
    const auto listed = [&](const std::string& name) {
        return std::ranges::any_of(subfolders, [&](const Subfolder& subfolder) { return subfolder.name == name; });
    };
    QList<QByteArray> gone;
    for (int row = node->rowCount() - 1; row >= 0; --row) {
        if (!listed(nameAt(row))) {
            ForgetBelow(node->child(row));
            gone << QByteArray::fromStdString(path + nameAt(row) + "/");
            node->removeRow(row);
        }
    }
    if (!gone.isEmpty())
        Ask([gone](FolderTreeReader& reader) { reader.Forget(gone); });
    for (std::size_t wanted = 0; wanted < subfolders.size(); ++wanted) {
        const Subfolder& subfolder = subfolders[wanted];
        const int row = static_cast<int>(wanted);
        if (row < node->rowCount() && nameAt(row) == subfolder.name)
            ShowExpandButton(node->child(row), subfolder.hasSubfolders);
        else
            node->insertRow(row, MakeNode(subfolder.name, path + subfolder.name + "/", kImageFolderClosed,
                                          subfolder.hasSubfolders));
    }
}

// Stops watching the folders opened below node, which are about to go.
void FolderTreeModel::ForgetBelow(QStandardItem* node)
{
    QList<QByteArray> folders;
    const std::function<void(QStandardItem*)> collect = [&](QStandardItem* parent) {
        for (int row = 0; row < parent->rowCount(); ++row) {
            QStandardItem* child = parent->child(row);
            if (const QVariant path = child->data(FolderPathRole); path.isValid() && Opened(child))
                folders << path.toByteArray();
            collect(child);
        }
    };
    collect(node);
    if (!folders.isEmpty())
        Ask([folders](FolderTreeReader& reader) { reader.Forget(folders); });
}

// Whether node's children have been read: a closed node holds only the placeholder, or nothing
// when it has no subfolders.
bool FolderTreeModel::Opened(const QStandardItem* node)
{
    return !(node->rowCount() == 1 && !node->child(0)->data(FolderPathRole).isValid());
}

std::optional<std::string> FolderTreeModel::folderPath(const QModelIndex& node) const
{
    const QVariant path = node.data(FolderPathRole);
    if (!path.isValid())
        return std::nullopt;
    return path.toByteArray().toStdString();
}
