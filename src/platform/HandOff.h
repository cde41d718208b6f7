#pragma once

// Work handed from one thread to another: a job given to a QThreadPool, or a functor
// posted to another thread's event loop.
//
// Qt orders such a hand-off: everything the sending thread wrote before it is seen by
// the job. A Qt that is not built with ThreadSanitizer does that ordering with its own
// futex locks, which ThreadSanitizer cannot see, so in a TSan build of ours every
// hand-off would look like a race between the sender's writes and the job's reads
// (a bitmap made on the main thread and halved on a pool thread, pixels decoded on a
// pool thread and shown on the main one). These functions state the ordering to TSan
// with a release before the hand-off and an acquire when the job starts. Outside a
// TSan build they are exactly QThreadPool::start and QMetaObject::invokeMethod.

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define GLANTO_HANDOFF_ANNOTATED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define GLANTO_HANDOFF_ANNOTATED 1
#endif
#endif

#ifdef GLANTO_HANDOFF_ANNOTATED
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#endif

namespace HandOff {

// QThreadPool::start(job, priority), with everything this thread did before the call
// (the job's captures included) ordered before the job runs.
inline void start(QThreadPool &pool, std::function<void()> job, int priority = 0)
{
#ifdef GLANTO_HANDOFF_ANNOTATED
    // The job's own address names this hand-off: the pool thread knows it without
    // reading anything the queueing thread wrote. std::function keeps a job this
    // large on the heap and moves only the pointer, so the address holds until it runs.
    struct Job
    {
        std::function<void()> run;
        void operator()()
        {
            __tsan_acquire(this);
            run();
        }
    };
    std::function<void()> wrapped = Job{std::move(job)};
    __tsan_release(wrapped.target<Job>());
    pool.start(std::move(wrapped), priority);
#else
    pool.start(std::move(job), priority);
#endif
}

// QMetaObject::invokeMethod(receiver, functor, type), with everything this thread did
// before the call ordered before the functor runs on the receiver's thread.
template <typename Functor>
void invoke(QObject *receiver, Functor &&functor, Qt::ConnectionType type = Qt::AutoConnection)
{
#ifdef GLANTO_HANDOFF_ANNOTATED
    // The functor is moved into a block of its own before the release, so the
    // receiver reads nothing this thread writes after it but Qt's small slot object.
    // The block goes along whole, so it ends on the receiver's side: this thread
    // keeps no share of it to free after the receiver has read it.
    auto box = std::make_shared<std::decay_t<Functor>>(std::forward<Functor>(functor));
    __tsan_release(box.get());
    QMetaObject::invokeMethod(
        receiver,
        [box = std::move(box)] {
            __tsan_acquire(box.get());
            (*box)();
        },
        type);
#else
    QMetaObject::invokeMethod(receiver, std::forward<Functor>(functor), type);
#endif
}

// Pixels shared between threads through QImage's reference count, which lives in Qt
// and is as invisible to TSan as its locks: a thread that read shared pixels and lets
// go of them calls pixelsLetGo; whoever frees the pixels or gives them to another
// image calls pixelsReclaimed first, and so comes after every reader.
inline void pixelsLetGo([[maybe_unused]] const void *pixels)
{
#ifdef GLANTO_HANDOFF_ANNOTATED
    __tsan_release(const_cast<void *>(pixels));
#endif
}

inline void pixelsReclaimed([[maybe_unused]] const void *pixels)
{
#ifdef GLANTO_HANDOFF_ANNOTATED
    __tsan_acquire(const_cast<void *>(pixels));
#endif
}

} // namespace HandOff
