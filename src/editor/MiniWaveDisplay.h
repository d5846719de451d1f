#pragma once

#include <vector>

#include "toolkit/Window.h"

class Torvane;

// A 44 x 29 drawing of one wave slot of a layer's vector oscillator: values -1 to 1 span the
// rows 27 to 7. The cycle is copied through the instrument at every drawing (under the plug-in
// mutex: a state restored on another thread may rebuild the table meanwhile). Without a slot,
// or with fewer than two points, it draws nothing. Editor thread only.
class MiniWaveDisplay : public Window
{
public:
    static constexpr long kWidth = 44;
    static constexpr long kHeight = 29;

    MiniWaveDisplay() = default;

    void Create(Window* parent, long x, long y);
    // The slot to draw (layer 0-3, -1 the current one); a null instrument draws nothing.
    void SetWave(Torvane* instrument, int voice, int wave);
    int GetWave() const { return wave; }

    void Repaint(GraphicsContext& gc) override;

private:
    Torvane* instrument = nullptr;
    int voice = -1;
    int wave = 0;
    std::vector<float> points;
};
