// The RUNDLL32 stand-in: runs PRINTUI.DLL,PrintUIEntry and keeps a log of the command lines it got.
#include "commandline.h"
#include "printui.h"
#include "store.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// One line per start, written in one piece so that concurrent starts do not interleave.
void logCommandLine(const std::string &line)
{
    const std::string root = winsim::Store::rootFromEnvironment();
    if (!winsim::makePath(root))
        return;
    const int fd = open((root + "/rundll32.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const std::string text = line + "\n";
    if (write(fd, text.data(), text.size()) != ssize_t(text.size()))
        std::fprintf(stderr, "RUNDLL32: cannot write the command-line log\n");
    close(fd);
}

bool equalsIgnoringCase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20))
            return false;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    logCommandLine("RUNDLL32 " + winsim::joinWindowsCommandLine(arguments));
    if (arguments.empty()) {
        std::fprintf(stderr, "RUNDLL32: usage: RUNDLL32 PRINTUI.DLL,PrintUIEntry options\n");
        return 2;
    }
    // RUNDLL32 takes "library,entry" and hands the rest of its command line to the entry, which
    // splits it by the command-line rules.
    const std::string &target = arguments[0];
    const size_t comma = target.find(',');
    const std::string library = target.substr(0, comma);
    const std::string entry = comma == std::string::npos ? std::string() : target.substr(comma + 1);
    if (!(equalsIgnoringCase(library, "PRINTUI.DLL") || equalsIgnoringCase(library, "PRINTUI"))
        || entry != "PrintUIEntry") {
        std::fprintf(stderr, "RUNDLL32: cannot find the entry point \"%s\"\n", target.c_str());
        return 1;
    }
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    return winsim::PrintUi().run(winsim::splitWindowsCommandLine(winsim::joinWindowsCommandLine(rest)));
}
