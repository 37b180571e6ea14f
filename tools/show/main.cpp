// The show: real clock, real audio, a window. Run it from its own folder
// (build/show): the data set and the logs are relative to the working
// directory.
#include "kernel/shell.h"

int main() { return WinMain(); }
