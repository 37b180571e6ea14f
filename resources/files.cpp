// File manager over POSIX files; see files.h. A handle is the descriptor
// plus one, so that 0 is never a valid handle.
// Depends on: kernel/messages (formatMessage, fatalExit), platform/paths.
#include "resources/files.h"

#include "kernel/messages.h"
#include "platform/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileEntry {
    const char* path; // the caller's text, not copied
    FileHandle handle;
};

// Written only by this file.
FileEntry files[MAX_FILES];
int fileCount = 0;

int descriptorOf(FileHandle handle) { return static_cast<int>(handle) - 1; }

FileHandle openEntry(const char* path, int flags, const char* failureFormat)
{
    if (fileCount == MAX_FILES)
        fatalExit("Can not open more than 100 files.");
    std::string resolved = platformResolvePath(path);
    int descriptor = -1;
    do {
        descriptor = open(resolved.c_str(), flags | O_CLOEXEC, 0644);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        fatalExit(formatMessage(failureFormat, path));
    FileHandle handle = static_cast<FileHandle>(descriptor) + 1;
    files[fileCount++] = FileEntry{path, handle};
    return handle;
}

// The entry of handle, or fatalExit with the operation's wrong-handle message.
const FileEntry& checkHandle(FileHandle handle, const char* operation)
{
    for (int i = 0; i < fileCount; i++)
        if (files[i].handle == handle)
            return files[i];
    fatalExit(formatMessage("Wrong file handle supplied with %s(). Handle: 0x%x.", operation, handle));
}

} // namespace

FileHandle createFile(const char* path)
{
    return openEntry(path, O_RDWR | O_CREAT | O_TRUNC,
                     "Can not create file: %s, with full access rights. Maybe it's protected.");
}

FileHandle openFile(const char* path)
{
    return openEntry(path, O_RDWR, "Can not open file: %s, with full access rights. Maybe it's protected.");
}

void readFromFile(FileHandle handle, void* buffer, DWORD count)
{
    const FileEntry& entry = checkHandle(handle, "readFromFile");
    char* destination = static_cast<char*>(buffer);
    DWORD done = 0;
    while (done < count) {
        ssize_t got = read(descriptorOf(handle), destination + done, count - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            fatalExit(formatMessage("Can not read %d bytes from file: %s.", count, entry.path));
        done += static_cast<DWORD>(got);
    }
}

void writeToFile(FileHandle handle, const void* buffer, DWORD count)
{
    const FileEntry& entry = checkHandle(handle, "writeToFile");
    const char* source = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < count) {
        ssize_t put = write(descriptorOf(handle), source + done, count - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            fatalExit(formatMessage("Can not write %d bytes to file: %s.", count, entry.path));
        done += static_cast<DWORD>(put);
    }
}

DWORD seekFile(FileHandle handle, DWORD method, LONG distance)
{
    const FileEntry& entry = checkHandle(handle, "seekFile");
    int whence = method == FILE_BEGIN ? SEEK_SET : (method == FILE_CURRENT ? SEEK_CUR : SEEK_END);
    off_t position = method <= FILE_END ? lseek(descriptorOf(handle), distance, whence) : -1;
    // Positions beyond 32 bits cannot be reported, as the original's 0xFFFFFFFF.
    if (position < 0 || position >= 0xFFFFFFFF)
        fatalExit(formatMessage("Can not seek %d bytes in file: %s.", distance, entry.path));
    return static_cast<DWORD>(position);
}

DWORD getFileSize(FileHandle handle)
{
    const FileEntry& entry = checkHandle(handle, "getFileSize");
    struct stat info;
    if (fstat(descriptorOf(handle), &info) != 0 || info.st_size >= 0xFFFFFFFF)
        fatalExit(formatMessage("Can not retrieve file size for: %s.", entry.path));
    return static_cast<DWORD>(info.st_size);
}

void closeAllFiles()
{
    for (int i = 0; i < fileCount; i++)
        close(descriptorOf(files[i].handle));
    // The closed descriptors may be reused by the system: their handles must
    // no longer pass the check.
    fileCount = 0;
}

int openFileCount() { return fileCount; }
