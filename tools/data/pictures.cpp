// Data set: pictures (placeholder until the generator lands).
#include "tools/data/dataset.h"

bool generatePictures(const std::string&, std::string&) { return true; }
