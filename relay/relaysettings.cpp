#include "relaysettings.h"

#include "courierconstants.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>

namespace {
constexpr int kJobReceiveTimeoutMs = 30000;
constexpr int kCloudReplyTimeoutMs = 15000;
constexpr qint64 kMaxJobBytes = qint64(4) << 30;
constexpr int kRetryFirstDelayMs = 1000;
constexpr int kRetryMaxDelayMs = 60000;
constexpr qint64 kRetryGiveUpMs = 15 * 60 * 1000;
constexpr qint64 kPrintingLimitMs = 60 * 60 * 1000;

// Receivers read these from their own threads while a test may set them from the GUI thread.
QMutex g_baseMutex;
QString g_baseOverride;
bool g_baseOverridden = false;
std::atomic<int> g_receiveTimeoutMs { kJobReceiveTimeoutMs };
std::atomic<int> g_replyTimeoutMs { kCloudReplyTimeoutMs };
std::atomic<qint64> g_maxJobBytes { kMaxJobBytes };
std::atomic<int> g_retryFirstDelayMs { kRetryFirstDelayMs };
std::atomic<int> g_retryMaxDelayMs { kRetryMaxDelayMs };
std::atomic<qint64> g_retryGiveUpMs { kRetryGiveUpMs };
std::atomic<qint64> g_printingLimitMs { kPrintingLimitMs };
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

int postRetryFirstDelayMs()
{
    return g_retryFirstDelayMs.load();
}

int postRetryMaxDelayMs()
{
    return g_retryMaxDelayMs.load();
}

qint64 postRetryGiveUpMs()
{
    return g_retryGiveUpMs.load();
}

qint64 printingLimitMs()
{
    return g_printingLimitMs.load();
}

void setPostRetryForTesting(int firstDelayMs, int maxDelayMs, qint64 giveUpMs)
{
    g_retryFirstDelayMs.store(firstDelayMs);
    g_retryMaxDelayMs.store(maxDelayMs);
    g_retryGiveUpMs.store(giveUpMs);
}

void setPrintingLimitForTesting(qint64 ms)
{
    g_printingLimitMs.store(ms);
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
    setPostRetryForTesting(kRetryFirstDelayMs, kRetryMaxDelayMs, kRetryGiveUpMs);
    g_printingLimitMs.store(kPrintingLimitMs);
}
