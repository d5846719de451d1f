#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class Frame;

// Answers for tests: each queued answer is used by the next modal run, alert, menu or file
// dialog in place of user input, oldest first. Editor thread only.
class Responders
{
public:
    // Called with the frame at the start of its next modal run (it may quit it, or script input).
    static void NextModalRun(std::function<void(Frame&)> respond);
    // The next alert returns at once: true is "Yes" (or "OK").
    static void NextAlert(bool yes);
    // The next menu chooses the entry reached through these names (empty: dismissed).
    static void NextMenu(std::vector<std::string> path);
    // The next file dialog chooses this path (none: cancelled).
    static void NextFileDialog(std::optional<std::string> path);
    static void Clear();
    // "caption: text" of every alert answered by a responder.
    static std::vector<std::string>& AnsweredAlerts();

    // For the toolkit: the next answer of each kind, when one is queued.
    static std::optional<std::function<void(Frame&)>> TakeModalRun();
    static std::optional<bool> TakeAlert();
    static std::optional<std::vector<std::string>> TakeMenu();
    static std::optional<std::optional<std::string>> TakeFileDialog();
};
