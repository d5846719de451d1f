#pragma once

#include <string_view>

#include "framework/AutomatableParameterServer.h"
#include "framework/Notifications.h"
#include "framework/PluginBase.h"
#include "framework/RenderLimits.h"
#include "framework/SoundBuffer.h"
#include "framework/String.h"
#include "vst/AudioEffectX.h"

// Joins the VST effect object to the plug-in framework: audio blocks become tempo,
// transport, next-buffer, render and post-render notifications; host parameter traffic goes
// to the automatable-parameter list; host chunks go to the plug-in state; the product and
// vendor strings answer the host.
//
// A host block longer than kMaxRenderFrames is rendered in pieces of at most that many
// frames, each a complete next-buffer / render / post-render round; the host's time
// information is read once per host block.
class VstBase : public AudioEffectX,
                public PluginBase,
                public AutomatableParameterServer,
                public SampleRateListener,
                public SampleRateSource,
                public TempoSource,
                public NextBufferListener,
                public PluginState
{
public:
    static constexpr long kScratchFrames = 16384;
    // The longest parameter name given to the host, terminating zero included. Hosts give
    // more than the interface's 8 bytes; this much every host in use provides.
    static constexpr VstInt32 kParameterNameSize = 32;
    // The tempo when the host gives none.
    static constexpr float kDefaultTempo = 120.0f;

    // A null audioMaster builds an object that no host drives: the record keeps the effect
    // defaults.
    VstBase(audioMasterCallback audioMaster, long numParams, long inputPairs, long outputPairs, bool isSynth,
            int uniqueID, char const* product, char const* vendor, char const* pluginArg1,
            char const* pluginArg2);
    ~VstBase() override;

    // Ignores rates that are not positive and finite.
    void setSampleRate(float rate) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override;
    // Normalised 0..1 values; out-of-range indices are ignored (set) or read 0. A value set
    // here is not reported back to the host. Setting holds the plug-in mutex.
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    // At most kParameterNameSize bytes; empty for an unknown index.
    void getParameterName(VstInt32 index, char* text) override;
    // The plug-in state; bank and program chunks are the same.
    VstInt32 getChunk(void** data, bool isPreset) override;
    // 1 for an empty chunk (nothing happens); 0 for a missing block, a negative size or a block
    // the plug-in refused; 1 once the plug-in has taken the block.
    VstInt32 setChunk(void* data, VstInt32 size, bool isPreset) override;
    bool getEffectName(char* text) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    // "Vst1", "Vst2", ... active stereo pins, one a channel.
    bool getOutputProperties(VstInt32 index, VstPinProperties* properties) override;

    void Render(float* inL, float* inR, float* outL, float* outR, long frames, int outputPair) override = 0;
    // Reports a change the user made to the host (once it has the record): audioMasterAutomate.
    void AutomatableParameterChangeNotify(int index, float value) override;
    // The bracket around the user's edits of a parameter: audioMasterBeginEdit, audioMasterEndEdit.
    void AutomatableParameterBeginEdit(int index) override;
    void AutomatableParameterEndEdit(int index) override;
    // False for the host programs (by the path of their executable) that cannot take the bracket
    // from a plug-in's editor; they hear the reports alone.
    static bool HostTakesEditBrackets(std::string_view program);
    // VST hosts record every report as the user's edit (an undo step, a project modified, a
    // written automation point), so they hear of the user's changes only.
    bool ReportsOnlyUserChanges() const override { return true; }
    void NextBuffer() override {}

protected:
    // Called before each piece of a host block is rendered, with the piece's first frame
    // inside the host block, its length, and whether it ends the host block.
    virtual void BeginRenderPiece(long offset, long frames, bool lastPiece);

private:
    void ApplyTimeInfo(VstTimeInfo const* info);

    long numInputPairs;
    long numOutputPairs;
    SoundBuffer inputScratch;
    // The scratch holds copied input rather than silence.
    bool scratchHoldsInput = false;
    bool transportPlaying = false;
    String product;
    String vendor;
};
