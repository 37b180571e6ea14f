// Data paths of the show are written with mixed case ("Data/Music.mp3",
// "data/hive.png") for one folder. A path that does not exist as written is
// resolved case-insensitively, component by component, against what is on
// disk. Used by every data-file open: the file manager, texture files, clips
// and the music.
// Depends on: POSIX (stat, opendir).
#pragma once

#include <string>

// The path as written when it exists. Otherwise every component that exists
// under another case is replaced by its name on disk; the first component
// that matches nothing, and the rest after it, are kept as written (so a
// file about to be created lands in the resolved folder).
std::string platformResolvePath(const char* path);
