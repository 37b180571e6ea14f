// Data set: music (placeholder until the generator lands).
#include "tools/data/dataset.h"

bool generateMusic(const std::string&, std::string&) { return true; }
