#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <vector>

// A thread-safe cache keyed by file path with a count limit and a cost limit
// (0 = none), evicting the least recently used entries first. Values are copied
// out, so they should be cheap to copy (QImage shares its pixels).
template<typename Value>
class ImageCache
{
public:
    ImageCache(int countLimit, int64_t costLimit)
        : m_countLimit(countLimit)
        , m_costLimit(costLimit)
    {}

    std::optional<Value> value(const QString &key)
    {
        std::lock_guard guard(m_lock);
        const auto it = m_index.constFind(key);
        if (it == m_index.constEnd())
            return std::nullopt;
        m_entries.splice(m_entries.begin(), m_entries, it.value()); // now the most recent
        return it.value()->value;
    }

    void insert(const QString &key, Value value, int64_t cost = 0)
    {
        std::vector<Value> evicted; // destroyed after the lock is released
        {
            std::lock_guard guard(m_lock);
            const auto it = m_index.find(key);
            if (it != m_index.end()) {
                m_cost -= it.value()->cost;
                evicted.push_back(std::move(it.value()->value));
                m_entries.erase(it.value());
                m_index.erase(it);
            }
            m_entries.push_front(Entry{key, std::move(value), cost});
            m_index.insert(key, m_entries.begin());
            m_cost += cost;
            while (!m_entries.empty()
                   && ((m_countLimit > 0 && int(m_entries.size()) > m_countLimit)
                       || (m_costLimit > 0 && m_cost > m_costLimit))) {
                Entry &last = m_entries.back();
                m_cost -= last.cost;
                evicted.push_back(std::move(last.value));
                m_index.remove(last.key);
                m_entries.pop_back();
            }
        }
    }

    void remove(const QString &key)
    {
        std::optional<Value> removed;
        std::lock_guard guard(m_lock);
        const auto it = m_index.find(key);
        if (it == m_index.end())
            return;
        m_cost -= it.value()->cost;
        removed = std::move(it.value()->value);
        m_entries.erase(it.value());
        m_index.erase(it);
    }

    void clear()
    {
        std::list<Entry> gone;
        {
            std::lock_guard guard(m_lock);
            gone.swap(m_entries);
            m_index.clear();
            m_cost = 0;
        }
    }

    int count() const
    {
        std::lock_guard guard(m_lock);
        return int(m_entries.size());
    }

    int64_t totalCost() const
    {
        std::lock_guard guard(m_lock);
        return m_cost;
    }

private:
    struct Entry {
        QString key;
        Value value;
        int64_t cost;
    };
    mutable std::mutex m_lock;
    std::list<Entry> m_entries; // most recent first
    QHash<QString, typename std::list<Entry>::iterator> m_index;
    const int m_countLimit;
    const int64_t m_costLimit;
    int64_t m_cost = 0;
};
