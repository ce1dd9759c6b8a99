#include "launcher.h"

#include "store.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char **environ;

namespace winsim {

std::string despoolLockPath(const std::string &root, int64_t printerId, const char *which)
{
    return root + "/locks/printer-" + std::to_string(printerId) + "." + which;
}

std::string winsimToolPath()
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void *>(&winsimToolPath), &info) && info.dli_fname) {
        std::string path = info.dli_fname;
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos) {
            path = path.substr(0, slash + 1) + "winsim";
            if (access(path.c_str(), X_OK) == 0)
                return path;
        }
    }
    return "winsim"; // found through PATH
}

bool despoolerActive(const std::string &root, int64_t printerId)
{
    makePath(root + "/locks");
    const std::string path = despoolLockPath(root, printerId, "lock");
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd); // releases the probe's own lock if it got one
    return held;
}

bool startTool(const std::vector<std::string> &arguments, const std::string &root, int passFd)
{
    const std::string tool = winsimToolPath();
    const std::string log = root + "/despool.log";
    std::vector<const char *> argv { tool.c_str() };
    for (const auto &argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    // The child works on the root this process uses, whatever WINSIM_ROOT says by now.
    const std::string rootVariable = "WINSIM_ROOT=" + root;
    std::vector<const char *> envp { rootVariable.c_str() };
    for (char **variable = environ; variable && *variable; ++variable)
        if (std::strncmp(*variable, "WINSIM_ROOT=", 12) != 0)
            envp.push_back(*variable);
    envp.push_back(nullptr);
    const long maxFd = sysconf(_SC_OPEN_MAX) > 0 ? sysconf(_SC_OPEN_MAX) : 1024;

    // Two forks: the tool is adopted by init, so no starter has to reap it, and it runs in a
    // session of its own with none of the starter's descriptors (sockets, pipes of a test runner).
    // Between fork and exec only async-signal-safe calls are made.
    const pid_t child = fork();
    if (child < 0) {
        std::perror("winsim: cannot start the winsim tool");
        return false;
    }
    if (child == 0) {
        setsid();
        const pid_t grandchild = fork();
        if (grandchild != 0)
            _exit(grandchild < 0 ? 1 : 0);
        const int null = open("/dev/null", O_RDWR);
        const int err = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(null, 0);
        dup2(null, 1);
        dup2(err >= 0 ? err : null, 2);
        int firstToClose = 3;
        if (passFd >= 0) {
            // dup2 onto itself would leave the close-on-exec flag in place.
            if (passFd == 3)
                fcntl(3, F_SETFD, 0);
            else
                dup2(passFd, 3);
            firstToClose = 4;
        }
        if (close_range(unsigned(firstToClose), ~0U, 0) != 0)
            for (long fd = firstToClose; fd < maxFd; ++fd)
                close(int(fd));
        execve(argv[0], const_cast<char *const *>(argv.data()), const_cast<char *const *>(envp.data()));
        execvpe(argv[0], const_cast<char *const *>(argv.data()), const_cast<char *const *>(envp.data()));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace winsim
