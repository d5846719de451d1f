#include "platform/MessagePopup.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace
{
std::mutex sinkMutex;
std::shared_ptr<MessageSink>& TheSink()
{
    static auto* sink = new std::shared_ptr<MessageSink>;
    return *sink;
}

std::shared_ptr<MessageSink> CurrentSink()
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    return TheSink();
}

char const* OrEmpty(char const* s)
{
    return s ? s : "";
}

void PrintToStderr(char const* kind, char const* text, char const* caption)
{
    std::fprintf(stderr, "[%s] %s: %s\n", kind, caption, text);
}
} // namespace

std::shared_ptr<MessageSink> SetMessageSink(std::shared_ptr<MessageSink> sink)
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    return std::exchange(TheSink(), std::move(sink));
}

void MessagePopup(char const* text, char const* caption)
{
    text = OrEmpty(text);
    caption = OrEmpty(caption);
    if (auto sink = CurrentSink())
        sink->Show(text, caption);
    else
        PrintToStderr("message", text, caption);
}

bool MessageYesNoPopup(char const* text, char const* caption)
{
    text = OrEmpty(text);
    caption = OrEmpty(caption);
    if (auto sink = CurrentSink()) return sink->AskYesNo(text, caption);
    PrintToStderr("question, answered No", text, caption);
    return false;
}
