#include "search/folder_tree_model.h"

#include "platform/qt_text.h"

#include <QApplication>
#include <QStyle>

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

FolderTreeModel::FolderTreeModel(QObject* parent) : QStandardItemModel(parent)
{
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
    for (const FolderRoot& root : roots)
        appendRow(MakeNode(root.path, root.path, root.image));
}

void FolderTreeModel::ExpandFolderNode(const QModelIndex& node)
{
    QStandardItem* item = itemFromIndex(node);
    const std::optional<std::string> path = folderPath(node);
    if (item == nullptr || !path)
        return;
    item->removeRows(0, item->rowCount());
    QList<QStandardItem*> children;
    for (const std::string& name : ListSubfolders(*path))
        children.append(MakeNode(name, *path + name + "/", kImageFolderClosed));
    item->appendRows(children);
}

std::optional<std::string> FolderTreeModel::folderPath(const QModelIndex& node) const
{
    const QVariant path = node.data(FolderPathRole);
    if (!path.isValid())
        return std::nullopt;
    return path.toByteArray().toStdString();
}
