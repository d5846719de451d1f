#include "toolkit/Geometry.h"

void Colour::Multiply(float fr, float fg, float fb)
{
    red = static_cast<std::int32_t>(static_cast<float>(red) * fr);
    green = static_cast<std::int32_t>(static_cast<float>(green) * fg);
    blue = static_cast<std::int32_t>(static_cast<float>(blue) * fb);
}

bool GRectangle::Intercect(GRectangle const& a, GRectangle const& b)
{
    if (a.width <= 0 || a.height <= 0 || b.width <= 0 || b.height <= 0) return false;
    return a.x < b.Right() && b.x < a.Right() && a.y < b.Bottom() && b.y < a.Bottom();
}
