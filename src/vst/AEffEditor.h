#pragma once

#include "vst/VstAbi.h"

class AudioEffect;

// The editor object a plug-in registers with its effect (AudioEffect::setEditor); the host
// drives it through the dispatcher's editor opcodes. The effect owns it and deletes it with
// itself. Every operation here is the do-nothing default.
class AEffEditor
{
public:
    explicit AEffEditor(AudioEffect* effect = nullptr) : effect(effect) {}
    virtual ~AEffEditor() = default;
    AEffEditor(AEffEditor const&) = delete;
    AEffEditor& operator=(AEffEditor const&) = delete;

    virtual AudioEffect* getEffect() { return effect; }
    // Stores null and answers false: no size to report.
    virtual bool getRect(ERect** rect)
    {
        if (rect != nullptr) *rect = nullptr;
        return false;
    }
    // The host's window.
    virtual bool open(void* window)
    {
        systemWindow = window;
        return false;
    }
    virtual void close() { systemWindow = nullptr; }
    virtual bool isOpen() { return systemWindow != nullptr; }
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode&) { return false; }
    virtual bool onKeyUp(VstKeyCode&) { return false; }
    virtual bool onWheel(float) { return false; }
    virtual bool setKnobMode(VstInt32) { return false; }

protected:
    AudioEffect* effect;
    void* systemWindow = nullptr;
};
