#include "printui.h"

#include "inffile.h"
#include "spoolerstate.h"
#include "store.h"
#include "textcodec.h"
#include "winsimcontrol.h"

#include <cstdio>

namespace winsim {
namespace {

constexpr int kFailed = 1;
constexpr int kBadArguments = 2;

int failure(const std::string &message, int code = kFailed)
{
    std::fprintf(stderr, "RUNDLL32: PrintUIEntry: %s\n", message.c_str());
    return code;
}

std::string lower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c + 0x20);
    return text;
}

} // namespace

std::string localPath(const std::string &windowsPath)
{
    std::string path = windowsPath;
    if (path.size() >= 2 && path[1] == ':' && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z'))
        path = path.substr(2);
    for (char &c : path)
        if (c == '\\')
            c = '/';
    return path;
}

int PrintUi::run(const std::vector<std::string> &arguments)
{
    std::string error;
    if (!parse(arguments, &error))
        return failure(error, kBadArguments);
    try {
        return m_install ? installPrinter() : printTestPage();
    } catch (const StoreError &e) {
        return failure(std::string("the spooler is not reachable: ") + e.what());
    }
}

bool PrintUi::parse(const std::vector<std::string> &arguments, std::string *error)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument.size() < 2 || argument[0] != '/') {
            *error = "unexpected argument \"" + argument + "\"";
            return false;
        }
        const std::string option = lower(argument.substr(1));
        if (option == "if") {
            m_install = true;
        } else if (option == "u") {
            m_useExistingDriver = true;
        } else if (option == "k") {
            m_testPage = true;
        } else if (option == "q") {
            // Quiet: there are no dialogs here anyway.
        } else if (std::string("bfrmn").find(option[0]) != std::string::npos) {
            // The value follows the option letter directly or as the next argument.
            if (argument.size() > 2) {
                m_values[option[0]] = argument.substr(2);
            } else if (i + 1 < arguments.size()) {
                m_values[option[0]] = arguments[++i];
            } else {
                *error = "the option " + argument + " needs a value";
                return false;
            }
        } else {
            *error = "unknown option " + argument;
            return false;
        }
    }
    if (m_install == m_testPage) {
        *error = "give either /if (install a printer) or /k (print a test page)";
        return false;
    }
    return true;
}

std::string PrintUi::value(char option) const
{
    const auto it = m_values.find(option);
    return it == m_values.end() ? std::string() : it->second;
}

int PrintUi::installPrinter()
{
    const std::string name = value('b');
    const std::string port = value('r');
    const std::string model = value('m');
    if (name.empty() || port.empty() || model.empty())
        return failure("/if needs the printer name (/b), the port (/r) and the model (/m)", kBadArguments);
    const Environment &environment = *findEnvironment(kMachineEnvironment);

    std::optional<DriverRow> fromInf;
    if (m_values.count('f')) {
        InfFile inf;
        std::string error;
        if (!inf.load(localPath(value('f')), &error))
            return failure(error);
        if (foldedKey(inf.value("Version", "Class")) != foldedKey("Printer"))
            return failure("\"" + value('f') + "\" is no printer driver package");
        const auto found = inf.model(model, environment);
        if (!found)
            return failure("\"" + value('f') + "\" has no model \"" + model + "\" for " + environment.name);
        if (inf.driverVersion().empty())
            return failure("\"" + value('f') + "\" has no DriverVer");
        fromInf = DriverRow { 0, found->name, environment.name, inf.driverVersion(), inf.driverDate(),
            inf.dataFile(found->installSection) };
    }

    Transaction tx(Transaction::Write);
    if (printerByName(tx, name))
        return failure("a printer named \"" + name + "\" exists");
    if (!portByName(tx, port))
        return failure("there is no port named \"" + port + "\"");
    const auto installed = driver(tx, model, environment);
    if (fromInf && !(installed && m_useExistingDriver))
        winsim::installDriver(tx, *fromInf);
    else if (!installed)
        return failure("the driver \"" + model + "\" is not installed for " + environment.name
            + " and no INF was given");
    const std::string driverName = fromInf ? fromInf->name : installed->name;
    const uint32_t error = createPrinter(tx, name, port, driverName, nullptr);
    if (error == 1801)
        return failure("\"" + name + "\" is no valid printer name");
    if (error)
        return failure("the printer could not be created (error " + std::to_string(error) + ")");
    tx.commit();
    return 0;
}

int PrintUi::printTestPage()
{
    const std::string name = value('n');
    if (name.empty())
        return failure("/k needs the printer name (/n)", kBadArguments);
    std::string driverName, portName;
    {
        Transaction tx(Transaction::Read);
        const auto printer = printerByName(tx, name);
        if (!printer)
            return failure("there is no printer named \"" + name + "\"");
        driverName = printer->driver;
        portName = printer->port;
    }
    const std::string page
        = "测试页\r\nPrinter: " + name + "\r\nDriver: " + driverName + "\r\nPort: " + portName + "\r\n";
    std::string error;
    if (!submitJob(name, std::string("测试页"), std::vector<uint8_t>(page.begin(), page.end()), -1, &error))
        return failure(error);
    return 0;
}

} // namespace winsim
