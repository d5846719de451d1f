#include "toolkit/ParameterControls.h"

#include <algorithm>

#include "toolkit/GraphicsContext.h"

// ---------------------------------------------------------------------------------------------
// Slider

Slider::~Slider()
{
    UnbindAllParameters();
}

void Slider::Create(Window* parent, long x, long y, bool isVertical, long trackLength, Parameter* param,
                    Image* thumbImage)
{
    vertical = isVertical;
    thumb = thumbImage;
    x0 = x;
    y0 = y;
    length = std::max(trackLength, 1L);
    if (thumb != nullptr)
    {
        half = (vertical ? thumb->GetHeight() : thumb->GetWidth()) / 2;
        thickness = vertical ? thumb->GetWidth() : thumb->GetHeight();
    }
    else
    {
        half = 9;
        thickness = 18;
    }
    if (vertical)
        CreateChildWindow(parent, thickness, length + 2 * half, x, y - half);
    else
        CreateChildWindow(parent, length + 2 * half, thickness, x - half, y);
    BindUnderPluginMutex(this, param);
}

float Slider::Position()
{
    return HasBoundParameters() ? ControllerGet() : 0.0f;
}

void Slider::LButtonDown(long x, long y)
{
    dragging = true;
    // Opened before the press sets the value.
    BeginGesture();
    CaptureMouse();
    MouseMoved(x, y);
}

void Slider::LButtonUp(long, long)
{
    dragging = false;
    ReleaseMouse();
    EndGesture();
}

void Slider::MouseMoved(long x, long y)
{
    if (!dragging) return;
    long const c = vertical ? y : x;
    float p = (1.0f / static_cast<float>(length)) * static_cast<float>(c - half);
    if (flipped) p = 1.0f - p;
    SetAllUnderPluginMutex(p);
    lastPosition.store(p, std::memory_order_relaxed);
    ForceRepaint();
}

void Slider::ParameterUpdated(float, Parameter*)
{
    float const now = Position();
    if (lastPosition.exchange(now, std::memory_order_relaxed) != now) ForceRepaint();
}

void Slider::Repaint(GraphicsContext& gc)
{
    float position = Position();
    if (flipped) position = 1.0f - position;
    long const offset = static_cast<long>(static_cast<float>(length) * position);
    if (thumb != nullptr)
    {
        if (vertical)
            thumb->Draw(&gc, 0, offset);
        else
            thumb->Draw(&gc, offset, 0);
        return;
    }
    gc.SetPenColour(255, 0, 0, 1, 255);
    if (vertical)
        gc.DrawFilledRect(0, offset, 2 * half, thickness);
    else
        gc.DrawFilledRect(offset, 0, thickness, 2 * half);
}

// ---------------------------------------------------------------------------------------------
// ToggleBox

ToggleBox::~ToggleBox()
{
    UnbindAllParameters();
}

void ToggleBox::CreateWindow(Window* parent, long x, long y, long w, long h)
{
    CreateChildWindow(parent, w, h, x, y);
}

void ToggleBox::Create(Window* parent, Parameter* param, long x, long y, Image* onImg, Image* offImg)
{
    onImage = onImg;
    offImage = offImg;
    CreateWindow(parent, x, y, onImage ? onImage->GetWidth() : 0, onImage ? onImage->GetHeight() : 0);
    BindUnderPluginMutex(this, param);
}

void ToggleBox::Create(Window* parent, int boxId, long x, long y, Image* onImg, Image* offImg, bool initial)
{
    onImage = onImg;
    offImage = offImg;
    on.store(initial, std::memory_order_relaxed);
    id = boxId;
    CreateWindow(parent, x, y, onImage ? onImage->GetWidth() : 0, onImage ? onImage->GetHeight() : 0);
}

void ToggleBox::Create(Window* parent, Parameter* param, long x, long y, std::shared_ptr<Image> onImg,
                       std::shared_ptr<Image> offImg)
{
    sharedOn = std::move(onImg);
    sharedOff = std::move(offImg);
    Create(parent, param, x, y, sharedOn.get(), sharedOff.get());
}

void ToggleBox::Create(Window* parent, Parameter* param, long x, long y, char const* onFile,
                       char const* offFile)
{
    auto onImg = std::make_shared<Image>();
    onImg->LoadFromFile(onFile);
    auto offImg = std::make_shared<Image>();
    offImg->LoadFromFile(offFile);
    Create(parent, param, x, y, std::move(onImg), std::move(offImg));
}

void ToggleBox::SetOn(bool state)
{
    on.store(state, std::memory_order_relaxed);
    ForceRepaint();
}

void ToggleBox::LButtonDown(long, long)
{
    bool const previous = on.load(std::memory_order_relaxed);
    bool state = !previous;
    if (HasBoundParameters()) state = SetAllUnderPluginMutex(previous ? 0.0f : 1.0f) >= 0.5f;
    on.store(state, std::memory_order_relaxed);
    ForceRepaint();
    // The listener may destroy this box: nothing after it.
    if (listener != nullptr) listener->OnToggle(id, state);
}

void ToggleBox::LDoubleClick(long x, long y)
{
    LButtonDown(x, y);
}

void ToggleBox::ParameterUpdated(float v, Parameter*)
{
    on.store(v >= 0.5f, std::memory_order_relaxed);
    ForceRepaint();
}

void ToggleBox::Repaint(GraphicsContext& gc)
{
    if (on.load(std::memory_order_relaxed))
        DrawOn(gc);
    else
        DrawOff(gc);
}

void ToggleBox::DrawOn(GraphicsContext& gc)
{
    if (onImage != nullptr) onImage->Draw(&gc, 0, 0);
}

void ToggleBox::DrawOff(GraphicsContext& gc)
{
    if (offImage != nullptr) offImage->Draw(&gc, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// SimpleToggleBox

SimpleToggleBox::~SimpleToggleBox()
{
    UnbindAllParameters();
}

void SimpleToggleBox::Create(Window* parent, Parameter* param, long x, long y, String onTextIn,
                             String offTextIn)
{
    onText = onTextIn;
    offText = offTextIn;
    CreateWindow(parent, x, y, 30, 15);
    BindUnderPluginMutex(this, param);
}

void SimpleToggleBox::DrawOn(GraphicsContext& gc)
{
    FillBackground(gc, Colour(81, 170, 81, 255));
    gc.SetPenColour(255, 255, 255, 1, 255);
    gc.DrawString(onText, 2, 2);
}

void SimpleToggleBox::DrawOff(GraphicsContext& gc)
{
    FillBackground(gc, Colour(177, 81, 81, 255));
    gc.SetPenColour(255, 255, 255, 1, 255);
    gc.DrawString(offText, 2, 2);
}

// ---------------------------------------------------------------------------------------------
// RadioButton

RadioButton::~RadioButton()
{
    UnbindAllParameters();
}

void RadioButton::Create(Window* parent, Parameter* param, float buttonValue, long x, long y, Image* onImg,
                         Image* offImg)
{
    onImage = onImg;
    offImage = offImg;
    value = buttonValue;
    CreateChildWindow(parent, onImage ? onImage->GetWidth() : 0, onImage ? onImage->GetHeight() : 0, x, y);
    BindUnderPluginMutex(this, param);
}

void RadioButton::LButtonDown(long, long)
{
    if (!HasBoundParameters()) return;
    SetAllUnderPluginMutex(bound.front()->Normalise(value));
    ForceRepaint();
}

void RadioButton::ParameterUpdated(float, Parameter*)
{
    ForceRepaint();
}

bool RadioButton::IsSelected()
{
    if (!HasBoundParameters()) return false;
    float const v = static_cast<float>(*bound.front());
    return v >= value - 0.5f && v <= value + 0.5f;
}

void RadioButton::Repaint(GraphicsContext& gc)
{
    Image* const image = IsSelected() ? onImage : offImage;
    if (image != nullptr) image->Draw(&gc, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// NumericDisplay

NumericDisplay::~NumericDisplay()
{
    UnbindAllParameters();
}

void NumericDisplay::Create(Window* parent, GRectangle const& rect, Parameter* param, DisplayMode displayMode)
{
    CreateChildWindow(parent, rect);
    BindUnderPluginMutex(this, param);
    mode = displayMode;
    if (mode == kByType)
        mode = (param != nullptr && param->GetType() == Parameter::Discrete) ? kInteger : kDecimal;
}

void NumericDisplay::ParameterUpdated(float, Parameter*)
{
    ForceRepaint();
}

String NumericDisplay::GetValueString()
{
    if (!HasBoundParameters()) return String("");
    Parameter* const p = bound.front();
    switch (mode)
    {
    case kInteger:
        return String::FormatString("%i", static_cast<int>(TransformValue(static_cast<float>(*p))));
    case kNormalised:
    case kDecimal:
    {
        String const format = String::FormatString("%%.%if", decimals);
        float const v = mode == kNormalised ? p->ControllerGet() : static_cast<float>(*p);
        return String::FormatString(format, static_cast<double>(TransformValue(v)));
    }
    default:
        return String("");
    }
}

void NumericDisplay::Repaint(GraphicsContext& gc)
{
    String const text = GetValueString();
    gc.SetPenColour(textColour, 1);
    gc.DrawString(text, 0, 0);
}
