#pragma once

#include <cstdio>
#include <string>
#include <vector>

class AUHost;
class OutputFile;

// What `authost --view` does with the unit's view component.
struct ViewOptions
{
    enum Kind
    {
        None,
        Headless, // a headless host window: pixels and an input queue in this process
        X11,      // a top-level X11 window on DISPLAY
    };
    Kind kind = None;
    int width = 800;
    int height = 700;
    int titleBar = 22; // headless only (an X11 window has none)
    float x = 0.0f;    // the view's location in the window
    float y = 0.0f;
    int idles = 10; // idle calls after opening and after each input, 20 ms apart
    // Input in a headless window, in order, each followed by the idles (window coordinates).
    struct Input
    {
        enum Kind // as the options --click, --press, --move, --release, --type
        {
            Click, // a press and its release
            Press,
            Move,
            Release,
            Type // each UTF-8 character of the text a key
        };
        Kind kind = Click;
        int x = 0, y = 0;
        std::string text;
    };
    std::vector<Input> inputs;
    std::string snapshot;               // PNG of the window after the run
    OutputFile* snapshotFile = nullptr; // where it goes, prepared by the command-line core
    bool reopen = false;                // close the view and open a new one, then run again
};

// Parses one view option at args[i] (moving i past its value); 1 when taken, 0 when not a view
// option, -1 on a bad value (the message is out).
int ParseViewOption(std::vector<std::string> const& args, std::size_t& i, ViewOptions& options,
                    std::FILE* err);

// Opens the unit's view (its registered view component) in a host window, idles it, plays the
// input (each step in the window's input queue, then idles), writes the
// snapshot, closes the view (and with reopen does it all once more), printing the pane's size
// and every parameter change the unit announced with the value GetParameter then reads.
// Returns the exit code.
int RunViewMode(AUHost& host, ViewOptions const& options, std::FILE* out, std::FILE* err);
