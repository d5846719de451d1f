#include "editor/ChoiceSelector.h"

#include <algorithm>
#include <cmath>

#include "framework/Parameter.h"
#include "framework/Paths.h"
#include "framework/StandardMaths.h"
#include "platform/MessagePopup.h"

ChoiceSelector::ChoiceSelector(std::vector<char const*> names, char const* errorCaption)
    : choiceNames(std::move(names)), caption(errorCaption), choices(choiceNames.size())
{
}

ChoiceSelector::~ChoiceSelector()
{
    UnbindAllParameters();
}

WaveSelector::WaveSelector()
    : ChoiceSelector({"WaveSine.png", "WaveSquare.png", "WaveRamp.png", "WaveRandom.png"},
                     "Torvane error in WaveSelector::Create")
{
}

FilterSelector::FilterSelector()
    : ChoiceSelector({"FilterLP.png", "FilterBP.png", "FilterHP.png"},
                     "Torvane error in FilterSelector::Create")
{
}

void ChoiceSelector::Create(Window* parent, long x, long y, Parameter* p)
{
    try
    {
        background.LoadFromFile(MakeImagePath("WaveBackground.png"));
        for (std::size_t i = 0; i < choices.size(); ++i)
            choices[i].LoadFromFile(MakeImagePath(choiceNames[i]));
        leftUp.LoadFromFile(MakeImagePath("WaveLeft.png"));
        leftDown.LoadFromFile(MakeImagePath("WaveLeftPressed.png"));
        rightUp.LoadFromFile(MakeImagePath("WaveRight.png"));
        rightDown.LoadFromFile(MakeImagePath("WaveRightPressed.png"));
    }
    catch (String const& error)
    {
        MessagePopup(error, caption);
        return;
    }
    CreateChildWindow(parent, background.GetWidth(), background.GetHeight(), x, y);
    left.Create(this, 0, this, 2, 0, &leftUp, &leftDown);
    right.Create(this, 1, this, 33, 0, &rightUp, &rightDown);
    parameter = p;
    binding = true;
    BindUnderPluginMutex(this, p);
    binding = false;
}

int ChoiceSelector::Clamp(float value) const
{
    if (!std::isfinite(value)) return 0;
    float const last = static_cast<float>(NumChoices() - 1);
    return static_cast<int>(std::clamp(Round(value), 0.0f, last));
}

void ChoiceSelector::ParameterUpdated(float value, Parameter* p)
{
    // Binding reports the normalised position; changes and refreshes report the value.
    if (binding && p) value = p->UnNormalise(value);
    int const s = Clamp(value);
    selection.store(s, std::memory_order_relaxed);
    if (s != drawn.load(std::memory_order_relaxed)) ForceRepaint();
}

void ChoiceSelector::ButtonPressed(int id)
{
    int s = GetSelection();
    if (id == 0)
        s = s > 0 ? s - 1 : NumChoices() - 1;
    else if (id == 1)
        s = s < NumChoices() - 1 ? s + 1 : 0;
    else
        return;
    selection.store(s, std::memory_order_relaxed);
    if (parameter) SetAllUnderPluginMutex(parameter->Normalise(static_cast<float>(s)));
    ForceRepaint();
}

void ChoiceSelector::Repaint(GraphicsContext& gc)
{
    ++repaints;
    int const s = GetSelection();
    drawn.store(s, std::memory_order_relaxed);
    background.Draw(&gc, 0, 0);
    choices[static_cast<std::size_t>(s)].Draw(&gc, 14, 0);
}
