#include "VornTestTmpfs.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

VornTestTmpfs::VornTestTmpfs(const std::string& size) {
    const std::string options = "size=" + size + ",mode=0755";
    if (::mount("tmpfs", path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
        mounted_ = true;
    } else {
        failure_ = std::string("mount -t tmpfs: ") + std::strerror(errno);
    }
}

VornTestTmpfs::~VornTestTmpfs() {
    if (mounted_) {
        ::umount2(path().c_str(), MNT_DETACH);
    }
}
