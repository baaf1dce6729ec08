#include "search/folder_tree.h"

#include <gtest/gtest.h>

TEST(FolderRoots, HomeThenSystemThenEveryOtherVolumeOnceWithTheCdImageForDiscs)
{
    const std::vector<Volume> volumes = {{"/", VolumeKind::Fixed, "ext4", "/dev/sda1"},
                                         {"/media/alice/CARD/", VolumeKind::Removable, "vfat", "/dev/sdb1"},
                                         {"/media/alice/DISC/", VolumeKind::CdRom, "iso9660", "/dev/sr0"},
                                         {"/home/alice/", VolumeKind::Fixed, "ext4", "/dev/sda2"}};
    const std::vector<FolderRoot> roots = FolderRoots(volumes, "/home/alice");
    std::vector<std::string> paths;
    for (const FolderRoot& root : roots)
        paths.push_back(root.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/home/alice/", "/", "/media/alice/CARD/", "/media/alice/DISC/"}));
    EXPECT_EQ(roots[2].image, kImageDisk);
    EXPECT_EQ(roots[3].image, kImageCdDrive);

    // Without a volume table the home folder and "/" are still there.
    EXPECT_EQ(FolderRoots({}, "/root").size(), 2u);
}
