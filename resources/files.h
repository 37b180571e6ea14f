// File manager: the program's only access to files it reads or writes itself.
// A fixed table of 100 entries; every failure ends the program via fatalExit.
#pragma once

#include "platform/win_types.h"

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr int MAX_FILES = 100;

FileHandle createFile(const char* path);
FileHandle openFile(const char* path);
void readFromFile(FileHandle handle, void* buffer, DWORD count);
void writeToFile(FileHandle handle, const void* buffer, DWORD count);
DWORD seekFile(FileHandle handle, DWORD method, LONG distance);
DWORD getFileSize(FileHandle handle);
void closeAllFiles();

// Number of table entries in use (tests, soak checks).
int openFileCount();
