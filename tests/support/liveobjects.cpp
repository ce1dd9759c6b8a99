#include "liveobjects.h"

#include <QObject>
#include <QStringList>

#include <mutex>
#include <vector>

QT_BEGIN_NAMESPACE
// Exported by Qt Core for tools; the indices below are fixed by its hook data version.
extern quintptr Q_CORE_EXPORT qtHookData[];
QT_END_NAMESPACE

namespace {

enum HookIndex { HookDataVersion = 0, AddQObject = 3, RemoveQObject = 4 };

std::mutex g_mutex;
// In order of creation, so that the newest of a kind can be found.
std::vector<QObject *> g_objects;

void added(QObject *object)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_objects.push_back(object);
}

void removed(QObject *object)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_objects.rbegin(); it != g_objects.rend(); ++it) {
        if (*it == object) {
            g_objects.erase(std::next(it).base());
            return;
        }
    }
}

} // namespace

LiveObjects::LiveObjects()
{
    Q_ASSERT(qtHookData[HookDataVersion] >= 1);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_objects.clear();
    }
    qtHookData[AddQObject] = reinterpret_cast<quintptr>(&added);
    qtHookData[RemoveQObject] = reinterpret_cast<quintptr>(&removed);
}

LiveObjects::~LiveObjects()
{
    qtHookData[AddQObject] = 0;
    qtHookData[RemoveQObject] = 0;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_objects.clear();
}

int LiveObjects::count(const char *className)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    int found = 0;
    for (QObject *object : g_objects) {
        if (object->inherits(className))
            ++found;
    }
    return found;
}

int LiveObjects::total()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return int(g_objects.size());
}

QMap<QByteArray, int> LiveObjects::census()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    QMap<QByteArray, int> counts;
    for (QObject *object : g_objects)
        ++counts[QByteArray(object->metaObject()->className())];
    return counts;
}

QObject *LiveObjects::newest(const char *className)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_objects.rbegin(); it != g_objects.rend(); ++it) {
        if ((*it)->inherits(className))
            return *it;
    }
    return nullptr;
}

QString LiveObjects::leftovers(const QByteArrayList &classNames)
{
    QStringList left;
    for (const QByteArray &name : classNames) {
        const int n = count(name.constData());
        if (n > 0)
            left << QStringLiteral("%1 %2").arg(QString::fromLatin1(name)).arg(n);
    }
    return left.join(QStringLiteral(", "));
}
