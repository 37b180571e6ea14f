// Data set: clips (placeholder until the generator lands).
#include "tools/data/dataset.h"

bool generateClips(const std::string&, std::string&) { return true; }
