// Small MP3 files for tests, encoded with LAME loaded at run time (the
// library is installed for the data tool; tests do not link it).
#pragma once

#include <string>

// Writes `seconds` of 44100 Hz stereo 128 kbit/s MP3 to path: silence for the
// first `quietSeconds`, then a loud 440 Hz tone. False when LAME is missing or
// the file cannot be written.
bool writeTestMp3(const std::string& path, double seconds, double quietSeconds);
