#include "toolkit/Responders.h"

namespace
{
struct Queues
{
    std::deque<std::function<void(Frame&)>> modalRuns;
    std::deque<bool> alerts;
    std::deque<std::vector<std::string>> menus;
    std::deque<std::optional<std::string>> fileDialogs;
    std::vector<std::string> answered;
};

Queues& Q()
{
    static auto* queues = new Queues;
    return *queues;
}

template <typename T> std::optional<T> Take(std::deque<T>& queue)
{
    if (queue.empty()) return std::nullopt;
    T front = std::move(queue.front());
    queue.pop_front();
    return front;
}
} // namespace

void Responders::NextModalRun(std::function<void(Frame&)> respond)
{
    Q().modalRuns.push_back(std::move(respond));
}

void Responders::NextAlert(bool yes)
{
    Q().alerts.push_back(yes);
}

void Responders::NextMenu(std::vector<std::string> path)
{
    Q().menus.push_back(std::move(path));
}

void Responders::NextFileDialog(std::optional<std::string> path)
{
    Q().fileDialogs.push_back(std::move(path));
}

void Responders::Clear()
{
    Q() = Queues();
}

std::vector<std::string>& Responders::AnsweredAlerts()
{
    return Q().answered;
}

std::optional<std::function<void(Frame&)>> Responders::TakeModalRun()
{
    return Take(Q().modalRuns);
}

std::optional<bool> Responders::TakeAlert()
{
    return Take(Q().alerts);
}

std::optional<std::vector<std::string>> Responders::TakeMenu()
{
    return Take(Q().menus);
}

std::optional<std::optional<std::string>> Responders::TakeFileDialog()
{
    return Take(Q().fileDialogs);
}
