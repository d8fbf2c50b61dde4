// Writing a file in place of another without ever leaving either half
// written.
//
//   target ---------------------------------------------- (untouched)
//   folder/.gbxXXXXXXXX.tmp <- write ... fsync -> rename over target
//
// The new content goes to a hidden temporary file in the target's own folder
// (so that the rename is atomic) and takes the target's place only when
// Commit succeeds. Until then a file at the target keeps every byte; on any
// failure, and when the object goes without Commit (a cancel, a refused
// setting, a full disk), the temporary file is removed.
//
// A target that is a symbolic link is followed to the file it names, even
// when that file does not exist yet: the link stays a link and the file it
// leads to is the one written.
#pragma once

#include <cstdio>
#include <string>

// The file a write of fileName must replace: fileName itself, or the end of
// its chain of symbolic links (at most 40 steps; a longer chain or a loop
// gives fileName back, and the write then fails or replaces the link).
std::string ReplacementTarget(const std::string &fileName);

// Creates a new, empty file under a hidden name (".gbx" and eight letters)
// beside target, in its folder so that a rename over target is atomic: its
// descriptor, open for reading and writing, with its name in name; -1 when
// the folder cannot take a new file.
int CreateBeside(const std::string &target, std::string &name);
// Flushes target's folder to disk, so that a rename into it lasts.
void SyncFolderOf(const std::string &target);

class TFileReplacement {
public:
    // Nothing is created until Open.
    explicit TFileReplacement(const std::string &fileName);
    ~TFileReplacement();
    TFileReplacement(const TFileReplacement &) = delete;
    TFileReplacement &operator=(const TFileReplacement &) = delete;

    // Creates the temporary file, with the permissions of a file already at
    // the target; false when the folder cannot take a new file.
    bool Open();
    // The temporary file as a descriptor, or as a stream opened for update
    // (reading back what was written is allowed). Both belong to this
    // object; use one or the other.
    int Descriptor() const { return fd; }
    std::FILE *Stream();

    // Flushes, syncs and closes the temporary file and renames it over the
    // target. False (and the temporary file removed, the target untouched)
    // when any of that fails.
    bool Commit();
    // Removes the temporary file now; the target stays as it was.
    void Abandon();

    const std::string &Target() const { return target; }
    const std::string &TemporaryName() const { return temporary; }

private:
    std::string target;
    std::string temporary;
    int fd = -1;
    std::FILE *stream = nullptr;
};
