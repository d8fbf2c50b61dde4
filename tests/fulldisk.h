// SPDX-License-Identifier: GPL-3.0-or-later
// Full disks for tests, two ways:
//   SmallDisk      a tmpfs of a few hundred KiB mounted for the test (needs
//                  root); Fill() leaves it with no room at all
//   FileSizeLimit  this process may not make a file larger than N bytes
//                  (RLIMIT_FSIZE): a write past it fails with EFBIG, as on
//                  a full disk; works for every user
// DiskKinds() lists the ones this machine offers, so a test can run the same
// case on both.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fulldisk {

// Lowers the file-size limit of this process for the life of the object.
// SIGXFSZ is ignored meanwhile so that the write just fails.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = old;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit old{};
    void (*oldHandler)(int) = nullptr;
};

// A tmpfs mounted on a fresh folder under the system's temporary folder,
// unmounted and removed afterwards. Mounted() is false where the machine
// does not allow it (not root, no mount rights in a container).
class SmallDisk {
public:
    explicit SmallDisk(std::size_t bytes = 512 * 1024)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "gbxdiskXXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            return;
        folder = pattern;
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
        mounted = ::geteuid() == 0 && ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(folder.c_str(), MNT_DETACH);
        if (!folder.empty())
            ::rmdir(folder.c_str());
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool Mounted() const { return mounted; }
    const std::string &Folder() const { return folder; }
    std::string File(const std::string &leaf) const { return folder + "/" + leaf; }

    // Writes "filler" until the disk takes no more; true when it is full.
    bool Fill() const
    {
        const int fd = ::open(File("filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const std::vector<char> block(4096, 'f');
        // Whole pages first, then single bytes into the last page.
        bool full = false;
        for (std::size_t piece : {block.size(), std::size_t{1}}) {
            for (int i = 0; i < (1 << 20); ++i) {
                if (::write(fd, block.data(), piece) < 0) {
                    full = errno == ENOSPC;
                    break;
                }
            }
        }
        ::close(fd);
        return full;
    }

    // Fills the disk, then frees about `room` bytes again.
    bool FillLeaving(off_t room) const
    {
        if (!Fill())
            return false;
        const std::string filler = File("filler");
        struct stat info {};
        return ::stat(filler.c_str(), &info) == 0 && info.st_size > room &&
               ::truncate(filler.c_str(), info.st_size - room) == 0;
    }

private:
    std::string folder;
    bool mounted = false;
};

// A full disk of either kind: files made in Folder() cannot grow beyond what
// is already written (tmpfs), or beyond Limit bytes (file-size limit).
class FullDisk {
public:
    enum class TKind { Tmpfs, FileSizeLimit };

    // folder: where the file-size kind writes (the tmpfs kind has its own).
    FullDisk(TKind kind, const std::string &folder) : kind(kind), fallbackFolder(folder)
    {
        if (kind == TKind::Tmpfs)
            disk = std::make_unique<SmallDisk>();
    }
    bool Available() const { return kind == TKind::FileSizeLimit || (disk && disk->Mounted()); }
    const char *Name() const { return kind == TKind::Tmpfs ? "tmpfs" : "file-size limit"; }
    std::string Folder() const { return kind == TKind::Tmpfs ? disk->Folder() : fallbackFolder; }
    std::string File(const std::string &leaf) const { return Folder() + "/" + leaf; }

    // From now on the disk is full: the tmpfs is filled, or the limit set
    // to limitBytes (which must be above every file already there).
    bool MakeFull(rlim_t limitBytes)
    {
        if (kind == TKind::Tmpfs)
            return disk->Fill();
        limit = std::make_unique<FileSizeLimit>(limitBytes);
        return true;
    }
    // Room again (the limit lifted, the filler removed).
    void Release()
    {
        limit.reset();
        if (kind == TKind::Tmpfs)
            ::unlink(disk->File("filler").c_str());
    }
    // Entries a test should find besides its own files.
    std::vector<std::string> Extra() const
    {
        return kind == TKind::Tmpfs ? std::vector<std::string>{"filler"} : std::vector<std::string>{};
    }

private:
    TKind kind;
    std::string fallbackFolder;
    std::unique_ptr<SmallDisk> disk;
    std::unique_ptr<FileSizeLimit> limit;
};

inline std::vector<FullDisk::TKind> DiskKinds()
{
    return {FullDisk::TKind::Tmpfs, FullDisk::TKind::FileSizeLimit};
}

} // namespace fulldisk
