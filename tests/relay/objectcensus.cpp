#include "objectcensus.h"

#include <QtGlobal>

#include <atomic>

QT_BEGIN_NAMESPACE
class QObject;
// Exported by Qt Core for tools; the indices below are fixed by its hook data version.
extern quintptr Q_CORE_EXPORT qtHookData[];
QT_END_NAMESPACE

namespace {
enum HookIndex { HookDataVersion = 0, AddQObject = 3, RemoveQObject = 4 };

std::atomic<int> g_alive { 0 };

void added(QObject *)
{
    ++g_alive;
}

void removed(QObject *)
{
    --g_alive;
}
} // namespace

ObjectCensus::ObjectCensus()
{
    Q_ASSERT(qtHookData[HookDataVersion] >= 1);
    g_alive = 0;
    qtHookData[AddQObject] = reinterpret_cast<quintptr>(&added);
    qtHookData[RemoveQObject] = reinterpret_cast<quintptr>(&removed);
}

ObjectCensus::~ObjectCensus()
{
    qtHookData[AddQObject] = 0;
    qtHookData[RemoveQObject] = 0;
}

int ObjectCensus::alive()
{
    return g_alive.load();
}
