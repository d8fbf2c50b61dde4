#include "audio/replacefile.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::filesystem::path FolderOf(const std::string &target)
{
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

} // namespace

int CreateBeside(const std::string &target, std::string &name)
{
    const std::filesystem::path folder = FolderOf(target);
    thread_local std::mt19937 random{std::random_device{}()};
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof Letters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string leaf = ".gbx";
        for (int i = 0; i < 8; ++i)
            leaf += Letters[pick(random)];
        name = (folder / (leaf + ".tmp")).string();
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void SyncFolderOf(const std::string &target)
{
    const int fd = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string ReplacementTarget(const std::string &fileName)
{
    // The kernel follows at most 40 links in a path; so do we.
    constexpr int MaxLinks = 40;
    std::filesystem::path path = fileName;
    for (int step = 0; step < MaxLinks; ++step) {
        std::error_code error;
        if (!std::filesystem::is_symlink(path, error))
            return path.string();
        const std::filesystem::path next = std::filesystem::read_symlink(path, error);
        if (error)
            return fileName;
        // A relative link is read from the folder the link lies in.
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return fileName;
}

TFileReplacement::TFileReplacement(const std::string &fileName) : target(ReplacementTarget(fileName)) {}

TFileReplacement::~TFileReplacement()
{
    Abandon();
}

bool TFileReplacement::Open()
{
    Abandon();
    fd = CreateBeside(target, temporary);
    if (fd < 0) {
        temporary.clear();
        return false;
    }
    // A file being replaced keeps its permissions.
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        ::fchmod(fd, existing.st_mode & 07777);
    return true;
}

std::FILE *TFileReplacement::Stream()
{
    if (!stream && fd >= 0)
        stream = ::fdopen(fd, "w+b");
    return stream;
}

bool TFileReplacement::Commit()
{
    if (fd < 0)
        return false;
    bool written = true;
    if (stream) {
        written = std::fflush(stream) == 0 && ::fsync(fd) == 0;
        written = std::fclose(stream) == 0 && written;
    } else {
        written = ::fsync(fd) == 0;
        written = ::close(fd) == 0 && written;
    }
    stream = nullptr;
    fd = -1;
    if (written && ::rename(temporary.c_str(), target.c_str()) == 0) {
        SyncFolderOf(target);
        temporary.clear();
        return true;
    }
    ::unlink(temporary.c_str());
    temporary.clear();
    return false;
}

void TFileReplacement::Abandon()
{
    if (stream)
        std::fclose(stream);
    else if (fd >= 0)
        ::close(fd);
    stream = nullptr;
    fd = -1;
    if (!temporary.empty())
        ::unlink(temporary.c_str());
    temporary.clear();
}
