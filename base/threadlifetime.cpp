#include "threadlifetime.h"

#include <QThread>
#include <QTimer>

namespace {
// How long to look away before asking again: the ending thread needs a moment of a core, no more.
constexpr int kRecheckMs = 5;

void deleteOnceEnded(QThread *thread)
{
    // A zero wait only asks whether the thread has ended.
    if (thread->wait(0)) {
        thread->deleteLater();
        return;
    }
    QTimer::singleShot(kRecheckMs, thread, [thread] { deleteOnceEnded(thread); });
}
} // namespace

void deleteWhenEnded(QThread *thread)
{
    QObject::connect(thread, &QThread::finished, thread, [thread] { deleteOnceEnded(thread); });
}
