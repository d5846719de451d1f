#pragma once

// Typed signals. A source (Event<void (Args...)>) calls its handlers, each a member function of a
// receiver derived from EventHandler, in the order they were added. Either side may die first:
// a dying receiver disconnects itself from every live source, and a dying source marks all its
// connections dead so that receivers never call into it.
//
// Everything runs on one thread. During Trigger handlers may disconnect themselves or others,
// destroy receivers, add handlers (called from the next Trigger on) or even destroy the source.

#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

class EventBase;
class EventHandler;

// Connection ids, unique per source; the first is 1.
class EventGUID
{
public:
    long Next() { return ++counter; }

private:
    long counter = 0;
};

// One connection as seen by either side. Copies share one cell that holds the source while the
// connection lives and null once it has been broken or the source is gone.
class EventConnection
{
public:
    EventConnection() = default;
    EventConnection(long id, EventBase* source);

    bool IsConnected() const { return cell && *cell; }
    long GetId() const { return id; }
    // Disconnects (when still connected) and forgets the source.
    void HandlerDestroyed();

private:
    friend class EventBase;
    long id = -1;
    std::shared_ptr<EventBase*> cell;
};

class EventBase
{
public:
    EventBase() = default;
    EventBase(const EventBase&) = delete;
    EventBase& operator=(const EventBase&) = delete;
    virtual ~EventBase();

    virtual void AddConnection(EventHandler* owner, const EventConnection& connection);
    virtual void BreakConnection(long id) = 0;
    virtual void HandlerDestroyed(long id);

    std::size_t NumConnections() const { return connections.size(); }

protected:
    std::vector<EventConnection> connections;
};

// Base of every receiver: remembers the connections it holds and breaks the live ones when it dies.
class EventHandler
{
public:
    EventHandler() = default;
    EventHandler(const EventHandler&) = delete;
    EventHandler& operator=(const EventHandler&) = delete;
    virtual ~EventHandler();

    // Connections held, dead ones included until the next connection is made.
    std::size_t NumEventConnections() const { return connections.size(); }

private:
    friend class EventBase;
    std::vector<EventConnection> connections;
};

template <typename Signature> class EventImpl;

template <typename... Args> class EventImpl<void(Args...)> : public EventBase
{
public:
    // The receiver's member function, stored without allocation: a typed thunk calls it.
    struct Handler
    {
        void (*invoke)(const Handler&, Args&...);
        unsigned char method[2 * sizeof(void*)]; // the member function pointer, copied bytewise
        void* target;
        EventHandler* owner; // null once removed during a Trigger
        long id;

        void operator()(Args&... args) const { invoke(*this, args...); }
    };

    ~EventImpl() override
    {
        if (running) *running = true;
    }

    void BreakConnection(long id) override
    {
        HandlerDestroyed(id);
        for (auto it = handlers.begin(); it != handlers.end(); ++it)
            if (it->id == id && it->owner)
            {
                if (depth > 0)
                {
                    // A Trigger is walking the list: leave the slot, skip it, drop it afterwards.
                    it->owner = nullptr;
                    removedWhileRunning = true;
                }
                else
                    handlers.erase(it);
                return;
            }
    }

    EventConnection HandlerAdded(const Handler& h)
    {
        handlers.push_back(h);
        EventConnection connection(h.id, this);
        AddConnection(h.owner, connection);
        return connection;
    }

    std::size_t NumHandlers() const
    {
        std::size_t n = 0;
        for (const Handler& h : handlers)
            n += h.owner != nullptr;
        return n;
    }

protected:
    // Calls the handlers present at the start, in order, skipping those removed meanwhile.
    void Run(Args... args)
    {
        RunScope scope(*this);
        for (std::size_t i = 0, n = handlers.size(); i < n; ++i)
        {
            const Handler h = handlers[i];
            if (!h.owner) continue;
            h(args...);
            if (scope.destroyed) return; // a handler destroyed this source: touch nothing of it any more
        }
    }

    std::vector<Handler> handlers;

private:
    // Marks a running Trigger (nested ones too, and also when a handler throws).
    struct RunScope
    {
        explicit RunScope(EventImpl& e) : event(e), outer(e.running)
        {
            event.running = &destroyed;
            ++event.depth;
        }
        ~RunScope()
        {
            if (destroyed)
            {
                if (outer) *outer = true;
                return;
            }
            event.running = outer;
            if (--event.depth == 0 && event.removedWhileRunning)
            {
                event.removedWhileRunning = false;
                std::erase_if(event.handlers, [](const Handler& h) { return h.owner == nullptr; });
            }
        }
        RunScope(const RunScope&) = delete;
        RunScope& operator=(const RunScope&) = delete;

        EventImpl& event;
        bool* const outer;
        bool destroyed = false;
    };

    int depth = 0;
    bool removedWhileRunning = false;
    bool* running = nullptr; // flag of the innermost running Trigger, set when this source dies
};

template <typename Signature> class EventTargetList;

template <typename... Args> class EventTargetList<void(Args...)> : public EventImpl<void(Args...)>
{
public:
    template <typename T> EventConnection AddHandler(T* target, void (T::*method)(Args...))
    {
        static_assert(std::is_base_of_v<EventHandler, T>, "receivers derive from EventHandler");
        using Method = void (T::*)(Args...);
        using Handler = typename EventImpl<void(Args...)>::Handler;
        static_assert(sizeof(Method) <= sizeof(Handler::method));
        Handler h{};
        h.invoke = &Invoke<T>;
        std::memcpy(h.method, &method, sizeof(Method));
        h.target = target;
        h.owner = target;
        h.id = guid.Next();
        return this->HandlerAdded(h);
    }

private:
    template <typename T>
    static void Invoke(const typename EventImpl<void(Args...)>::Handler& h, Args&... args)
    {
        void (T::*method)(Args...);
        std::memcpy(&method, h.method, sizeof(method));
        (static_cast<T*>(h.target)->*method)(args...);
    }

    EventGUID guid;
};

template <typename Signature> class Event;

template <typename... Args> class Event<void(Args...)> : public EventTargetList<void(Args...)>
{
public:
    // Each handler receives its own copies of by-value arguments.
    void Trigger(Args... args) { this->Run(args...); }
};
