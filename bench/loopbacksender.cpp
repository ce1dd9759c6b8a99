#include "loopbacksender.h"

#include "benchjob.h"
#include "procstats.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

LoopbackSender::LoopbackSender(const BenchJob &job, quint16 port)
    : m_job(job)
    , m_port(port)
{
}

LoopbackSender::~LoopbackSender()
{
    if (m_thread.joinable())
        m_thread.join();
}

void LoopbackSender::start()
{
    m_thread = std::thread([this] { run(); });
}

bool LoopbackSender::wait()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_ok;
}

void LoopbackSender::run()
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    // A shell pipeline's listener may take a moment to come up; the clock starts at the first byte.
    int fd = -1;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) {
            m_error = QStringLiteral("socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
            break;
        const int reason = errno;
        ::close(fd);
        if (std::chrono::steady_clock::now() > giveUp) {
            m_error = QStringLiteral("connect to port %1: %2")
                          .arg(m_port)
                          .arg(QString::fromLocal8Bit(std::strerror(reason)));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_firstByteNs = monotonicNs();
    m_ok = m_job.writeTo(fd);
    if (!m_ok)
        m_error = QStringLiteral("send: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    // As the spooler does: the job ends with our side shut for sending, and the connection is held
    // until the receiver closes its own, which is when the job counts as delivered.
    ::shutdown(fd, SHUT_WR);
    char drain[256];
    while (m_ok && ::read(fd, drain, sizeof drain) > 0) { }
    ::close(fd);
}
