#pragma once

#include <functional>

// The system's low-memory warnings (GIO's memory monitor, fed by the
// low-memory-monitor service or the desktop portal). Every warning level counts
// alike. The callback runs on the main thread.
class MemoryMonitor
{
public:
    explicit MemoryMonitor(std::function<void()> onPressure);
    ~MemoryMonitor();
    MemoryMonitor(const MemoryMonitor &) = delete;
    MemoryMonitor &operator=(const MemoryMonitor &) = delete;

    // Whether a system source of warnings could be attached.
    bool isAttached() const;

    struct Private; // public only so the GIO callback can reach it

private:
    Private *d;
};
