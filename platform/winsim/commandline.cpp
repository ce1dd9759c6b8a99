#include "commandline.h"

namespace winsim {
namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v';
}

} // namespace

std::vector<std::string> splitWindowsCommandLine(const std::string &line)
{
    std::vector<std::string> arguments;
    size_t i = 0;
    const size_t n = line.size();
    for (;;) {
        while (i < n && isSpace(line[i]))
            ++i;
        if (i >= n)
            break;
        std::string argument;
        bool quoted = false;
        while (i < n && (quoted || !isSpace(line[i]))) {
            if (line[i] == '\\') {
                size_t backslashes = 0;
                while (i < n && line[i] == '\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < n && line[i] == '"') {
                    argument.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                    // An even count leaves the quote to toggle the quoted part below.
                } else {
                    argument.append(backslashes, '\\');
                }
                continue;
            }
            if (line[i] == '"') {
                if (quoted && i + 1 < n && line[i + 1] == '"') {
                    argument += '"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            argument += line[i++];
        }
        arguments.push_back(argument);
    }
    return arguments;
}

std::string quoteWindowsArgument(const std::string &argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
        return argument;
    std::string out = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
            out += '"';
        } else {
            out.append(backslashes, '\\');
            out += c;
        }
        backslashes = 0;
    }
    out.append(backslashes * 2, '\\'); // they now stand before the closing quote
    out += '"';
    return out;
}

std::string joinWindowsCommandLine(const std::vector<std::string> &arguments)
{
    std::string line;
    for (const auto &argument : arguments) {
        if (!line.empty())
            line += ' ';
        line += quoteWindowsArgument(argument);
    }
    return line;
}

} // namespace winsim
