// winsim's answers to "which process owns this TCP connection" and "which process is the spooler":
// the TCP table with owning processes from the system's own socket tables, process image names,
// and the one spooler process that sends every printer's jobs, with real loopback connections and
// real child processes.
#include "winsimtestsupport.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

namespace {

constexpr ULONG kAfInet6 = 10;

// A listening socket on 127.0.0.1 with a port of the system's choice.
class Listener
{
public:
    Listener()
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || listen(m_fd, 4096) != 0
            || getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            close();
            return;
        }
        m_port = ntohs(address.sin_port);
    }
    ~Listener() { close(); }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    uint16_t port() const { return m_port; }
    // The next connection, or -1 when none came in time.
    int accept(int timeoutMs = 15000) const
    {
        pollfd p { m_fd, POLLIN, 0 };
        if (poll(&p, 1, timeoutMs) <= 0)
            return -1;
        return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

uint16_t localPortOf(int fd)
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

int connectTo(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// The table as a caller gets it: the size query, then the call with a buffer of that size, again
// while the table grows in between.
DWORD tcpTable(TCP_TABLE_CLASS tableClass, std::vector<MIB_TCPROW_OWNER_PID> *rows, BOOL order = FALSE)
{
    DWORD size = 0;
    DWORD result = GetExtendedTcpTable(nullptr, &size, order, AF_INET, tableClass, 0);
    std::vector<BYTE> buffer;
    for (int attempt = 0; attempt < 10 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.assign(size, 0);
        result = GetExtendedTcpTable(buffer.data(), &size, order, AF_INET, tableClass, 0);
    }
    if (result != NO_ERROR)
        return result;
    DWORD count = 0;
    std::memcpy(&count, buffer.data(), sizeof count);
    if (offsetof(MIB_TCPTABLE_OWNER_PID, table) + count * sizeof(MIB_TCPROW_OWNER_PID) > buffer.size())
        return ~0u;
    rows->resize(count);
    if (count)
        std::memcpy(rows->data(), buffer.data() + offsetof(MIB_TCPTABLE_OWNER_PID, table),
            count * sizeof(MIB_TCPROW_OWNER_PID));
    return NO_ERROR;
}

const DWORD kLoopback = htonl(INADDR_LOOPBACK);

// The loopback row from localPort to remotePort; null when there is none.
const MIB_TCPROW_OWNER_PID *findRow(
    const std::vector<MIB_TCPROW_OWNER_PID> &rows, uint16_t localPort, uint16_t remotePort)
{
    for (const auto &row : rows)
        if (row.dwLocalAddr == kLoopback && row.dwLocalPort == htons(localPort)
            && row.dwRemotePort == htons(remotePort))
            return &row;
    return nullptr;
}

DWORD ownerOf(uint16_t localPort, uint16_t remotePort)
{
    std::vector<MIB_TCPROW_OWNER_PID> rows;
    if (tcpTable(TCP_TABLE_OWNER_PID_CONNECTIONS, &rows) != NO_ERROR)
        return ~0u;
    const auto *row = findRow(rows, localPort, remotePort);
    return row ? row->dwOwningPid : ~0u;
}

// The owner of the connection's far end, as the program will ask for it.
DWORD peerOwner(int acceptedFd)
{
    sockaddr_in peer {};
    socklen_t length = sizeof peer;
    getpeername(acceptedFd, reinterpret_cast<sockaddr *>(&peer), &length);
    return ownerOf(ntohs(peer.sin_port), localPortOf(acceptedFd));
}

DWORD spoolerProcessId(DWORD *state = nullptr)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE spooler = OpenServiceW(manager, u"Spooler", SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS status {};
    DWORD needed = 0;
    const BOOL ok = QueryServiceStatusEx(
        spooler, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status), sizeof status, &needed);
    CloseServiceHandle(spooler);
    CloseServiceHandle(manager);
    if (state)
        *state = status.dwCurrentState;
    return ok ? status.dwProcessId : ~0u;
}

QString imageName(DWORD processId, DWORD *error = nullptr)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) {
        if (error)
            *error = GetLastError();
        return QString();
    }
    char16_t path[4096];
    DWORD size = 4096;
    const BOOL ok = QueryFullProcessImageNameW(process, 0, path, &size);
    if (error)
        *error = ok ? 0 : GetLastError();
    CloseHandle(process);
    return ok ? QString::fromUtf16(path, int(size)) : QString();
}

QString peerBinary()
{
    return QStringLiteral(WINSIM_PEER);
}

// A child process holding one end of a loopback connection to the listener.
struct PeerConnection
{
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    uint16_t port = 0;
    int accepted = -1;

    bool open(const Listener &listener)
    {
        process->start(peerBinary(), { QStringLiteral("connect"), QString::number(listener.port()) });
        if (!process->waitForStarted(10000))
            return false;
        accepted = listener.accept();
        if (accepted < 0 || !process->waitForReadyRead(10000))
            return false;
        port = uint16_t(process->readLine().trimmed().toUInt());
        return port != 0;
    }
    ~PeerConnection()
    {
        if (accepted >= 0)
            ::close(accepted);
        process->closeWriteChannel();
        process->waitForFinished(10000);
    }
};

// True once the process has gone (a zombie waiting for its reaper counts as gone).
bool processGone(DWORD processId)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(processId));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) == "Z";
}

std::vector<uint8_t> bytes(const QByteArray &data)
{
    return std::vector<uint8_t>(data.begin(), data.end());
}

} // namespace

class TestWinsimNetwork : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loopbackConnectionShowsBothEndsWithTheirOwners_data();
    void loopbackConnectionShowsBothEndsWithTheirOwners();
    void listenersAreKeptApartFromConnections_data();
    void listenersAreKeptApartFromConnections();
    void tableSizeAndArgumentsFollowWindows();
    void orderedTableIsSortedAsWindowsSortsIt();
    void thousandsOfSocketsAreAnsweredQuickly();
    void processImageOfAChild();
    void processCallsRefuseAsWindowsRefuses();
    void spoolerProcessIsTheOneThatConnects();
    void namedSpoolerProcessIsSeenByEveryProcess();
    void idleSpoolerLeavesAndTheNextTakesOver();
};

void TestWinsimNetwork::init()
{
    std::string error;
    QVERIFY2(winsim::reset(&error), error.c_str());
}

void TestWinsimNetwork::cleanup()
{
    QCOMPARE(winsim::openHandleCount(), 0);
}

// Both ways winsim reads the system's table must give the same answers.
void addSources()
{
    QTest::addColumn<QByteArray>("source");
    QTest::newRow("socket diagnostics") << QByteArray();
    QTest::newRow("/proc/net/tcp") << QByteArray("proc");
}

void TestWinsimNetwork::loopbackConnectionShowsBothEndsWithTheirOwners_data()
{
    addSources();
}

void TestWinsimNetwork::loopbackConnectionShowsBothEndsWithTheirOwners()
{
    QFETCH(QByteArray, source);
    qputenv("WINSIM_TCP_TABLE", source);
    const auto restore = qScopeGuard([] { qunsetenv("WINSIM_TCP_TABLE"); });
    Listener listener;
    QVERIFY(listener.port());
    PeerConnection peer;
    QVERIFY(peer.open(listener));
    const DWORD child = DWORD(peer.process->processId());

    std::vector<MIB_TCPROW_OWNER_PID> rows;
    QCOMPARE(tcpTable(TCP_TABLE_OWNER_PID_CONNECTIONS, &rows), DWORD(NO_ERROR));
    // The child's end: its own port to the listener's.
    const auto *outgoing = findRow(rows, peer.port, listener.port());
    QVERIFY(outgoing);
    QCOMPARE(outgoing->dwOwningPid, child);
    QCOMPARE(outgoing->dwRemoteAddr, kLoopback);
    QCOMPARE(outgoing->dwState, DWORD(MIB_TCP_STATE_ESTAB));
    // The accepted end belongs to this process.
    const auto *incoming = findRow(rows, listener.port(), peer.port);
    QVERIFY(incoming);
    QCOMPARE(incoming->dwOwningPid, GetCurrentProcessId());
    QCOMPARE(incoming->dwState, DWORD(MIB_TCP_STATE_ESTAB));
    // Network byte order with the port in the low 16 bits: the bytes are those of a sockaddr.
    const auto *raw = reinterpret_cast<const uint8_t *>(&incoming->dwLocalPort);
    QCOMPARE(int(raw[0]) << 8 | raw[1], int(listener.port()));
    QCOMPARE(incoming->dwLocalPort >> 16, DWORD(0));
    QCOMPARE(reinterpret_cast<const uint8_t *>(&incoming->dwLocalAddr)[0], uint8_t(127));

    // Once the child has closed its end, this side waits to close and the child's end lingers
    // without an owner, as a closed socket on Windows does.
    peer.process->closeWriteChannel();
    QVERIFY(peer.process->waitForFinished(10000));
    QTRY_COMPARE_WITH_TIMEOUT(ownerOf(listener.port(), peer.port), GetCurrentProcessId(), 10000);
    std::vector<MIB_TCPROW_OWNER_PID> after;
    QCOMPARE(tcpTable(TCP_TABLE_OWNER_PID_CONNECTIONS, &after), DWORD(NO_ERROR));
    QCOMPARE(findRow(after, listener.port(), peer.port)->dwState, DWORD(MIB_TCP_STATE_CLOSE_WAIT));
    const auto *closed = findRow(after, peer.port, listener.port());
    QVERIFY(closed);
    QCOMPARE(closed->dwState, DWORD(MIB_TCP_STATE_FIN_WAIT2));
    QCOMPARE(closed->dwOwningPid, DWORD(0));
}

void TestWinsimNetwork::listenersAreKeptApartFromConnections_data()
{
    addSources();
}

void TestWinsimNetwork::listenersAreKeptApartFromConnections()
{
    QFETCH(QByteArray, source);
    qputenv("WINSIM_TCP_TABLE", source);
    const auto restore = qScopeGuard([] { qunsetenv("WINSIM_TCP_TABLE"); });
    Listener listener;
    QVERIFY(listener.port());
    PeerConnection peer;
    QVERIFY(peer.open(listener));
    const auto listening = [&](const std::vector<MIB_TCPROW_OWNER_PID> &rows) {
        for (const auto &row : rows)
            if (row.dwLocalPort == htons(listener.port()) && row.dwState == MIB_TCP_STATE_LISTEN)
                return &row;
        return static_cast<const MIB_TCPROW_OWNER_PID *>(nullptr);
    };

    std::vector<MIB_TCPROW_OWNER_PID> connections, listeners, all;
    QCOMPARE(tcpTable(TCP_TABLE_OWNER_PID_CONNECTIONS, &connections), DWORD(NO_ERROR));
    QCOMPARE(tcpTable(TCP_TABLE_OWNER_PID_LISTENER, &listeners), DWORD(NO_ERROR));
    QCOMPARE(tcpTable(TCP_TABLE_OWNER_PID_ALL, &all), DWORD(NO_ERROR));
    QVERIFY(std::none_of(connections.begin(), connections.end(),
        [](const MIB_TCPROW_OWNER_PID &r) { return r.dwState == MIB_TCP_STATE_LISTEN; }));
    QVERIFY(std::all_of(listeners.begin(), listeners.end(),
        [](const MIB_TCPROW_OWNER_PID &r) { return r.dwState == MIB_TCP_STATE_LISTEN; }));
    QVERIFY(!listening(connections));
    const auto *row = listening(listeners);
    QVERIFY(row);
    QCOMPARE(row->dwOwningPid, GetCurrentProcessId());
    QCOMPARE(row->dwRemoteAddr, DWORD(0));
    QCOMPARE(row->dwRemotePort, DWORD(0));
    // All holds both kinds.
    QVERIFY(listening(all));
    QVERIFY(findRow(all, peer.port, listener.port()));
    QVERIFY(!findRow(listeners, peer.port, listener.port()));
}

void TestWinsimNetwork::tableSizeAndArgumentsFollowWindows()
{
    Listener listener;
    QVERIFY(listener.port());
    const int client = connectTo(listener.port());
    QVERIFY(client >= 0);
    const int server = listener.accept();
    QVERIFY(server >= 0);

    // The size query answers the size of a table holding every row, and fills nothing.
    DWORD size = 0;
    QCOMPARE(GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0),
        DWORD(ERROR_INSUFFICIENT_BUFFER));
    QVERIFY(size >= offsetof(MIB_TCPTABLE_OWNER_PID, table) + 2 * sizeof(MIB_TCPROW_OWNER_PID));
    std::vector<BYTE> buffer(size + 4096, 0xEE);
    DWORD tooSmall = DWORD(offsetof(MIB_TCPTABLE_OWNER_PID, table) + sizeof(MIB_TCPROW_OWNER_PID));
    QCOMPARE(
        GetExtendedTcpTable(buffer.data(), &tooSmall, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0),
        DWORD(ERROR_INSUFFICIENT_BUFFER));
    // The size needed now, which holds at least our own connection's two ends. Not compared with the
    // first answer: other programs' sockets may have come and gone in between, any number of them.
    QVERIFY(tooSmall >= offsetof(MIB_TCPTABLE_OWNER_PID, table) + 2 * sizeof(MIB_TCPROW_OWNER_PID));
    QCOMPARE(buffer[0], BYTE(0xEE));

    DWORD given = DWORD(buffer.size());
    QCOMPARE(GetExtendedTcpTable(buffer.data(), &given, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0),
        DWORD(NO_ERROR));
    DWORD count = 0;
    std::memcpy(&count, buffer.data(), sizeof count);
    QVERIFY(count >= 2);
    QVERIFY(offsetof(MIB_TCPTABLE_OWNER_PID, table) + count * sizeof(MIB_TCPROW_OWNER_PID) <= buffer.size());

    // Only IPv4 and the classes with owning processes; Reserved must be 0.
    size = 0;
    QCOMPARE(GetExtendedTcpTable(nullptr, &size, FALSE, kAfInet6, TCP_TABLE_OWNER_PID_ALL, 0),
        DWORD(ERROR_INVALID_PARAMETER));
    QCOMPARE(GetExtendedTcpTable(nullptr, nullptr, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0),
        DWORD(ERROR_INVALID_PARAMETER));
    QCOMPARE(GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 1),
        DWORD(ERROR_INVALID_PARAMETER));
    QCOMPARE(GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_CLASS(42), 0),
        DWORD(ERROR_INVALID_PARAMETER));

    // Injected failures and counts work as for every other call.
    const int before = winsim::callCount("GetExtendedTcpTable");
    winsim::failCall("GetExtendedTcpTable", 1, ERROR_NOT_ENOUGH_MEMORY);
    given = DWORD(buffer.size());
    QCOMPARE(GetExtendedTcpTable(buffer.data(), &given, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0),
        DWORD(ERROR_NOT_ENOUGH_MEMORY));
    QCOMPARE(GetExtendedTcpTable(buffer.data(), &given, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0),
        DWORD(NO_ERROR));
    QCOMPARE(winsim::callCount("GetExtendedTcpTable"), before + 2);
    ::close(client);
    ::close(server);
}

void TestWinsimNetwork::orderedTableIsSortedAsWindowsSortsIt()
{
    Listener listener;
    QVERIFY(listener.port());
    std::vector<int> sockets;
    for (int i = 0; i < 20; ++i) {
        sockets.push_back(connectTo(listener.port()));
        sockets.push_back(listener.accept());
        QVERIFY(sockets.back() >= 0 && sockets[sockets.size() - 2] >= 0);
    }
    std::vector<MIB_TCPROW_OWNER_PID> rows;
    QCOMPARE(tcpTable(TCP_TABLE_OWNER_PID_ALL, &rows, TRUE), DWORD(NO_ERROR));
    QVERIFY(rows.size() >= 41);
    const auto key = [](const MIB_TCPROW_OWNER_PID &r) {
        return std::make_tuple(ntohl(r.dwLocalAddr), ntohs(uint16_t(r.dwLocalPort)), ntohl(r.dwRemoteAddr),
            ntohs(uint16_t(r.dwRemotePort)));
    };
    for (size_t i = 1; i < rows.size(); ++i)
        QVERIFY2(key(rows[i - 1]) <= key(rows[i]), qPrintable(QStringLiteral("row %1").arg(i)));
    // The sorted table is the same set of rows.
    std::vector<MIB_TCPROW_OWNER_PID> unordered;
    QCOMPARE(tcpTable(TCP_TABLE_OWNER_PID_ALL, &unordered, FALSE), DWORD(NO_ERROR));
    int ours = 0;
    for (const auto &row : rows)
        ours += row.dwLocalPort == htons(listener.port()) && row.dwOwningPid == GetCurrentProcessId();
    QCOMPARE(ours, 21); // the listener and the accepted ends
    for (const int fd : sockets)
        ::close(fd);
}

void TestWinsimNetwork::thousandsOfSocketsAreAnsweredQuickly()
{
    constexpr int kConnections = 2000;
    Listener listener;
    QVERIFY(listener.port());
    std::vector<int> clients, servers;
    for (int i = 0; i < kConnections; ++i) {
        const int client = connectTo(listener.port());
        QVERIFY(client >= 0);
        clients.push_back(client);
        const int server = listener.accept();
        QVERIFY(server >= 0);
        servers.push_back(server);
    }
    std::vector<MIB_TCPROW_OWNER_PID> rows;
    std::vector<double> queries, fills;
    for (int round = 0; round < 7; ++round) {
        const auto start = std::chrono::steady_clock::now();
        DWORD size = 0;
        QCOMPARE(GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0),
            DWORD(ERROR_INSUFFICIENT_BUFFER));
        const auto queried = std::chrono::steady_clock::now();
        std::vector<BYTE> buffer(size + 64 * sizeof(MIB_TCPROW_OWNER_PID));
        size = DWORD(buffer.size());
        QCOMPARE(
            GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0),
            DWORD(NO_ERROR));
        const auto filled = std::chrono::steady_clock::now();
        queries.push_back(std::chrono::duration<double, std::milli>(queried - start).count());
        fills.push_back(std::chrono::duration<double, std::milli>(filled - queried).count());
    }
    QCOMPARE(tcpTable(TCP_TABLE_OWNER_PID_CONNECTIONS, &rows), DWORD(NO_ERROR));
    std::sort(queries.begin(), queries.end());
    std::sort(fills.begin(), fills.end());
    qInfo("GetExtendedTcpTable with %d loopback connections open here (%zu rows): size query median %.2f ms, "
          "filled table median %.2f ms (best %.2f ms)",
        kConnections, rows.size(), queries[queries.size() / 2], fills[fills.size() / 2], fills.front());

    // Every end is found, each with this process as its owner.
    std::set<uint16_t> clientPorts;
    for (const int fd : clients)
        clientPorts.insert(localPortOf(fd));
    int clientRows = 0;
    int serverRows = 0;
    for (const auto &row : rows) {
        if (row.dwLocalAddr != kLoopback || row.dwOwningPid != GetCurrentProcessId())
            continue;
        if (row.dwRemotePort == htons(listener.port()) && clientPorts.count(ntohs(uint16_t(row.dwLocalPort))))
            ++clientRows;
        if (row.dwLocalPort == htons(listener.port()) && clientPorts.count(ntohs(uint16_t(row.dwRemotePort))))
            ++serverRows;
    }
    QCOMPARE(clientRows, kConnections);
    QCOMPARE(serverRows, kConnections);
    for (const int fd : clients)
        ::close(fd);
    for (const int fd : servers)
        ::close(fd);
}

void TestWinsimNetwork::processImageOfAChild()
{
    Listener listener;
    QVERIFY(listener.port());
    auto peer = std::make_unique<PeerConnection>();
    QVERIFY(peer->open(listener));
    const DWORD child = DWORD(peer->process->processId());
    const QString expected = QFileInfo(peerBinary()).canonicalFilePath();

    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child);
    QVERIFY(process);
    QCOMPARE(winsim::openHandleCount(), 1); // leak checks see process handles
    // In: the buffer's characters; out: the characters written, without the null. One short of
    // room for the null fails and leaves the buffer alone.
    const DWORD length = DWORD(expected.size());
    std::vector<char16_t> path(length + 8, u'#');
    DWORD size = length;
    QVERIFY(!QueryFullProcessImageNameW(process, 0, path.data(), &size));
    QCOMPARE(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    QCOMPARE(path[0], u'#');
    size = length + 1;
    QVERIFY(QueryFullProcessImageNameW(process, 0, path.data(), &size));
    QCOMPARE(size, length);
    QCOMPARE(QString::fromUtf16(path.data()), expected);

    // The handle keeps the process it was opened on, also once that process has gone.
    peer.reset();
    QVERIFY(processGone(child));
    size = DWORD(path.size());
    QVERIFY(QueryFullProcessImageNameW(process, 0, path.data(), &size));
    QCOMPARE(QString::fromUtf16(path.data(), int(size)), expected);
    QVERIFY(CloseHandle(process));
    QCOMPARE(winsim::openHandleCount(), 0);
    QVERIFY(!CloseHandle(process));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    // This process, by its own id.
    QCOMPARE(GetCurrentProcessId(), DWORD(getpid()));
    QCOMPARE(
        imageName(GetCurrentProcessId()), QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
}

void TestWinsimNetwork::processCallsRefuseAsWindowsRefuses()
{
    // No process has this id (above any id the kernel hands out), nor id 0.
    QVERIFY(!OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0x7FFFFFF0));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    QVERIFY(!OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    // A handle without a query right cannot be asked; nor can a handle of another kind.
    HANDLE terminateOnly = OpenProcess(0x0001, FALSE, GetCurrentProcessId());
    QVERIFY(terminateOnly);
    char16_t path[MAX_PATH];
    DWORD size = MAX_PATH;
    QVERIFY(!QueryFullProcessImageNameW(terminateOnly, 0, path, &size));
    QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    QVERIFY(CloseHandle(terminateOnly));
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    QVERIFY(!QueryFullProcessImageNameW(reinterpret_cast<HANDLE>(manager), 0, path, &size));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    QVERIFY(!CloseHandle(reinterpret_cast<HANDLE>(manager))); // not a kernel object's handle
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    QVERIFY(CloseServiceHandle(manager));

    winsim::failCall("OpenProcess", 1, ERROR_ACCESS_DENIED);
    QVERIFY(!OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId()));
    QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    QCOMPARE(winsim::callCount("OpenProcess"), 4);

    // A process whose image this process may not read (another user's, or a kernel thread).
    DWORD denied = 0;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const DWORD pid = entry.toUInt(&number);
        if (number && QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(entry)).isEmpty()
            && QFileInfo::exists(QStringLiteral("/proc/%1/stat").arg(entry))) {
            denied = pid;
            break;
        }
    }
    if (!denied)
        QSKIP("every process here has a readable image");
    QVERIFY(!OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, denied));
    QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

void TestWinsimNetwork::spoolerProcessIsTheOneThatConnects()
{
    // Two printers with a job each, both held open by their receivers: one process sends both.
    Listener first, second;
    QVERIFY(first.port() && second.port());
    QVERIFY(addCloudPrinter(QStringLiteral("Cloud A"), QStringLiteral("REDnet001"), first.port()));
    QVERIFY(addTcpPort(QStringLiteral("REDnet002"), QStringLiteral("127.0.0.1"), second.port()) == 0);
    QVERIFY(winsim::addPrinter("Cloud B", "REDnet002", kModel));
    QVERIFY(winsim::submitJob("Cloud A", std::string("a"), bytes("for A")));
    QVERIFY(winsim::submitJob("Cloud B", std::string("b"), bytes("for B")));
    const int a = first.accept();
    const int b = second.accept();
    QVERIFY(a >= 0 && b >= 0);

    const DWORD ownerA = peerOwner(a);
    const DWORD ownerB = peerOwner(b);
    DWORD state = 0;
    const DWORD spooler = spoolerProcessId(&state);
    QCOMPARE(state, DWORD(SERVICE_RUNNING));
    QVERIFY(spooler != 0 && spooler != ~0u);
    QCOMPARE(ownerA, spooler);
    QCOMPARE(ownerB, spooler);
    QVERIFY(spooler != GetCurrentProcessId());
    QCOMPARE(imageName(spooler), QFileInfo(QStringLiteral(COURIER_BIN_DIR "/winsim")).canonicalFilePath());

    QByteArray body;
    QVERIFY(readToEnd(a, &body));
    QCOMPARE(body, QByteArray("for A"));
    ::close(a);
    body.clear();
    QVERIFY(readToEnd(b, &body));
    QCOMPARE(body, QByteArray("for B"));
    ::close(b);

    // A stopped spooler service has no process, as on Windows.
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, u"Spooler", SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS status {};
    QVERIFY(ControlService(service, SERVICE_CONTROL_STOP, &status));
    QVERIFY(CloseServiceHandle(service));
    QVERIFY(CloseServiceHandle(manager));
    QCOMPARE(spoolerProcessId(&state), DWORD(0));
    QCOMPARE(state, DWORD(SERVICE_STOPPED));
}

void TestWinsimNetwork::namedSpoolerProcessIsSeenByEveryProcess()
{
    const auto peer = [](const QStringList &arguments) {
        QProcess process;
        process.start(peerBinary(), arguments);
        if (!process.waitForFinished(15000) || process.exitCode() != 0)
            return QByteArray(QByteArray("failed: ") + process.readAllStandardError());
        return process.readAllStandardOutput().trimmed();
    };
    // Named by another process, seen here; named here, seen there.
    const DWORD self = GetCurrentProcessId();
    QCOMPARE(peer({ "name-spooler", QString::number(self) }), QByteArray());
    QCOMPARE(spoolerProcessId(), self);
    QVERIFY(winsim::nameSpoolerProcess(4242));
    QCOMPARE(peer({ "spooler-pid" }), QByteArray("4242"));

    // 0 gives the role back to the spooler process, which every process sees alike.
    QVERIFY(winsim::nameSpoolerProcess(0));
    // An idle spooler may leave between two questions; the same one before and after settles it.
    const auto sameAnswer = [&] {
        const DWORD before = spoolerProcessId();
        const QByteArray there = peer({ "spooler-pid" });
        return before == spoolerProcessId() && there == QByteArray::number(before) && before != 4242
            && before != self && before != 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(sameAnswer(), 30000);

    // A reset forgets the name.
    QVERIFY(winsim::nameSpoolerProcess(4242));
    QVERIFY(winsim::reset());
    QVERIFY(spoolerProcessId() != 4242);
}

void TestWinsimNetwork::idleSpoolerLeavesAndTheNextTakesOver()
{
    // A root of its own, so that this test's spooler is started with the idle time set here.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QByteArray previousRoot = qgetenv("WINSIM_ROOT");
    qputenv("WINSIM_ROOT", root.path().toUtf8());
    qputenv("WINSIM_SPOOLER_IDLE_MS", "0");
    QVERIFY(winsim::reset());
    const auto restore = qScopeGuard([&] {
        qunsetenv("WINSIM_SPOOLER_IDLE_MS");
        qputenv("WINSIM_ROOT", previousRoot);
        winsim::reset();
    });

    // Each job is submitted while the spooler that sent the one before may be leaving: none of
    // them may be lost between two spoolers, and they still go out in order.
    Listener listener;
    QVERIFY(addCloudPrinter(QStringLiteral("Cloud A"), QStringLiteral("REDnet001"), listener.port()));
    std::set<DWORD> spoolers;
    DWORD last = 0;
    for (int i = 0; i < 12; ++i) {
        const QByteArray body = "job " + QByteArray::number(i);
        QVERIFY(winsim::submitJob("Cloud A", std::string(body.constData()), bytes(body)));
        const int connection = listener.accept();
        QVERIFY2(connection >= 0, qPrintable(QStringLiteral("job %1 did not arrive").arg(i)));
        last = peerOwner(connection);
        spoolers.insert(last);
        QByteArray received;
        QVERIFY(readToEnd(connection, &received));
        QCOMPARE(received, body);
        ::close(connection);
    }
    qInfo("12 jobs went out through %zu spooler processes", spoolers.size());
    QVERIFY(!spoolers.count(0));
    // Without work the last one leaves; the service then starts a new one.
    QTRY_VERIFY_WITH_TIMEOUT(processGone(last), 15000);
    const DWORD next = spoolerProcessId();
    QVERIFY(next != 0 && next != ~0u && next != last);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(next), 15000);
}

QTEST_GUILESS_MAIN(TestWinsimNetwork)
#include "tst_winsimnetwork.moc"
