// gfxcore-bench's parts: the child runs that print "key value" lines, the
// helpers they share, and the table of extra benchmarks that a file of this
// folder may add (each runs in a child of its own and prints its figures
// after the scene table).
// Depends on: dgl (through the kernel's loader), platform/renderer.h.
#pragma once

#include "platform/renderer.h"
#include "platform/win_types.h"

#include <map>
#include <string>
#include <vector>

using BenchFigures = std::map<std::string, double>;

// An extra benchmark. run() executes in the child started with `option`
// (for example "--child-clips"), prints "key value" lines and returns the
// child's exit status; print() shows the collected figures in the parent,
// as text lines or (json) as "  \"key\": value" members, one per line, each
// line ending in ",\n".
struct BenchExtra {
    const char* option;
    int (*run)();
    void (*print)(const BenchFigures& figures, bool json);
};

constexpr int BENCH_EXTRA_CAPACITY = 8;

// Called from a static initialiser of the file that holds the benchmark:
//   const bool registered = benchRegisterExtra({"--child-clips", runClips, printClips});
// False when the table is full.
bool benchRegisterExtra(const BenchExtra& extra);

// The renderer a child draws with (its --renderer option; gl by default).
Renderer benchRenderer();

// Headless window, silent music, the data set's directory, dglInit.
HWND benchStartRenderer();
// One show frame at time t (ms), presented and finished.
void benchDrawFrame(int t);
// The value below which the fraction of the values lies (linear between ranks).
double benchPercentile(std::vector<double> values, double fraction);
// Resident memory now, in MB.
double benchResidentMb();
