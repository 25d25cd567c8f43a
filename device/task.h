#pragma once

// A sequence of exchanges written as straight code: each `co_await` of an
// exchange suspends the sequence until its answer is in, and the thread that
// runs it goes on with its events meanwhile. A sender whose answers are in
// at once (the command-line tool's) runs the whole sequence before it
// returns. A sequence starts when called and runs to its end whether or not
// anyone keeps the task: dropping it lets it finish on its own.

// moc reads no coroutine header; a declaration is all a moc'd header needs.
#ifdef Q_MOC_RUN
template <class T> class tTask;
#else
#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

template <class T> class tTask {
  public:
    struct promise_type;
    using tHandle = std::coroutine_handle<promise_type>;

    struct promise_type {
        std::optional<T> value;
        std::coroutine_handle<> continuation;
        std::function<void(const T &)> then;
        bool detached = false;

        tTask get_return_object() { return tTask(tHandle::from_promise(*this)); }
        std::suspend_never initial_suspend() noexcept { return {}; }
        struct tFinal {
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(tHandle h) noexcept {
                promise_type &p = h.promise();
                const std::coroutine_handle<> next =
                    p.continuation ? p.continuation : std::noop_coroutine();
                if (p.then)
                    std::exchange(p.then, {})(*p.value);
                if (p.detached)
                    h.destroy();
                return next;
            }
            void await_resume() noexcept {}
        };
        tFinal final_suspend() noexcept { return {}; }
        void return_value(T v) { value = std::move(v); }
        void unhandled_exception() { std::terminate(); }
    };

    tTask(tTask &&o) noexcept : h(std::exchange(o.h, {})) {}
    tTask &operator=(tTask &&) = delete;
    ~tTask() {
        if (!h)
            return;
        if (h.done())
            h.destroy();
        else
            h.promise().detached = true;
    }

    bool Done() const { return !h || h.done(); }
    // The result once Done.
    const T &Result() const { return *h.promise().value; }
    // `f` with the result once the sequence ends (at once when it has).
    void Then(std::function<void(const T &)> f) && {
        if (h.done())
            f(*h.promise().value);
        else
            h.promise().then = std::move(f);
    }

    bool await_ready() const noexcept { return h.done(); }
    void await_suspend(std::coroutine_handle<> c) noexcept { h.promise().continuation = c; }
    T await_resume() { return std::move(*h.promise().value); }

  private:
    explicit tTask(tHandle handle) : h(handle) {}
    tHandle h;
};

// A value already there, as a task: what a sender whose answer is in at once
// gives back.
template <class T> tTask<T> Ready(T value) {
    co_return value;
}
#endif
