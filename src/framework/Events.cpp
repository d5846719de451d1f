#include "framework/Events.h"

#include <algorithm>

EventConnection::EventConnection(long id, EventBase* source)
    : id(id), cell(std::make_shared<EventBase*>(source))
{
}

void EventConnection::HandlerDestroyed()
{
    if (!IsConnected()) return;
    (*cell)->BreakConnection(id);
    cell.reset();
    id = -1;
}

EventBase::~EventBase()
{
    for (EventConnection& c : connections)
        if (c.cell) *c.cell = nullptr;
}

void EventBase::AddConnection(EventHandler* owner, const EventConnection& connection)
{
    // Records of broken connections are of no further use to the receiver.
    std::erase_if(owner->connections, [](const EventConnection& c) { return !c.IsConnected(); });
    owner->connections.push_back(connection);
    connections.push_back(connection);
}

void EventBase::HandlerDestroyed(long id)
{
    auto it = std::find_if(connections.begin(), connections.end(),
                           [id](const EventConnection& c) { return c.id == id; });
    if (it == connections.end()) return;
    // Every copy of the connection, the receiver's included, sees it broken from now on.
    if (it->cell) *it->cell = nullptr;
    connections.erase(it);
}

EventHandler::~EventHandler()
{
    for (EventConnection& c : connections)
        c.HandlerDestroyed();
}
