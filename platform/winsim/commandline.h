// Windows command-line rules: how a program's command line splits into arguments (the C runtime's
// rules, which PrintUIEntry follows too) and how to quote arguments so they split back unchanged.
#pragma once

#include <string>
#include <vector>

namespace winsim {

// Whitespace separates arguments outside double quotes. Backslashes are literal unless they precede
// a double quote: 2n backslashes and a quote give n backslashes and open or close a quoted part,
// 2n+1 give n backslashes and a literal quote. Inside a quoted part "" is a literal quote.
std::vector<std::string> splitWindowsCommandLine(const std::string &line);

// The argument as written on a command line: bare when it has no whitespace or quote, otherwise
// quoted with its quotes and the backslashes before them escaped.
std::string quoteWindowsArgument(const std::string &argument);
std::string joinWindowsCommandLine(const std::vector<std::string> &arguments);

} // namespace winsim
