#pragma once

#include <memory>

// Where modal alerts go. The graphics toolkit installs a sink that shows real alerts;
// until then, and whenever no sink is installed, texts are printed to stderr and every
// question is answered "No". Tests install recording sinks.
class MessageSink
{
public:
    virtual ~MessageSink() = default;
    // A note alert with the text and the caption; returns when the user has closed it.
    virtual void Show(char const* text, char const* caption) = 0;
    // The same alert with "Yes" and "No"; true when the user chose "Yes".
    virtual bool AskYesNo(char const* text, char const* caption) = 0;
};

// Installs the sink for every thread (null: the stderr default); returns the one it
// replaces. A call already running in the old sink finishes there.
std::shared_ptr<MessageSink> SetMessageSink(std::shared_ptr<MessageSink> sink);

// Null texts are shown as empty texts.
void MessagePopup(char const* text, char const* caption);
bool MessageYesNoPopup(char const* text, char const* caption);
