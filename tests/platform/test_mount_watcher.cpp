#include "platform/mount_watcher.h"
#include "support/private_mounts.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

// Long enough never to be reached when the change has come; only a missing wake-up waits it out.
constexpr int kWakeUpLimitMs = 10000;

TEST(MountWatcher, WakesOnEveryMountAndUnmountAndStaysQuietInBetween)
{
    const std::string why = EnterPrivateMountNamespace();
    if (!why.empty())
        GTEST_SKIP() << "cannot mount anything in a private namespace here: " << why;
    TempFolder folder;
    const std::string mountPoint = folder.Path("mnt");
    ASSERT_EQ(::mkdir(mountPoint.c_str(), 0755), 0);

    MountWatcher watcher;
    ASSERT_TRUE(watcher.valid());
    watcher.Acknowledge();
    EXPECT_FALSE(watcher.WaitForChange(0)) << "a change reported before anything was mounted";

    ASSERT_EQ(::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
    EXPECT_TRUE(watcher.WaitForChange(kWakeUpLimitMs)) << "the mount went unnoticed";
    watcher.Acknowledge();
    EXPECT_FALSE(watcher.WaitForChange(0)) << "the mount was reported again after it was taken in";

    ASSERT_EQ(::umount(mountPoint.c_str()), 0) << std::strerror(errno);
    EXPECT_TRUE(watcher.WaitForChange(kWakeUpLimitMs)) << "the unmount went unnoticed";
    watcher.Acknowledge();
    EXPECT_FALSE(watcher.WaitForChange(0));

    // Two changes before the watcher looks: one wake-up is enough to arm the scan timer.
    ASSERT_EQ(::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k"), 0);
    ASSERT_EQ(::umount(mountPoint.c_str()), 0);
    EXPECT_TRUE(watcher.WaitForChange(kWakeUpLimitMs));
}

TEST(MountWatcher, UnreadableOrPlainTableNeverWakesNorCrashes)
{
    TempFolder folder;
    MountWatcher missing(folder.Path("missing"));
    EXPECT_FALSE(missing.valid());
    EXPECT_LT(missing.fd(), 0);
    missing.Acknowledge();
    EXPECT_FALSE(missing.WaitForChange(kWakeUpLimitMs));

    // A plain file is always readable but never signals a change.
    MountWatcher plain(folder.Write("mountinfo", "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"));
    EXPECT_TRUE(plain.valid());
    plain.Acknowledge();
    EXPECT_FALSE(plain.WaitForChange(0));
}

} // namespace
