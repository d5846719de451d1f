#pragma once

#include "toolkit/Window.h"

// The base of the editor's pages (synthesizer, perform, preset). The editor root owns one page at
// a time and deletes it through this base when the page changes; a page keeps no view state
// across a switch.
class TSubEditor : public Window
{
public:
    // Shows again everything the page displays of the instrument.
    virtual void UpdateAll() = 0;
};
