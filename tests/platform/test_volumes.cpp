#include "platform/volumes.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>

// Names in failure messages; found by gtest through the enum's own namespace.
static std::ostream& operator<<(std::ostream& out, VolumeKind kind)
{
    static const char* const names[] = {"Removable", "Fixed", "Remote", "CdRom", "RamDisk"};
    return out << names[static_cast<int>(kind)];
}

namespace {

struct Expected {
    std::string mountPoint;
    VolumeKind kind;
    std::string fsType;
    std::string source;
};

// A made-up /sys: each block device is a folder under devices/ with its "removable" file,
// reached through dev/block/MAJ:MIN and class/block/NAME as on a real machine.
class FakeSysfs {
public:
    explicit FakeSysfs(const TempFolder& folder) : root_(folder.Path("sys")) {}
    const std::string& root() const { return root_; }

    // devicePath runs from devices/ to the disk's folder, for example
    // "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb".
    void AddDisk(const std::string& devicePath, const std::string& majorMinor, bool removableFlag) const
    {
        const std::filesystem::path disk = std::filesystem::path(root_) / "devices" / devicePath;
        std::filesystem::create_directories(disk);
        WriteLine(disk / "removable", removableFlag ? "1" : "0");
        Link(disk, majorMinor);
    }
    void AddPartition(const std::string& diskPath, const std::string& name, const std::string& majorMinor) const
    {
        const std::filesystem::path partition = std::filesystem::path(root_) / "devices" / diskPath / name;
        std::filesystem::create_directories(partition);
        WriteLine(partition / "partition", "1");
        Link(partition, majorMinor);
    }

private:
    static void WriteLine(const std::filesystem::path& file, const std::string& text)
    {
        TempFolder::WriteFile(file.string(), text + "\n");
    }
    void Link(const std::filesystem::path& device, const std::string& majorMinor) const
    {
        const std::filesystem::path devBlock = std::filesystem::path(root_) / "dev" / "block";
        const std::filesystem::path classBlock = std::filesystem::path(root_) / "class" / "block";
        std::filesystem::create_directories(devBlock);
        std::filesystem::create_directories(classBlock);
        // Relative links, as the kernel makes them.
        std::filesystem::create_directory_symlink(std::filesystem::relative(device, devBlock),
                                                  devBlock / majorMinor);
        std::filesystem::create_directory_symlink(std::filesystem::relative(device, classBlock),
                                                  classBlock / device.filename());
    }

    std::string root_;
};

const std::string kUsbStick = "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
const std::string kSataDisk = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda";
const std::string kSdSlot = "platform/soc/fe300000.mmc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0";
const std::string kFixedReader = "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sdc";
const std::string kOpticalDrive = "pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0/block/sr0";
const std::string kNvmeDisk = "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1";
const std::string kLoop = "virtual/block/loop0";

void MakeMachine(const FakeSysfs& sysfs)
{
    // USB sticks often say removable=0: the bus alone makes them removable.
    sysfs.AddDisk(kUsbStick, "8:16", false);
    sysfs.AddPartition(kUsbStick, "sdb1", "8:17");
    sysfs.AddDisk(kSataDisk, "8:0", false);
    sysfs.AddPartition(kSataDisk, "sda1", "8:1");
    sysfs.AddPartition(kSataDisk, "sda2", "8:2");
    sysfs.AddDisk(kSdSlot, "179:0", false);
    sysfs.AddPartition(kSdSlot, "mmcblk0p1", "179:1");
    // A card reader inside the case: on the SATA bus, but the disk says it is removable.
    sysfs.AddDisk(kFixedReader, "8:32", true);
    sysfs.AddDisk(kOpticalDrive, "11:0", true);
    sysfs.AddDisk(kNvmeDisk, "259:0", false);
    sysfs.AddPartition(kNvmeDisk, "nvme0n1p2", "259:2");
    sysfs.AddDisk(kLoop, "7:0", false);
}

const char* const kMountTable =
    "21 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n"
    "22 21 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
    "23 21 0:22 / /sys rw,nosuid,nodev,noexec,relatime shared:2 - sysfs sysfs rw\n"
    "24 21 0:5 / /dev rw,nosuid,relatime shared:8 - devtmpfs udev rw,size=8000000k\n"
    "25 24 0:23 / /dev/pts rw,nosuid,noexec,relatime shared:9 - devpts devpts rw,gid=5,mode=620\n"
    "26 24 0:24 / /dev/shm rw,nosuid,nodev shared:10 - tmpfs tmpfs rw\n"
    "27 23 0:25 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 rw\n"
    "28 21 0:26 / /run rw,nosuid,nodev,noexec,relatime shared:11 - tmpfs tmpfs rw,size=1600000k,mode=755\n"
    "29 21 0:27 / /tmp rw,nosuid,nodev shared:13 - tmpfs tmpfs rw\n"
    "30 21 8:1 / /boot/efi rw,relatime shared:14 - vfat /dev/sda1 rw,fmask=0077\n"
    "31 21 0:45 /@home /home rw,relatime shared:15 - btrfs /dev/nvme0n1p2 rw,ssd\n"
    "32 21 0:50 / /mnt/nfs rw,relatime shared:16 - nfs4 server:/export rw,vers=4.2\n"
    "33 21 0:51 / /mnt/share rw,relatime shared:17 - cifs //nas/share rw,vers=3.1.1\n"
    "34 21 0:52 / /mnt/ssh rw,nosuid,nodev,relatime shared:18 - fuse.sshfs alice@host:/ rw,user_id=1000\n"
    "35 21 11:0 / /mnt/cdrom ro,relatime shared:19 - iso9660 /dev/sr0 ro\n"
    "36 21 7:0 / /mnt/iso ro,relatime shared:20 - udf /dev/loop0 ro\n"
    "37 28 179:1 / /run/media/alice/SDCARD rw,nosuid,nodev shared:21 - exfat /dev/mmcblk0p1 rw\n"
    "38 21 8:17 / /mnt/usb rw,relatime shared:22 - vfat /dev/sdb1 rw\n"
    "39 21 8:32 / /mnt/reader rw,relatime shared:23 - vfat /dev/sdc rw\n"
    "40 21 0:53 / /media/alice/CARD rw,nosuid,nodev,relatime shared:24 - fuse.fusefat fusefat rw,user_id=0\n"
    "41 21 8:17 / /media/alice/MY\\040CARD\\011\\134x rw,relatime shared:25 - vfat /dev/sdb1 rw\n"
    "42 21 8:2 /srv /mnt/data rw,relatime shared:26 - ext4 /dev/sda2 rw\n"
    "43 42 0:54 / /mnt/data rw,relatime shared:27 - tmpfs tmpfs rw\n"
    "44 21 0:55 / /proc/sys/fs/binfmt_misc rw,relatime shared:28 - binfmt_misc binfmt_misc rw\n"
    "45 28 0:56 / /run/user/1000/gvfs rw,nosuid,nodev,relatime shared:29 - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "46 21 0:57 / /mnt/ram rw,relatime shared:30 - ramfs ramfs rw\n";

TEST(VolumeTable, ClassifiesEveryKindOfMountInMountPointOrder)
{
    TempFolder folder;
    const FakeSysfs sysfs(folder);
    MakeMachine(sysfs);
    const std::string mountInfo = folder.Write("mountinfo", kMountTable);

    const std::vector<Expected> expected{
        {"/", VolumeKind::Fixed, "ext4", "/dev/sda2"},
        {"/boot/efi/", VolumeKind::Fixed, "vfat", "/dev/sda1"},
        {"/home/", VolumeKind::Fixed, "btrfs", "/dev/nvme0n1p2"},  // 0:45 is no block device: found by name
        {"/media/alice/CARD/", VolumeKind::Removable, "fuse.fusefat", "fusefat"},
        {"/media/alice/MY CARD\t\\x/", VolumeKind::Removable, "vfat", "/dev/sdb1"},
        {"/mnt/cdrom/", VolumeKind::CdRom, "iso9660", "/dev/sr0"},
        {"/mnt/data/", VolumeKind::RamDisk, "tmpfs", "tmpfs"},  // the topmost of two mounts
        {"/mnt/iso/", VolumeKind::CdRom, "udf", "/dev/loop0"},
        {"/mnt/nfs/", VolumeKind::Remote, "nfs4", "server:/export"},
        {"/mnt/ram/", VolumeKind::RamDisk, "ramfs", "ramfs"},
        {"/mnt/reader/", VolumeKind::Removable, "vfat", "/dev/sdc"},
        {"/mnt/share/", VolumeKind::Remote, "cifs", "//nas/share"},
        {"/mnt/ssh/", VolumeKind::Remote, "fuse.sshfs", "alice@host:/"},
        {"/mnt/usb/", VolumeKind::Removable, "vfat", "/dev/sdb1"},
        {"/run/", VolumeKind::RamDisk, "tmpfs", "tmpfs"},
        {"/run/media/alice/SDCARD/", VolumeKind::Removable, "exfat", "/dev/mmcblk0p1"},
        {"/tmp/", VolumeKind::RamDisk, "tmpfs", "tmpfs"},
    };
    const std::vector<Volume> volumes = ReadVolumes({mountInfo, sysfs.root()});
    ASSERT_EQ(volumes.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].mountPoint);
        EXPECT_EQ(volumes[i].mountPoint, expected[i].mountPoint);
        EXPECT_EQ(volumes[i].kind, expected[i].kind);
        EXPECT_EQ(volumes[i].fsType, expected[i].fsType);
        EXPECT_EQ(volumes[i].source, expected[i].source);
    }
}

TEST(VolumeTable, BusAndRemovableFlagDecideBlockDevicesOutsideMedia)
{
    TempFolder folder;
    const FakeSysfs sysfs(folder);
    MakeMachine(sysfs);
    // The same SD card mounted outside /media: the MMC bus still makes it removable.
    // An optical drive is a CD whatever the file system on the disc says.
    const std::string mountInfo = folder.Write("mountinfo",
                                               "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n"
                                               "2 1 179:1 / /mnt/sd rw - vfat /dev/mmcblk0p1 rw\n"
                                               "3 1 11:0 / /mnt/disc ro - vfat /dev/sr0 ro\n"
                                               "4 1 259:2 / /mnt/nvme rw - ext4 /dev/nvme0n1p2 rw\n"
                                               "5 1 7:0 / /mnt/loop rw - ext4 /dev/loop0 rw\n");
    const std::vector<Volume> volumes = ReadVolumes({mountInfo, sysfs.root()});
    ASSERT_EQ(volumes.size(), 5u);
    EXPECT_EQ(volumes[1].mountPoint, "/mnt/disc/");
    EXPECT_EQ(volumes[1].kind, VolumeKind::CdRom);
    EXPECT_EQ(volumes[2].mountPoint, "/mnt/loop/");
    EXPECT_EQ(volumes[2].kind, VolumeKind::Fixed);
    EXPECT_EQ(volumes[3].mountPoint, "/mnt/nvme/");
    EXPECT_EQ(volumes[3].kind, VolumeKind::Fixed);
    EXPECT_EQ(volumes[4].mountPoint, "/mnt/sd/");
    EXPECT_EQ(volumes[4].kind, VolumeKind::Removable);
}

TEST(VolumeTable, DamagedOrMissingTablesGiveWhatCanBeRead)
{
    TempFolder folder;
    EXPECT_TRUE(ReadVolumes({folder.Path("missing"), folder.Path("sys")}).empty());
    EXPECT_TRUE(ReadVolumes({folder.Write("empty", ""), folder.Path("sys")}).empty());

    // Lines cut short, without the separator, with a relative mount point, or with
    // an escape at the very end: skipped or kept as written, never a crash.
    const std::string mountInfo = folder.Write("damaged",
                                               "garbage\n"
                                               "1 0 8:2 / / rw\n"
                                               "2 0 8:2 / relative rw - ext4 /dev/sda2 rw\n"
                                               "x y 8:2 / /mnt/x rw - ext4 /dev/sda2 rw\n"
                                               "3 0 0:1 / /mnt/end\\04 rw - tmpfs tmpfs rw\n"
                                               "4 0 0:2 / /mnt/high\\777 rw - tmpfs tmpfs rw\n"
                                               "5 0 0:3 / /mnt/nosource rw - tmpfs\n"
                                               "\n");
    const std::vector<Volume> volumes = ReadVolumes({mountInfo, folder.Path("sys")});
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(volumes[0].mountPoint, "/mnt/end\\04/");
    EXPECT_EQ(volumes[1].mountPoint, "/mnt/high\\777/");
    EXPECT_EQ(volumes[2].mountPoint, "/mnt/nosource/");
    EXPECT_EQ(volumes[2].kind, VolumeKind::RamDisk);
    EXPECT_EQ(volumes[2].source, "");
}

} // namespace
