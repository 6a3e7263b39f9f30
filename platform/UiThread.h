// The UI thread's message pump and the hand-off of work to it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <iterator>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

// Dispatches every queued event of the UI thread until the queue is empty.
void PumpMessages();
// True on the thread that runs the user interface.
bool IsUiThread();
// Runs fn on the UI thread (at once when already there, else queued).
void RunOnUiThread(std::function<void()> fn);

// Items that worker threads hand to the UI thread in batches. Push may be
// called from any thread: it appends under a lock, and only the first item
// of a new batch posts a delivery (post with delay 0, for example a dialog's
// PostToUi, which drops it when the window is gone). The delivery runs on
// the UI thread and passes the items to deliver in the order pushed, at most
// maxPerDelivery at a time; what is left goes in a delivery posted at once,
// so the UI thread serves other events in between. After a delivery the next
// one waits pauseMs (post with that delay, from the UI thread), so items that
// come one by one still arrive in batches. Flush (UI thread) delivers all
// that is waiting at once.
template <class T>
class UiBatchQueue {
public:
    using Post = std::function<void(int delayMs, std::function<void()>)>;
    using Deliver = std::function<void(std::vector<T>&)>;

    UiBatchQueue(Post post, Deliver deliver, std::size_t maxPerDelivery, int pauseMs)
        : post_(std::move(post)), deliver_(std::move(deliver)), maxPerDelivery_(maxPerDelivery), pauseMs_(pauseMs) {}
    UiBatchQueue(const UiBatchQueue&) = delete;
    UiBatchQueue& operator=(const UiBatchQueue&) = delete;

    void Push(T item) {
        bool first = false;
        {
            std::lock_guard lock(mutex_);
            waiting_.push_back(std::move(item));
            first = !posted_;
            posted_ = true;
        }
        if (first) post_(0, [this] { Delivery(true); });
    }

    void Flush() { Delivery(false); }

private:
    // posted: the delivery that Push posted, which takes a batch at most and
    // then stays posted until one finds nothing to deliver.
    void Delivery(bool posted) {
        const std::size_t most = posted ? maxPerDelivery_ : std::numeric_limits<std::size_t>::max();
        std::vector<T> batch;
        bool more = false;
        {
            std::lock_guard lock(mutex_);
            const std::size_t n = std::min(most, waiting_.size());
            batch.assign(std::make_move_iterator(waiting_.begin()), std::make_move_iterator(waiting_.begin() + n));
            waiting_.erase(waiting_.begin(), waiting_.begin() + n);
            more = !waiting_.empty();
            if (posted && batch.empty()) posted_ = false;
        }
        if (batch.empty()) return;
        deliver_(batch);
        if (posted) post_(more ? 0 : pauseMs_, [this] { Delivery(true); });
    }

    Post post_;
    Deliver deliver_;
    const std::size_t maxPerDelivery_;
    const int pauseMs_;
    std::mutex mutex_;
    std::deque<T> waiting_;
    bool posted_ = false;  // a delivery is on its way
};

}  // namespace platform

#include "platform/Clock.h"

namespace platform {

// A clock that keeps the window alive: a sleep on the UI thread dispatches
// pending events while it waits; sleeps on other threads are the inner
// clock's own. Install it (ScopedClock) around long polls on the UI thread.
class PumpingClock final : public Clock {
public:
    explicit PumpingClock(Clock& inner) : inner_(inner) {}
    std::uint64_t NowMs() override { return inner_.NowMs(); }
    void SleepMs(std::uint32_t ms) override;

private:
    Clock& inner_;
};

}  // namespace platform
