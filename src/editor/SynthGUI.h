#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

#include "editor/ChoiceSelector.h"
#include "editor/EventsDisplay.h"
#include "editor/Layout.h"
#include "editor/MiniWaveDisplay.h"
#include "editor/MultipleSelectionPanel.h"
#include "editor/TBowl.h"
#include "editor/TButton.h"
#include "editor/TModDisplay.h"
#include "editor/TPot.h"
#include "editor/TSubEditor.h"
#include "engine/Torvane.h"
#include "framework/Parameter.h"
#include "framework/ParameterHost.h"
#include "framework/Timers.h"
#include "platform/CascadeList.h"
#include "toolkit/Animation.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Image.h"
#include "toolkit/Label.h"
#include "toolkit/ParameterControls.h"

class GUI;

// The synthesizer page's controls as one table: what each control is, where it sits, what it
// shows and what it edits. The page builds them by walking the table from its first row to its
// last; positions come from the layout the background art is drawn from.
namespace synthpage
{
enum class Kind : unsigned char
{
    Toggle,       // bound toggle box
    IdToggle,     // unbound toggle box reporting its id to the page
    Knob,         // TPot, 31-pixel size, id -1
    Slider,       // bound slider (length in rect.w)
    Number,       // numeric display (rect), mode 3
    ImageButton,  // CustomButton with the page's images
    FileButton,   // TButton loading its pictures by file name
    HotZone,      // TTransparentBut (rect)
    Bowl,         // X/Y bowl: TParam a and TParam b of the binding's line
    MiniWave,     // wave display of slot `id`
    WaveSelector, // LFO shape
    FilterSelector,
    ModDisplay,
    SnapLabel, // rect, initial text "1/4"
    Timeline,  // the timeline display's place (built by the timeline's own code)
};

// Where a bound control's parameter comes from.
enum class Source : unsigned char
{
    None,
    TParam,         // value `value` of line `line` of the current layer at the edit time
    Bridge,         // the bridge of layer parameter `value` (follows the current layer)
    LayerParam,     // parameter `value` of layer `line` (0-3)
    Instrument,     // the instrument's own parameter `name`
    Delay,          // parameter `name` of the delay effect
    Reverb,         // ... of the reverb
    Distortion,     // ... of the distortion
    LowFilter,      // ... of the global low-cut filter
    HighFilter,     // ... of the global high-cut filter
    TimeFreeze,     // the instrument's unnamed Time Freeze switch
    FollowPlayback, // the page's own follow-playback switch
};

struct Binding
{
    Source source = Source::None;
    int line = 0;
    int value = 0;
    char const* name = nullptr;
};

// The page's own pictures, in the order they are loaded (the first group at once, the others
// just before the first control that shows them).
enum class Img : unsigned char
{
    OnBut,
    OffBut,
    SmallOn,
    SmallOff,
    SliderDown,
    SliderLeft,
    Voice1Up,
    Voice1Down,
    Voice2Up,
    Voice2Down,
    Voice3Up,
    Voice3Down,
    Voice4Up,
    Voice4Down,
    WaveLoadUp,
    WaveLoadDown,
    WaveEditUp,
    WaveEditDown,
    LoopOn,
    LoopOff,
    Fader,
    PositiveOn,
    PositiveOff,
    TimeFreezeOn,
    TimeFreezeOff,
    LearnUp,
    LearnDown,
    SyncOn,
    SyncOff,
    StereoOn,
    StereoOff,
    PrevUp,
    PrevDown,
    NextUp,
    NextDown,
    Count,
    None = Count,
};
inline constexpr std::size_t kNumImages = static_cast<std::size_t>(Img::Count);
// How many pictures are loaded before the first control is built.
inline constexpr std::size_t kFirstImages = static_cast<std::size_t>(Img::TimeFreezeOn);
extern char const* const kImageFiles[kNumImages];

enum class Wipe : unsigned char
{
    Default,
    Red,
    Green,
};

struct Control
{
    Kind kind;
    layout::Rect at; // x, y; w the slider length or the rectangle's size
    Binding bind;
    int id = -1;                    // id of buttons, id toggles and the wave slot of a mini display
    Img on = Img::None;             // on / up picture, or the slider's thumb
    Img off = Img::None;            // off / down picture
    char const* upFile = nullptr;   // file buttons
    char const* downFile = nullptr; // file buttons
    bool vertical = false;
    bool flip = false;
    Wipe wipe = Wipe::Default;
    int markerStep = 0; // discrete knobs: dots every n values (0: the knob's own)
};

extern std::vector<Control> const& kControls;

// How many rows of a kind the table holds.
std::size_t Count(Kind kind);

// The snap values (whole notes) with their menu names, in the menu's order; a separator comes
// after kStraightSnaps entries.
struct Snap
{
    char const* name;
    float value;
};
inline constexpr int kNumSnaps = 12;
inline constexpr int kStraightSnaps = 6;
extern Snap const kSnaps[kNumSnaps];
} // namespace synthpage

// The synthesizer page: all four layers' settings around the timeline of the current one, with
// the voice tabs that choose it, follow-playback and the snap menu. The editor root creates it
// for edit mode 0 (it builds itself) and deletes it on the next switch.
//
// A picture that cannot be loaded stops the building: one alert, and the page keeps the
// controls made so far; every later call skips what was not made. Editor thread only: the root
// forwards the instrument's refreshes here from its drain.
class SynthGUI : public TSubEditor,
                 public ToggleListener,
                 public ButtonListener,
                 public ParameterHost,
                 public TimerListener
{
public:
    static constexpr float SNAP_1_1 = 1.0f;
    static constexpr float SNAP_1_4 = 0.25f;
    static constexpr float SNAP_1_8 = 0.125f;
    static constexpr float SNAP_1_16 = 0.0625f;
    static constexpr float SNAP_1_32 = 0.03125f;
    static constexpr float SNAP_1_64 = 0.015625f;
    static constexpr float SNAP_1_1T = 2.0f / 3.0f;
    static constexpr float SNAP_1_2T = 1.0f / 3.0f;
    static constexpr float SNAP_1_4T = 1.0f / 6.0f;
    static constexpr float SNAP_1_8T = 1.0f / 12.0f;
    static constexpr float SNAP_1_16T = 1.0f / 24.0f;
    static constexpr float SNAP_1_32T = 1.0f / 48.0f;

    // Ids of the unbound toggles.
    static constexpr int kLoopToggleId = 4;
    // The follow-playback timer and its period.
    static constexpr int kFollowTimer = 0;
    static constexpr unsigned kFollowPeriodMs = 100;
    // While the selection panel slides, this timer watches for the end of the slide.
    static constexpr int kPanelTimer = 1;
    static constexpr unsigned kPanelPeriodMs = 40;
    static constexpr unsigned kPanelSlideMs = 200;

    explicit SynthGUI(GUI* gui);
    ~SynthGUI() override;

    void Repaint(GraphicsContext&) override {}
    void LButtonDown(long x, long y) override;

    void UpdateAll() override;
    void OnToggle(int id, bool on) override;
    // The page's commands by button id (0-35; any other id does nothing): wave browser and
    // editor, timeline zoom, copy and paste, breakpoint stepping, the line, voice, amplitude and
    // matrix menus, MIDI learn of "Freeze Position".
    void ButtonPressed(int id) override;

    // Ids of the page's commands.
    static constexpr int kFirstWaveButtonId = 0; // browse 0, 2, 4, 6; edit 1, 3, 5, 7
    static constexpr int kZoomOutId = 8;
    static constexpr int kZoomInId = 9;
    static constexpr int kCopyAllId = 10;
    static constexpr int kPasteAllId = 11;
    static constexpr int kFirstPasteLineId = 12; // lines 1-5
    static constexpr int kFirstPrevBreakpointId = 17;
    static constexpr int kFirstNextBreakpointId = 22;
    static constexpr int kFirstLineMenuId = 27; // lines 1-5
    static constexpr int kVoiceMenuId = 32;
    static constexpr int kAmplitudeMenuId = 33;
    static constexpr int kMatrixMenuId = 34;
    static constexpr int kFreezeLearnId = 35;
    void ParameterUpdated(float value, Parameter* changed) override;
    void TimerEvent(int id) override;

    // ---- refreshes (the root forwards the instrument's calls) -------------------------------
    void UpdateVoiceToggles();
    void UpdateWaveDisplays();
    void UpdateModDisplay();
    void UpdateEventLines();
    void UpdatedEditTime();
    void PatchLoaded();
    void DeselectBreakpoints();
    void UpdateSnapLabel();

    // ---- timeline selection ---------------------------------------------------------------
    // line -1: every line of the current layer. Each hands the breakpoints found to the timeline.
    void SelectAll(int line);
    void SelectBeforeCurrentTime(int line);
    void SelectAfterCurrentTime(int line);
    enum class Selection
    {
        All,
        Before, // time <= edit time
        After,  // time >= edit time
    };
    // The current layer's breakpoints of the line(s) that a selection of that kind takes.
    std::vector<MultipleSelectionBreakpoint> CollectSelection(int line, Selection which);

    // The snap timing the timeline snaps to (whole notes); the menu sets it.
    float GetSnapTiming() const { return snapTiming; }
    void SetSnapTiming(float t);

    // The panel slides up into place; opening while one is open or closing keeps that one.
    // Closing slides it down in the background and releases it once the slide has ended, so a
    // panel's own button may close it; neither runs a nested event loop.
    void OpenMultipleSelectionPanel();
    void CloseMultipleSelectionPanel();
    // The open panel (null while none is open or it is closing).
    MultipleSelectionPanel* GetMultipleSelectionPanel() const { return panel.get(); }
    bool PanelClosing() const { return closingPanel != nullptr; }
    EventsDisplay& GetEventsDisplay() { return eventsDisplay; }

    bool ShowingAnimation() const { return showingAnimation; }
    // True once every control has been built.
    bool IsComplete() const { return complete; }
    Parameter& FollowPlayback() { return followPlayback; }
    Label const& GetSnapLabel() const { return snapLabel; }

    // The control built for table row `row` (null when the row was not reached or has no
    // window of its own).
    Window* ControlOfRow(std::size_t row);
    // The control whose row sits at the page position (x, y), null when none does.
    Window* ControlAt(int x, int y);
    ToggleBox* VoiceTab(int i);
    ToggleBox* LoopToggle();

private:
    // Commands and menus.
    void BrowseWave(int slot);
    void EditWave(int slot);
    void PasteAtEditTime(int line);
    void StepBreakpoint(int line, bool next);
    void LineMenu(int line);
    void VoiceMenu();
    void AmplitudeMenu();
    void MatrixMenu();
    void FreezeLearn();
    void CopyMatrix(int toVoice);
    void CopyRelease(int toVoice);
    // The layers a "to.." choice (0-3, 4 for every other) stands for.
    std::vector<int> Targets(int choice) const;
    // The timeline display's part of the commands.
    void ZoomTimeline(bool in);
    float SnapTime(float time);
    void PanTimelineTo(float time);

    Torvane* Instrument() const;
    Parameter* Resolve(synthpage::Binding const& b);
    Image* Picture(synthpage::Img which);
    void Build();
    void BuildRow(std::size_t row);
    void FollowSwitched(bool on);
    void HandOverSelection(std::vector<MultipleSelectionBreakpoint>& selection);
    void Slide(MultipleSelectionPanel* which, long toY);

    GUI* gui;
    std::array<Image, synthpage::kNumImages> images;
    // The follow-playback switch: it exists before its toggle binds it, and outlives it.
    Parameter followPlayback;

    std::deque<ToggleBox> toggles;
    std::deque<TPot> knobs;
    std::deque<Slider> sliders;
    std::deque<NumericDisplay> numbers;
    std::deque<CustomButton> imageButtons;
    std::deque<TButton> fileButtons;
    std::deque<TTransparentBut> hotZones;
    std::array<MiniWaveDisplay, 4> miniWaves;
    std::deque<WaveSelector> waveSelectors;
    FilterSelector filterSelector;
    TBowl bowl;
    TModDisplay modDisplay;
    // Row -> the control built for it.
    std::vector<Window*> built;

    CascadeList snapMenu;
    Label snapLabel;
    float snapTiming = SNAP_1_4;

    float savedEditTime = 0.0f;
    bool showingAnimation = false;
    bool complete = false;

    // Declared last: the panel (bound to the display's rescale switch) goes before the display,
    // and the display gives the instrument back its selection before the page goes.
    EventsDisplay eventsDisplay;
    std::shared_ptr<MultipleSelectionPanel> panel;
    std::shared_ptr<MultipleSelectionPanel> closingPanel;
    std::unique_ptr<Animation::EasyAnimation::Player> slide;
};
