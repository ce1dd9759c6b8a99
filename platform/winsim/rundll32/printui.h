// PRINTUI.DLL's PrintUIEntry as the RUNDLL32 stand-in runs it: /if installs a printer (from an
// INF with /f), /k prints the test page of the printer named with /n.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace winsim {

class PrintUi
{
public:
    // Returns RUNDLL32's exit code; failures are explained on standard error.
    int run(const std::vector<std::string> &arguments);

private:
    bool parse(const std::vector<std::string> &arguments, std::string *error);
    int installPrinter();
    int printTestPage();
    std::string value(char option) const;

    std::map<char, std::string> m_values;
    bool m_install = false;
    bool m_useExistingDriver = false;
    bool m_testPage = false;
};

// An INF path as the program wrote it ("C:\dir\Driver\VarnPtr.INF", "\dir\Driver\...") turned into
// a path of this system.
std::string localPath(const std::string &windowsPath);

} // namespace winsim
