#include "platform/MemoryMonitor.h"

#include "platform/HandOff.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <gio/gio.h>

struct MemoryMonitor::Private {
    std::function<void()> onPressure;
    GMemoryMonitor *monitor = nullptr;
    gulong handler = 0;
};

namespace {

void onLowMemory(GMemoryMonitor *, GMemoryMonitorWarningLevel, gpointer data)
{
    auto *d = static_cast<MemoryMonitor::Private *>(data);
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    // GIO delivers on the context it was created in; hop to the main thread either way.
    std::function<void()> callback = d->onPressure;
    HandOff::invoke(app, [callback] { callback(); }, Qt::QueuedConnection);
}

} // namespace

MemoryMonitor::MemoryMonitor(std::function<void()> onPressure)
    : d(new Private)
{
    d->onPressure = std::move(onPressure);
    d->monitor = g_memory_monitor_dup_default();
    if (d->monitor)
        d->handler = g_signal_connect(d->monitor, "low-memory-warning", G_CALLBACK(onLowMemory), d);
}

MemoryMonitor::~MemoryMonitor()
{
    if (d->monitor) {
        if (d->handler)
            g_signal_handler_disconnect(d->monitor, d->handler);
        g_object_unref(d->monitor);
    }
    delete d;
}

bool MemoryMonitor::isAttached() const
{
    return d->monitor != nullptr;
}
