// What the system provides to school files on disk, declared once and defined by
// the file the build chooses: files_posix.cpp with attributes_linux.cpp or
// attributes_none.cpp, or files_windows.cpp. These are leaves: system calls and
// their translation into plain results, calling nothing above them. A failure
// comes back as its error number (errno's values), 0 meaning success.
#pragma once

#include <cstdint>
#include <string>

enum class Access { kRead, kWrite, kWriteOrCreate };

// What the system tells of a file.
struct FileFacts {
    enum Kind { kRegular, kFolder, kCharacterDevice, kOther } kind = kOther;
    bool terminal = false;    // a terminal, or on Windows a console
    bool identified = false;  // device and inode tell files apart (on Windows a disk's file)
    std::uint64_t device = 0, inode = 0;
    unsigned owner = 0, group = 0;
    unsigned mode = 0;  // permission and special bits
};

// Opens without waiting for the other end of a named pipe; reads and writes then
// wait as usual. A new file gets the permissions a new file gets from the folder.
int openFile(const std::string& name, Access access, int* fd);
void closeFile(int fd);
int describeFile(int fd, FileFacts* facts);
// Follows symbolic links.
int describeName(const std::string& name, FileFacts* facts);
bool isSymbolicLink(const std::string& name);
// The name with every symbolic link on its way resolved.
int resolveName(const std::string& name, std::string* resolved);
// Standard streams closed at start get a stand-in that fails as a closed one
// would, so that no file opened later takes their number. Returns a bit for each
// of standard input, output and error that was closed.
unsigned holdClosedStandardStreams();

// Creates a new file of that name, failing with EEXIST where there is one, and
// removes it should a signal end the program before putInPlace or removeFile.
// `fresh`: the permissions a new file gets; otherwise the owner's alone.
int createTemporaryFile(const std::string& name, bool fresh, int* fd);
// The old file's owner and group where the system allows; returns whether both
// were kept (always, where files have none).
bool copyOwner(int fd, const FileFacts& old);
int setPermissions(int fd, unsigned mode);
// Gives `to` exactly the extended attributes of `from` that this process can see,
// the access control list among them: each is copied, and each that `to` has
// besides (one taken from the folder's default) is removed; `from` -1: none. A
// label of the system's security module stays as the system gave it. Only where
// the build has the calls for them (attributes_linux.cpp); none elsewhere.
int copyExtendedAttributes(int from, int to);
// Puts what was written on the disk itself.
int syncToDisk(int fd);
// The whole of `from` into `to`, from the start, `to` ending where it ends.
int copyContents(int from, int to);
// Puts the folder that holds the file on the disk: a file created there stays.
int syncFolderOf(const std::string& name);
// While the file `target` is written through, a signal that ends the program puts
// the copy of its old contents back into it, and removes the copy (the file of
// createTemporaryFile) only once it is back; -1 ends that, and leaves the copy
// to the caller alone.
void guardWriteThrough(int target, int copy);
// A second descriptor of the open file.
int duplicateFile(int fd, int* copy);
// Ends the file at the descriptor's position.
int endFileHere(int fd);
// Gives the complete temporary file the target's name, replacing the old file.
int putInPlace(const std::string& temporary, const std::string& target);
// Returns 0, or why the name stays.
int removeFile(const std::string& name);
// Removes the temporary file of a write in progress, if any, for a program that
// ends before the write does; a file written through first gets its old contents
// back from it. Async-signal-safe on POSIX.
void removeLiveTemporary();
