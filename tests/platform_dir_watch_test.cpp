// Which file systems let the run-now poll trust inotify and skip its listing.
#include <linux/magic.h>

#include <gtest/gtest.h>

#include "agent/platform/posix/layer.h"

namespace omvar::platform {
namespace {

TEST(DirWatchRule, OnlyFileSystemsThatThisKernelAloneChangesAreTrusted) {
    const struct {
        const char* name;
        unsigned long type;
        bool trusted;
    } cases[] = {
        {"ext2/ext3/ext4", EXT4_SUPER_MAGIC, true},
        {"XFS", XFS_SUPER_MAGIC, true},
        {"Btrfs", BTRFS_SUPER_MAGIC, true},
        {"F2FS", F2FS_SUPER_MAGIC, true},
        {"tmpfs", TMPFS_MAGIC, true},
        // Written from elsewhere without an event here.
        {"overlayfs", OVERLAYFS_SUPER_MAGIC, false},
        {"NFS", NFS_SUPER_MAGIC, false},
        {"CIFS", CIFS_SUPER_MAGIC, false},
        {"SMB2", SMB2_SUPER_MAGIC, false},
        {"FUSE", FUSE_SUPER_MAGIC, false},
        {"9P", V9FS_MAGIC, false},
        {"Ceph", CEPH_SUPER_MAGIC, false},
        {"OCFS2", OCFS2_SUPER_MAGIC, false},
        {"GFS2", 0x01161970UL, false},
        {"VirtualBox shared folder", 0x786F4256UL, false},
        // Not known: listed, as before the watch existed.
        {"ramfs", RAMFS_MAGIC, false},
        {"zero", 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(file_system_reports_every_change(c.type), c.trusted) << c.name;
    }
}

}  // namespace
}  // namespace omvar::platform
