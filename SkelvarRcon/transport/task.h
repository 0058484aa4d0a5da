#pragma once
// A small coroutine task type for the monitor's single event thread.
//
// Every exchange with the game server takes a fixed wait while the window keeps
// running. Writing that as nested event loops stacks one wait on top of another
// (a timer tick inside a request's wait starts a second wait that the first one
// can only leave after it), so the monitor writes its sequences as coroutines
// instead: `co_await rcon.send("status")` suspends the caller, the transport
// queues the request, and the caller resumes from the top-level event loop when
// its answer is in. Nothing ever blocks and nothing stacks.
//
// Tasks start eagerly (the body runs up to its first suspension when called) and
// own their frame: destroying a Task destroys a suspended coroutine together with
// everything it awaits, which cancels any request it has queued.

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <coroutine>
#include <exception>
#include <functional>
#include <list>
#include <optional>
#include <type_traits>
#include <utility>

namespace skelvar {

namespace detail {

struct FinalAwaiter {
    bool await_ready() const noexcept { return false; }
    template <typename Promise>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> h) noexcept
    {
        // Read everything first: the done-callback may release the task.
        auto& p = h.promise();
        std::coroutine_handle<> next = p.continuation;
        auto done = std::move(p.onDone);
        if (done)
            done();
        return next ? next : std::noop_coroutine();
    }
    void await_resume() const noexcept {}
};

struct PromiseBase {
    std::coroutine_handle<> continuation;
    std::function<void()> onDone;
    std::suspend_never initial_suspend() noexcept { return {}; }
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { std::terminate(); }
};

}  // namespace detail

template <typename T>
class Task;

namespace detail {

template <typename T>
struct TaskPromise : PromiseBase {
    std::optional<T> value;
    Task<T> get_return_object();
    void return_value(T v) { value = std::move(v); }
};

template <>
struct TaskPromise<void> : PromiseBase {
    Task<void> get_return_object();
    void return_void() {}
};

}  // namespace detail

template <typename T = void>
class [[nodiscard]] Task {
public:
    using promise_type = detail::TaskPromise<T>;

    Task() = default;
    Task(Task&& o) noexcept : m_handle(std::exchange(o.m_handle, {})) {}
    Task& operator=(Task&& o) noexcept
    {
        if (this != &o) {
            reset();
            m_handle = std::exchange(o.m_handle, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { reset(); }

    bool valid() const { return bool(m_handle); }
    bool done() const { return !m_handle || m_handle.done(); }
    void onDone(std::function<void()> f) { m_handle.promise().onDone = std::move(f); }
    // The result of a finished task.
    const auto& result() const requires(!std::is_void_v<T>) { return *m_handle.promise().value; }

    bool await_ready() const noexcept { return m_handle.done(); }
    void await_suspend(std::coroutine_handle<> c) noexcept { m_handle.promise().continuation = c; }
    T await_resume()
    {
        if constexpr (!std::is_void_v<T>)
            return std::move(*m_handle.promise().value);
    }

private:
    friend promise_type;
    explicit Task(std::coroutine_handle<promise_type> h) : m_handle(h) {}
    void reset()
    {
        if (m_handle)
            m_handle.destroy();
        m_handle = {};
    }
    std::coroutine_handle<promise_type> m_handle;
};

namespace detail {

template <typename T>
Task<T> TaskPromise<T>::get_return_object()
{
    return Task<T>(std::coroutine_handle<TaskPromise<T>>::from_promise(*this));
}

inline Task<void> TaskPromise<void>::get_return_object()
{
    return Task<void>(std::coroutine_handle<TaskPromise<void>>::from_promise(*this));
}

}  // namespace detail

// Resumes a coroutine from the top-level event loop, never from inside the
// code that completed the thing it waited for.
inline void resumeLater(QObject* context, std::coroutine_handle<> h)
{
    QTimer::singleShot(0, context, [h] { h.resume(); });
}

// `co_await Delay(ctx, ms)`: a pause that keeps the window running. Cancelled
// (never resumed) when the awaiting coroutine is destroyed or ctx dies.
class Delay {
public:
    Delay(QObject* context, int ms) : m_context(context), m_ms(ms) {}
    Delay(const Delay&) = delete;
    ~Delay() { delete m_timer; }
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h)
    {
        m_timer = new QTimer(m_context);
        m_timer->setSingleShot(true);
        QObject::connect(m_timer, &QTimer::timeout, m_timer, [h] { h.resume(); });
        m_timer->start(m_ms);
    }
    void await_resume() const noexcept {}

private:
    QObject* m_context;
    int m_ms;
    QPointer<QTimer> m_timer;
};

// Keeps fire-and-forget tasks (button handlers, timer ticks) alive until they
// finish; destroying the keeper destroys whatever still runs.
class TaskKeeper {
public:
    void keep(Task<> t)
    {
        prune();
        if (!t.done())
            m_tasks.push_back(std::move(t));
    }
    bool idle()
    {
        prune();
        return m_tasks.empty();
    }
    void clear() { m_tasks.clear(); }

private:
    void prune()
    {
        m_tasks.remove_if([](const Task<>& t) { return t.done(); });
    }
    std::list<Task<>> m_tasks;
};

}  // namespace skelvar
