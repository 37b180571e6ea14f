// Data set: models (placeholder until the generator lands).
#include "tools/data/dataset.h"

bool generateModels(const std::string&, std::string&) { return true; }
