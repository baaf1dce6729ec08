#include "search/folder_tree_model.h"

#include "platform/qt_text.h"

#include <QApplication>
#include <QFileSystemWatcher>
#include <QStyle>

#include <algorithm>

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

FolderTreeModel::FolderTreeModel(QObject* parent) : QStandardItemModel(parent), watcher_(new QFileSystemWatcher(this))
{
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &FolderTreeModel::FolderChanged);
}

QStandardItem* FolderTreeModel::MakeNode(const std::string& text, const std::string& path, int image) const
{
    auto* node = new QStandardItem(ImageIcon(image), ToQString(text));
    node->setEditable(false);
    node->setData(QByteArray::fromStdString(path), FolderPathRole);
    node->setData(image, ImageRole);
    auto* placeholder = new QStandardItem(kPlaceholderText);
    placeholder->setEditable(false);
    node->appendRow(placeholder);
    return node;
}

void FolderTreeModel::BuildDriveRoots(const std::vector<FolderRoot>& roots)
{
    clear();
    if (const QStringList watched = watcher_->directories(); !watched.isEmpty())
        watcher_->removePaths(watched);
    UpdateRoots(roots);
}

void FolderTreeModel::UpdateRoots(const std::vector<FolderRoot>& roots)
{
    for (int row = rowCount() - 1; row >= 0; --row) {
        const std::optional<std::string> path = folderPath(index(row, 0));
        if (std::ranges::none_of(roots, [&](const FolderRoot& root) { return root.path == path; })) {
            ForgetBelow(item(row));
            watcher_->removePath(ToQString(*path));
            removeRow(row);
        }
    }
    for (std::size_t wanted = 0; wanted < roots.size(); ++wanted) {
        const int row = static_cast<int>(wanted);
        if (row < rowCount() && folderPath(index(row, 0)) == roots[wanted].path)
            continue;
        insertRow(row, MakeNode(roots[wanted].path, roots[wanted].path, roots[wanted].image));
        Watch(roots[wanted].path);
    }
}

void FolderTreeModel::ExpandFolderNode(const QModelIndex& node)
{
    QStandardItem* item = itemFromIndex(node);
    const std::optional<std::string> path = folderPath(node);
    if (item == nullptr || !path)
        return;
    ForgetBelow(item);
    item->removeRows(0, item->rowCount());
    QList<QStandardItem*> children;
    for (const std::string& name : ListSubfolders(*path))
        children.append(MakeNode(name, *path + name + "/", kImageFolderClosed));
    item->appendRows(children);
    Watch(*path);
}

// A root the watcher has let go of is gone; an opened folder that changed gets its children
// brought up to date.
void FolderTreeModel::FolderChanged(const QString& path)
{
    const std::string folder = path.toStdString();
    bool rootGone = false;
    for (int row = 0; row < rowCount(); ++row)
        rootGone = rootGone || (folderPath(index(row, 0)) == folder && !watcher_->directories().contains(path));
    if (rootGone) {
        emit this->rootGone();
        return;
    }
    const QModelIndexList nodes = match(index(0, 0), FolderPathRole, QByteArray::fromStdString(folder), -1,
                                        Qt::MatchExactly | Qt::MatchRecursive);
    for (const QModelIndex& node : nodes) {
        if (QStandardItem* item = itemFromIndex(node); item != nullptr && Opened(item))
            UpdateChildren(item, folder);
    }
}

// Removes the children whose folder is gone and inserts the new ones in their place in name
// order; the children that stay keep what is open below them.
void FolderTreeModel::UpdateChildren(QStandardItem* node, const std::string& path)
{
    const std::vector<std::string> names = ListSubfolders(path);
    // The name as the folder holds it, which its text may not show byte for byte.
    const auto nameAt = [&](int row) {
        const std::string childPath = node->child(row)->data(FolderPathRole).toByteArray().toStdString();
        return childPath.substr(path.size(), childPath.size() - path.size() - 1);
    };
    for (int row = node->rowCount() - 1; row >= 0; --row) {
        if (std::ranges::find(names, nameAt(row)) == names.end()) {
            ForgetBelow(node->child(row));
            watcher_->removePath(ToQString(path + nameAt(row) + "/"));
            node->removeRow(row);
        }
    }
    for (std::size_t wanted = 0; wanted < names.size(); ++wanted) {
        const int row = static_cast<int>(wanted);
        if (row < node->rowCount() && nameAt(row) == names[wanted])
            continue;
        node->insertRow(row, MakeNode(names[wanted], path + names[wanted] + "/", kImageFolderClosed));
    }
}

void FolderTreeModel::Watch(const std::string& path)
{
    const QString folder = ToQString(path);
    if (!watcher_->directories().contains(folder))
        watcher_->addPath(folder);
}

// Stops watching the folders opened below node, which are about to go.
void FolderTreeModel::ForgetBelow(QStandardItem* node)
{
    for (int row = 0; row < node->rowCount(); ++row) {
        QStandardItem* child = node->child(row);
        if (const QVariant path = child->data(FolderPathRole); path.isValid() && Opened(child))
            watcher_->removePath(ToQString(path.toByteArray().toStdString()));
        ForgetBelow(child);
    }
}

// Whether node's children have been read: a closed node holds only the placeholder.
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
