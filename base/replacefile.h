// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a file in place of another without ever leaving either half
// written, and without letting a planted link send the write elsewhere.
//
//   folder (held open) ---- leaf ---------------------------- (untouched)
//                      \--- .gbxXXXXXXXX.tmp <- write ... fsync --renameat--> leaf
//
// The target's folder is opened once and everything after is done relative
// to that descriptor: the leaf is looked at without following it, the new
// content goes to a hidden temporary file created there (O_EXCL,
// O_NOFOLLOW), and takes the leaf's place with renameat only when Commit
// succeeds. A name swapped for a link between the look and the rename is
// replaced as a name; the rename never writes through it.
//
// A leaf that is a symbolic link is followed to the file it names, even
// one that does not exist yet (the link stays a link), by the rule the
// kernel applies with fs.protected_symlinks, whatever that setting: in a
// sticky folder that everyone may write to, a link is followed only when it
// belongs to the writer or to the folder's owner. Any other link there is
// refused, and so is a chain of more than 40 links.
//
// Until Commit, a file at the target keeps every byte; on any failure, and
// when the object goes without Commit (a cancel, a refused setting, a full
// disk), the temporary file is removed. The new file takes the replaced
// file's owner and group where the writer may give them, and its
// permissions without the set-user-ID and set-group-ID bits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class TFileReplacement {
public:
    // Nothing is looked at or created until Open.
    explicit TFileReplacement(const std::string &fileName);
    ~TFileReplacement();
    TFileReplacement(const TFileReplacement &) = delete;
    TFileReplacement &operator=(const TFileReplacement &) = delete;

    // Finds the file to replace (following links as above) and creates the
    // temporary file beside it; false, with Failure() saying why, when a
    // link is refused or the folder cannot take a new file.
    bool Open();
    // The temporary file as a descriptor, or as a stream opened for update
    // (reading back what was written is allowed). Both belong to this
    // object; use one or the other.
    int Descriptor() const { return fd; }
    std::FILE *Stream();
    // A name that opens the temporary file (through /proc/self/fd and the
    // folder's descriptor), for a library that wants a file name; empty
    // before Open.
    std::string TemporaryName() const;

    // Flushes, syncs and closes the temporary file and renames it over the
    // target. False (and the temporary file removed, the target untouched,
    // Failure() saying why) when any of that fails.
    bool Commit();
    // Removes the temporary file now; the target stays as it was.
    void Abandon();

    // Why the last Open or Commit failed, as a short phrase for a message
    // ("No space left on device"); empty when it did not.
    const std::string &Failure() const { return failure; }

private:
    bool Fail(const std::string &why);

    std::string fileName;
    int folder = -1; // the folder the final file is in
    std::string leaf;
    std::string temporary; // leaf of the temporary file
    uint64_t tracked = 0;  // its entry among the process's temporary files
    int fd = -1;
    std::FILE *stream = nullptr;
    std::string failure;
};

// For a program that writes only into one folder of its own: from now on a
// target that is a symbolic link is replaced as a name, the link itself
// giving way to the new file, instead of being followed. For the whole
// process.
void ReplaceLinksAsNames();

// Why the last TFileReplacement on this thread failed to open or commit, as
// TFileReplacement::Failure says it; empty when the last one succeeded. For
// callers whose writer only answers true or false.
std::string LastReplacementFailure();

// The temporary files of this process, listed while they are being written
// so that a program ended by a signal can remove them: TFileReplacement
// lists its own; others (a converted copy in the temporary folder) are made
// with MakeListedTemporary and leave the list with ForgetTemporaryFile.
//
// MakeListedTemporary creates a new file, readable and writable by its
// owner only, from a mkstemps pattern ("/tmp/nameXXXXXX.wav", suffixLength
// 4), which comes back naming it, and lists it: its descriptor and its
// entry, or -1 (errno set) and nothing listed.
int MakeListedTemporary(std::string &pattern, int suffixLength, uint64_t &entry);
void ForgetTemporaryFile(uint64_t entry);
// Removes every listed file and keeps the list locked for good, so that no
// replacement can be committed afterwards: for the last moments of a
// program that is about to end. Not for a signal handler (it takes a lock).
void RemoveTemporaryFilesForExit();
