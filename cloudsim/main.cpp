// cloudsim: a stand-in for the cloud print service, for tests, benchmarks and trying the program
// without a cloud account. See README.md beside this file.

#include "adminendpoint.h"
#include "cloudservice.h"
#include "commandline.h"
#include "simstate.h"

#include <httplib.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Enough workers that idle keep-alive connections of many clients (each card, each receiver) and
// deliberately slow answers never starve the admin interface.
constexpr size_t WorkerThreads = 48;
// How long a stop waits for requests in progress before the process leaves anyway.
constexpr std::chrono::milliseconds StopGrace(250);

void logRequest(const httplib::Request &req, const httplib::Response &res)
{
    std::string target = req.path;
    if (!req.params.empty()) {
        const auto pos = req.target.find('?');
        if (pos != std::string::npos)
            target += req.target.substr(pos);
    }
    std::fprintf(stderr, "cloudsim: %s %s %d\n", req.method.c_str(), target.c_str(), res.status);
}

} // namespace

int main(int argc, char **argv)
{
    StartupOptions options;
    SimConfig config;
    std::string error;
    if (!parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &options, &config, &error)) {
        std::fprintf(stderr, "cloudsim: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }

    if (options.niceness > 0 && nice(options.niceness) == -1 && errno != 0)
        std::fprintf(stderr, "cloudsim: cannot lower the priority: %s\n", std::strerror(errno));

    // A client that goes away mid-answer must cost a failed write, not the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Termination requests are taken by one thread that stops the server in an orderly way; every
    // thread started from here on inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    if (options.exitWithParent) {
        // A test that crashes must not leave its stand-in holding a port for the next one. The
        // parent may already be gone before the request is made; then it is adopted by init.
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() == 1) {
            std::fprintf(stderr, "cloudsim: the starting process is gone\n");
            return 1;
        }
    }

    SimState state(config, options.jobsDir);
    if (!state.open(&error)) {
        std::fprintf(stderr, "cloudsim: %s\n", error.c_str());
        return 1;
    }

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(WorkerThreads); };
    server.set_payload_max_length(options.maxBody);
    // Answers go out as a header write and a body write; with Nagle on, the second waits for the
    // client's delayed ACK and every exchange costs 40 ms.
    server.set_tcp_nodelay(true);
    // The library's default adds SO_REUSEPORT, with which a second instance on the same port
    // starts without complaint and takes half the requests. Address reuse alone lets a restart
    // bind at once without that.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    if (!options.quiet)
        server.set_logger(logRequest);
    CloudService service(server, state, options.maxBody);
    AdminEndpoint admin(server, state);

    const char *host = "127.0.0.1";
    int port = options.port;
    if (port == 0)
        port = server.bind_to_any_port(host);
    else if (!server.bind_to_port(host, port))
        port = -1;
    if (port <= 0) {
        std::fprintf(stderr, "cloudsim: cannot listen on %s:%d\n", host, options.port);
        return 1;
    }
    std::printf("listening %s:%d\n", host, port);
    std::fflush(stdout);

    std::mutex endMutex;
    std::condition_variable endWake;
    bool listenEnded = false;
    std::thread watcher([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        std::unique_lock<std::mutex> lock(endMutex);
        if (listenEnded)
            return;
        std::fprintf(stderr, "cloudsim: stopping on signal %d\n", signal);
        lock.unlock();
        state.stop();
        server.stop();
        lock.lock();
        if (!endWake.wait_for(lock, StopGrace, [&] { return listenEnded; })) {
            // Idle keep-alive connections hold their workers until they time out, seconds later.
            // Nothing of ours is left unwritten (index lines are flushed one by one), so the
            // process leaves without waiting for them.
            std::fflush(stdout);
            std::fflush(stderr);
            std::_Exit(0);
        }
    });

    const bool ok = server.listen_after_bind();
    {
        std::lock_guard<std::mutex> lock(endMutex);
        listenEnded = true;
    }
    endWake.notify_all();
    // Wakes the watcher should it still be waiting for a signal (listening failed on its own).
    pthread_kill(watcher.native_handle(), SIGTERM);
    watcher.join();
    return ok ? 0 : 1;
}
