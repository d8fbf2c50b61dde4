// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/replacefile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The kernel follows at most 40 links in a path; so do we.
constexpr int MaxLinks = 40;

const char *const PlantedLinkText =
    "it is a symbolic link that another user left in a folder everyone may write to; it is not followed";

thread_local std::string LastFailure;
std::atomic<bool> LinksAsNames{false};

// The process's temporary files, by entry number: the folder's descriptor
// (AT_FDCWD for a path) and the name in it.
struct TemporaryList {
    std::mutex Lock;
    std::map<uint64_t, std::pair<int, std::string>> Files;
    uint64_t Next = 1;
};

TemporaryList &Temporaries()
{
    static TemporaryList *list = new TemporaryList; // never destroyed: used until _exit
    return *list;
}

// Runs create() (which gives a descriptor, or -1 with errno) and lists the
// file it made as name in folder, both under the list's lock, so that a
// program being ended finds every file that was made.
template <typename Create> int CreateListed(int folder, const std::string &name, uint64_t &entry, Create create)
{
    TemporaryList &list = Temporaries();
    std::lock_guard<std::mutex> hold(list.Lock);
    const int fd = create();
    if (fd >= 0) {
        entry = list.Next++;
        list.Files.emplace(entry, std::make_pair(folder, name));
    }
    return fd;
}

// Opens the folder that path names its last part in, relative to base
// (ignored for an absolute path), and gives that last part in leaf.
int OpenFolderOf(int base, const std::string &path, std::string &leaf)
{
    const std::size_t slash = path.rfind('/');
    leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return ::openat(base, folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

bool IsNameOfAFolder(const std::string &leaf)
{
    return leaf.empty() || leaf == "." || leaf == "..";
}

// Whether the kernel's rule for shared folders lets the writer follow a
// link that belongs to linkOwner in the folder described by folder.
bool MayFollow(uid_t linkOwner, const struct stat &folder)
{
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || linkOwner == ::geteuid() || linkOwner == folder.st_uid;
}

} // namespace

TFileReplacement::TFileReplacement(const std::string &fileName) : fileName(fileName) {}

TFileReplacement::~TFileReplacement()
{
    Abandon();
    if (folder >= 0)
        ::close(folder);
}

bool TFileReplacement::Fail(const std::string &why)
{
    failure = why;
    LastFailure = why;
    return false;
}

bool TFileReplacement::Open()
{
    Abandon();
    if (folder >= 0)
        ::close(folder);
    failure.clear();
    LastFailure.clear();

    // Walk the chain of links from the name given to the file to replace,
    // one folder descriptor at a time, by the rule described above.
    folder = OpenFolderOf(AT_FDCWD, fileName, leaf);
    if (folder < 0)
        return Fail(std::strerror(errno));
    for (int step = 0;; ++step) {
        if (IsNameOfAFolder(leaf))
            return Fail(std::strerror(EISDIR));
        struct stat link {};
        if (::fstatat(folder, leaf.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                break; // a new file
            return Fail(std::strerror(errno));
        }
        if (!S_ISLNK(link.st_mode) || LinksAsNames)
            break;
        if (step == MaxLinks)
            return Fail(std::strerror(ELOOP));
        struct stat place {};
        if (::fstat(folder, &place) != 0)
            return Fail(std::strerror(errno));
        if (!MayFollow(link.st_uid, place))
            return Fail(PlantedLinkText);
        char target[PATH_MAX + 1];
        const ssize_t length = ::readlinkat(folder, leaf.c_str(), target, sizeof target);
        if (length < 0)
            return Fail(std::strerror(errno));
        if (static_cast<std::size_t>(length) >= sizeof target)
            return Fail(std::strerror(ENAMETOOLONG));
        // The link read must be the link judged.
        struct stat again {};
        if (::fstatat(folder, leaf.c_str(), &again, AT_SYMLINK_NOFOLLOW) != 0 || again.st_ino != link.st_ino ||
            again.st_dev != link.st_dev)
            return Fail("the link changed while it was followed");
        const int next = OpenFolderOf(folder, std::string(target, static_cast<std::size_t>(length)), leaf);
        if (next < 0)
            return Fail(std::strerror(errno));
        ::close(folder);
        folder = next;
    }

    thread_local std::mt19937 random{std::random_device{}()};
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof Letters - 2);
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        std::string name = ".gbx";
        for (int i = 0; i < 8; ++i)
            name += Letters[pick(random)];
        name += ".tmp";
        // O_EXCL, never through a link.
        fd = CreateListed(folder, name, tracked, [&] {
            return ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        });
        if (fd >= 0)
            temporary = name;
        else if (errno != EEXIST)
            return Fail(std::strerror(errno));
    }
    if (fd < 0)
        return Fail(std::strerror(EEXIST));

    // A file being replaced keeps its owner and group where the writer may
    // give them, and its permissions less set-user-ID and set-group-ID.
    struct stat existing {};
    if (::fstatat(folder, leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(existing.st_mode)) {
        if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // Only the group, then; when that is not allowed either, the
            // file is the writer's in its own group.
            const int groupKept = ::fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
            (void)groupKept;
        }
        ::fchmod(fd, existing.st_mode & 01777);
    }
    return true;
}

std::FILE *TFileReplacement::Stream()
{
    if (!stream && fd >= 0)
        stream = ::fdopen(fd, "w+b");
    return stream;
}

std::string TFileReplacement::TemporaryName() const
{
    if (fd < 0)
        return {};
    return "/proc/self/fd/" + std::to_string(folder) + "/" + temporary;
}

bool TFileReplacement::Commit()
{
    if (fd < 0)
        return Fail(failure.empty() ? std::strerror(EBADF) : failure);
    int error = 0;
    if (stream) {
        if (std::fflush(stream) != 0 || ::fsync(fd) != 0)
            error = errno;
        if (std::fclose(stream) != 0 && error == 0)
            error = errno;
    } else {
        if (::fsync(fd) != 0)
            error = errno;
        if (::close(fd) != 0 && error == 0)
            error = errno;
    }
    stream = nullptr;
    fd = -1;
    if (error == 0) {
        // The rename and the end of the entry happen under the list's lock,
        // so that a program being ended removes either the temporary file
        // or nothing.
        TemporaryList &list = Temporaries();
        std::lock_guard<std::mutex> hold(list.Lock);
        if (::renameat(folder, temporary.c_str(), folder, leaf.c_str()) == 0) {
            list.Files.erase(tracked);
            tracked = 0;
            temporary.clear();
        } else {
            error = errno;
        }
    }
    if (error != 0) {
        Abandon();
        errno = error;
        return Fail(std::strerror(error));
    }
    // The rename lasts once the folder is on disk (a folder the writer may
    // not read cannot be synced, and is left to the system).
    const int synced = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (synced >= 0) {
        ::fsync(synced);
        ::close(synced);
    }
    failure.clear();
    LastFailure.clear();
    return true;
}

void TFileReplacement::Abandon()
{
    const int saved = errno;
    if (stream)
        std::fclose(stream);
    else if (fd >= 0)
        ::close(fd);
    stream = nullptr;
    fd = -1;
    if (!temporary.empty()) {
        TemporaryList &list = Temporaries();
        std::lock_guard<std::mutex> hold(list.Lock);
        ::unlinkat(folder, temporary.c_str(), 0);
        list.Files.erase(tracked);
    }
    tracked = 0;
    temporary.clear();
    errno = saved;
}

void ReplaceLinksAsNames()
{
    LinksAsNames = true;
}

std::string LastReplacementFailure()
{
    return LastFailure;
}

int MakeListedTemporary(std::string &pattern, int suffixLength, uint64_t &entry)
{
    // mkstemps fills in the pattern before the entry is made of it.
    return CreateListed(AT_FDCWD, pattern, entry, [&] { return ::mkstemps(pattern.data(), suffixLength); });
}

void ForgetTemporaryFile(uint64_t entry)
{
    TemporaryList &list = Temporaries();
    std::lock_guard<std::mutex> hold(list.Lock);
    list.Files.erase(entry);
}

void RemoveTemporaryFilesForExit()
{
    TemporaryList &list = Temporaries();
    list.Lock.lock(); // held until the program ends
    for (const auto &[entry, file] : list.Files)
        ::unlinkat(file.first, file.second.c_str(), 0);
    list.Files.clear();
}
