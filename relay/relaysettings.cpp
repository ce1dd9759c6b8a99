#include "relaysettings.h"

#include "courierconstants.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>

namespace {
constexpr int kJobReceiveTimeoutMs = 30000;
constexpr int kCloudReplyTimeoutMs = 15000;
constexpr qint64 kMaxJobBytes = qint64(1) << 30;

// Receivers read these from their own threads while a test may set them from the GUI thread.
QMutex g_baseMutex;
QString g_baseOverride;
bool g_baseOverridden = false;
std::atomic<int> g_receiveTimeoutMs { kJobReceiveTimeoutMs };
std::atomic<int> g_replyTimeoutMs { kCloudReplyTimeoutMs };
std::atomic<qint64> g_maxJobBytes { kMaxJobBytes };
} // namespace

QString cloudServiceBase()
{
    QMutexLocker locker(&g_baseMutex);
    if (g_baseOverridden)
        return g_baseOverride;
    return QStringLiteral(COURIER_CLOUD_SERVICE_BASE);
}

int jobReceiveTimeoutMs()
{
    return g_receiveTimeoutMs.load();
}

int cloudReplyTimeoutMs()
{
    return g_replyTimeoutMs.load();
}

qint64 maxJobBytes()
{
    return g_maxJobBytes.load();
}

void setCloudServiceBaseForTesting(const QString &base)
{
    QMutexLocker locker(&g_baseMutex);
    g_baseOverride = base;
    g_baseOverridden = true;
}

void setJobReceiveTimeoutForTesting(int ms)
{
    g_receiveTimeoutMs.store(ms);
}

void setCloudReplyTimeoutForTesting(int ms)
{
    g_replyTimeoutMs.store(ms);
}

void setMaxJobBytesForTesting(qint64 bytes)
{
    g_maxJobBytes.store(bytes);
}

void resetRelaySettingsForTesting()
{
    {
        QMutexLocker locker(&g_baseMutex);
        g_baseOverride.clear();
        g_baseOverridden = false;
    }
    g_receiveTimeoutMs.store(kJobReceiveTimeoutMs);
    g_replyTimeoutMs.store(kCloudReplyTimeoutMs);
    g_maxJobBytes.store(kMaxJobBytes);
}
