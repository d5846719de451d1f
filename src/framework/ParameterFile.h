#pragma once

#include "framework/Streams.h"
#include "framework/String.h"

// One kind of parameter file. Every file the user saves (patches, waveforms, timeline
// presets) starts with a header:
//   format name: the characters, then a carriage return (a text field through a file)
//   version:     float, 4 bytes, little-endian
// and continues with the payload of the saved object.
// The format name must not start with a space nor hold a carriage return, and it is at most
// kMaxFormatNameLength characters. The texts are not owned: they point at constant texts.
struct ParameterFileFormat
{
    static constexpr int kMaxFormatNameLength = 127;

    ParameterFileFormat() { SetAcceptVersion(1.0f, 0.0f); }

    // Sets the range of versions a reader accepts, inclusive at both ends; a max of
    // exactly 0 accepts only min.
    void SetAcceptVersion(float min, float max)
    {
        acceptMin = min;
        acceptMax = max == 0.0f ? min : max;
    }

    char const* extension = "";  // file name extension, without the dot
    char const* formatName = ""; // the header's first line
    float version = 1.0f;        // written by a writer; after a successful read, the file's
    float acceptMin = 1.0f;
    float acceptMax = 1.0f;
};

// A file writer that starts the file with the header of its format.
// Saving never damages the file already at the path: Open writes to a new temporary file in the
// same folder (ReplacingFileWriter), and only a successful Close puts that file in place of the
// old one. A writer that is opened again, or destroyed, before it was closed discards what it
// wrote.
class ParameterFileWriter : public ReplacingFileWriter
{
public:
    ParameterFileWriter() = default;

    // Copy the wanted format into `format` first. Creates the folder that holds the file
    // (with every missing folder above it) when it is missing, then writes the header.
    // False, with nothing written, when the path is a folder or another non-regular file,
    // when the file can't be created, when the format name can't be stored, or when the
    // header can't be written. The bool is not used (callers pass true).
    bool Open(char const* path, bool);
    bool Open(char const* path) override { return Open(path, true); }
    // Plain file creation without a header or temporary file (as FileWriter); discards an
    // unfinished Open first.
    bool Create(char const* path) override;

    ParameterFileFormat format;
};

// A file reader that opens a file only when its header matches the format.
class ParameterFileReader : public FileReader
{
public:
    // Copy the wanted format (name and accepted range) into `format` first. Opens a regular
    // file whose first line is exactly the format name and whose version lies in the
    // accepted range; then format.version holds the file's version and the reader stands at
    // the payload. Otherwise false, and the reader holds no file (a file opened before is
    // closed in every case).
    bool Open(char const* path) override;

    ParameterFileFormat format;
};
