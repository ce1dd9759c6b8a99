#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "simconfig.h"

#include <cstdint>
#include <string>
#include <vector>

// What is fixed for the life of the process.
struct StartupOptions
{
    int port = 8765;
    std::string jobsDir;
    uint64_t maxBody = uint64_t(1) << 30;
    bool quiet = false;
    bool exitWithParent = false;
    bool help = false;
    // Added to the process's niceness before any thread starts, so every thread runs with it.
    int niceness = 0;
};

// Reads the command line into the startup options and the initial behaviour. Returns false with
// *error set on an unknown flag or a bad value.
bool parseCommandLine(
    const std::vector<std::string> &args, StartupOptions *options, SimConfig *config, std::string *error);

// Accepts a plain number of bytes or one with a K, M or G suffix (powers of 1024).
bool parseByteSize(const std::string &text, uint64_t *out);

std::string usageText();

#endif // COMMANDLINE_H
