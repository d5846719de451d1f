#pragma once

#include <cstdio>
#include <string>
#include <vector>

class OutputFile;
class VstHost;
typedef struct _cairo_surface cairo_surface_t;

// What `vsthost --editor` does besides opening the editor.
struct EditorOptions
{
    struct Input
    {
        enum Kind
        {
            Click,
            DoubleClick,
            Drag,
        };
        Kind kind = Click;
        int x = 0, y = 0;   // editor coordinates
        int x2 = 0, y2 = 0; // a drag's end (may lie outside the window)
        double at = 0.0;    // seconds after the editor's first frame
    };
    double runSeconds = 2.0;
    std::vector<Input> inputs;
    std::string screenshot;               // PNG of the host window at the end of the run
    OutputFile* screenshotFile = nullptr; // where it goes, prepared by the command-line core
    bool printAutomation = false;
    bool printParameters = false;
    bool editorThread = false; // open, idle and close the editor on a thread of its own
    bool reopen = false;       // close and open the editor once more, then run again
};

// Parses one editor option at args[i] (moving i past its value); 1 when taken, 0 when not an
// editor option, -1 on a bad value (the message is out).
int ParseEditorOption(std::vector<std::string> const& args, std::size_t& i, EditorOptions& options,
                      std::FILE* err);

// Opens the plug-in's editor in a top-level window of its rectangle's size on DISPLAY, idles it
// every 20 ms while an audio thread renders, plays the scripted input with XTest once the
// first frame is shown, then writes the screenshot, closes the editor and prints what was
// asked. Returns the exit code.
int RunEditorMode(VstHost& host, EditorOptions const& options, std::FILE* out, std::FILE* err);

// Writes the image as a PNG into the prepared file and puts the file in place; false with the
// reason in `error` when anything failed (the old file then stays as it was).
bool WritePng(cairo_surface_t* image, OutputFile& file, std::string& error);
