#include "platform/file_attributes.h"
#include "platform/recording_walk.h"
#include "platform/volumes.h"
#include "support/private_mounts.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> WalkedNames(const std::string& folder)
{
    std::vector<std::string> names;
    WalkRecordings(folder, [&](const WalkEntry& entry) {
        names.push_back(entry.name);
        return true;
    });
    std::sort(names.begin(), names.end());
    return names;
}

// Unmounts at the end of a test, also when an assertion ends it early.
class MountGuard {
public:
    explicit MountGuard(std::string mountPoint) : mountPoint_(std::move(mountPoint)) {}
    ~MountGuard()
    {
        if (::umount(mountPoint_.c_str()) != 0)
            ::umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    MountGuard(const MountGuard&) = delete;
    MountGuard& operator=(const MountGuard&) = delete;

private:
    std::string mountPoint_;
};

// A FAT image with VOICE/VOC0000n.WAV, each file given the mattrib flags of its line.
std::string MakeFatImage(const TempFolder& folder, const std::vector<std::pair<std::string, std::string>>& files,
                         std::string& why)
{
    const std::string image = folder.Path("card.img");
    std::string command = "mkfs.vfat -C '" + image + "' 4096 >/dev/null && mmd -i '" + image + "' ::VOICE";
    for (const auto& [name, flags] : files) {
        const std::string source = folder.Write(name, std::string(300, 'x'));
        command += " && mcopy -i '" + image + "' '" + source + "' ::VOICE/" + name;
        if (!flags.empty())
            command += " && mattrib -i '" + image + "' " + flags + " ::VOICE/" + name;
    }
    std::string output;
    if (!RunShell(command, &output)) {
        why = "cannot make a FAT image with dosfstools and mtools: " + output;
        return {};
    }
    return image;
}

TEST(FileAttributes, MadeUpWordFollowsTypeOwnerWriteBitAndName)
{
    TempFolder folder;
    const std::string file = folder.Write("VOC00001.WAV", "x");
    EXPECT_EQ(FileAttributes(file), kAttrArchive);

    ASSERT_EQ(::chmod(folder.Write("readonly.wav", "x").c_str(), 0444), 0);
    EXPECT_EQ(FileAttributes(folder.Path("readonly.wav")), kAttrArchive | kAttrReadOnly);
    ASSERT_EQ(::chmod(folder.Write("others-write.wav", "x").c_str(), 0466), 0);
    EXPECT_EQ(FileAttributes(folder.Path("others-write.wav")), kAttrArchive | kAttrReadOnly);
    ASSERT_EQ(::chmod(folder.Write("owner-write-only.wav", "x").c_str(), 0200), 0);
    EXPECT_EQ(FileAttributes(folder.Path("owner-write-only.wav")), kAttrArchive);
    EXPECT_EQ(FileAttributes(folder.Write(".hidden.wav", "x")), kAttrArchive | kAttrHidden);

    ASSERT_EQ(::mkdir(folder.Path("VOICE").c_str(), 0755), 0);
    EXPECT_EQ(FileAttributes(folder.Path("VOICE")), kAttrDirectory);
    EXPECT_EQ(FileAttributes(folder.Path("VOICE/")), kAttrDirectory);
    EXPECT_EQ(FileAttributes(folder.Path("VOICE//")), kAttrDirectory);
    ASSERT_EQ(::mkdir(folder.Path(".cache").c_str(), 0755), 0);
    EXPECT_EQ(FileAttributes(folder.Path(".cache")), kAttrDirectory | kAttrHidden);
    ASSERT_EQ(::mkdir(folder.Path("locked").c_str(), 0555), 0);
    EXPECT_EQ(FileAttributes(folder.Path("locked")), kAttrDirectory | kAttrReadOnly);
    // "/", "." and ".." start with a dot but are not hidden.
    EXPECT_EQ(FileAttributes("/"), kAttrDirectory);
    EXPECT_EQ(FileAttributes(folder.Path(".")), kAttrDirectory);
    EXPECT_EQ(FileAttributes(folder.Path("VOICE/..")), kAttrDirectory);

    // A link is reported as itself, whatever it points to or whether it points anywhere.
    ASSERT_EQ(::symlink(file.c_str(), folder.Path("link-to-file").c_str()), 0);
    EXPECT_EQ(FileAttributes(folder.Path("link-to-file")), kAttrReparsePoint);
    ASSERT_EQ(::symlink("VOICE", folder.Path("link-to-folder").c_str()), 0);
    EXPECT_EQ(FileAttributes(folder.Path("link-to-folder")), kAttrReparsePoint);
    ASSERT_EQ(::symlink("nowhere", folder.Path("dangling").c_str()), 0);
    EXPECT_EQ(FileAttributes(folder.Path("dangling")), kAttrReparsePoint);

    ASSERT_EQ(::mkfifo(folder.Path("pipe").c_str(), 0644), 0);
    EXPECT_EQ(FileAttributes(folder.Path("pipe")), kAttrSystem);

    EXPECT_EQ(FileAttributes(folder.Path("missing")), kInvalidAttributes);
    EXPECT_EQ(FileAttributes(folder.Path("missing/VOC00001.WAV")), kInvalidAttributes);
    EXPECT_EQ(FileAttributes(file + "/inside"), kInvalidAttributes);
    EXPECT_EQ(FileAttributes(""), kInvalidAttributes);
}

TEST(FileAttributes, KernelFatVolumeGivesTheRealDosAttributeByte)
{
    if (!KernelHasFileSystem("vfat"))
        GTEST_SKIP() << "this kernel has no FAT driver (vfat is not in /proc/filesystems); the real DOS "
                        "attributes can only be checked on a machine that has one";
    const std::string why = EnterPrivateMountNamespace();
    if (!why.empty())
        GTEST_SKIP() << "cannot mount a FAT image here: " << why;
    TempFolder folder;
    std::string imageError;
    const std::string image = MakeFatImage(folder,
                                           {{"VOC00001.WAV", ""},
                                            {"VOC00002.WAV", "-a"},
                                            {"VOC00003.WAV", "+r"},
                                            {"VOC00004.WAV", "+h"},
                                            {"VOC00005.WAV", "+s"}},
                                           imageError);
    if (image.empty())
        GTEST_SKIP() << imageError;
    const std::string mountPoint = folder.Path("card");
    ASSERT_EQ(::mkdir(mountPoint.c_str(), 0755), 0);
    std::string output;
    if (!RunShell("mount -t vfat -o loop '" + image + "' '" + mountPoint + "'", &output))
        GTEST_SKIP() << "the kernel FAT driver cannot mount a loop image here: " << output;
    MountGuard unmount(mountPoint);

    const std::string voice = mountPoint + "/VOICE/";
    EXPECT_EQ(FileAttributes(voice + "VOC00001.WAV"), kAttrArchive);
    EXPECT_EQ(FileAttributes(voice + "VOC00002.WAV"), kAttrNormal);  // no bit at all reads as "normal"
    EXPECT_EQ(FileAttributes(voice + "VOC00003.WAV"), kAttrArchive | kAttrReadOnly);
    EXPECT_EQ(FileAttributes(voice + "VOC00004.WAV"), kAttrArchive | kAttrHidden);
    EXPECT_EQ(FileAttributes(voice + "VOC00005.WAV"), kAttrArchive | kAttrSystem);
    EXPECT_NE(FileAttributes(voice) & kAttrDirectory, 0u);
    EXPECT_EQ(WalkedNames(voice), std::vector<std::string>{"VOC00001.WAV"});
}

TEST(FileAttributes, FuseFatCardUnderMediaIsRemovableWithMadeUpAttributes)
{
    if (::access("/usr/bin/fusefat", X_OK) != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "fusefat or /dev/fuse is missing, so no FAT image can be mounted through FUSE";
    const std::string why = EnterPrivateMountNamespace();
    if (!why.empty())
        GTEST_SKIP() << "cannot mount a FAT image here: " << why;
    TempFolder folder;
    std::string imageError;
    const std::string image = MakeFatImage(folder, {{"VOC00001.WAV", ""}, {"voc00002.wav", ""}}, imageError);
    if (image.empty())
        GTEST_SKIP() << imageError;
    // An empty /media of this namespace only, where the desktop would mount a card.
    if (::mount("tmpfs", "/media", "tmpfs", 0, "mode=755") != 0)
        GTEST_SKIP() << "cannot mount a private tmpfs on /media: " << std::strerror(errno);
    MountGuard unmountMedia("/media");
    const std::string mountPoint = "/media/SD CARD";
    ASSERT_EQ(::mkdir(mountPoint.c_str(), 0755), 0);
    std::string output;
    if (!RunShell("fusefat -o rw+ '" + image + "' '" + mountPoint + "'", &output))
        GTEST_SKIP() << "fusefat cannot mount the image here: " << output;
    MountGuard unmountCard(mountPoint);

    // FUSE does not answer the FAT ioctl: the word is made up from the file type.
    EXPECT_EQ(FileAttributes(mountPoint + "/VOICE"), kAttrDirectory);
    EXPECT_EQ(FileAttributes(mountPoint + "/VOICE/VOC00001.WAV"), kAttrArchive);
    EXPECT_EQ(WalkedNames(mountPoint + "/VOICE"), (std::vector<std::string>{"VOC00001.WAV", "VOC00002.WAV"}));

    bool listed = false;
    for (const Volume& volume : ReadVolumes()) {
        if (volume.mountPoint == mountPoint + "/") {
            listed = true;
            EXPECT_EQ(volume.kind, VolumeKind::Removable);
            EXPECT_EQ(volume.fsType, "fuse.fusefat");
        }
    }
    EXPECT_TRUE(listed) << mountPoint << " is missing from the volume table";
}

} // namespace
