#include "dsp/DSPComponent.h"

#include <cstring>

DSPComponent::DSPComponent(long id, const char* componentName) : ParameterHost(id)
{
    name[0] = 0;
    SetComponentName(componentName);
    bypass.CreateBool("BYPASS", this, Parameter::Internal);
    bypass.SetBool(true);
}

DSPComponent::~DSPComponent() = default;

void DSPComponent::Render(float** inputs, float** outputs, long n)
{
    RenderStereo(inputs[0], inputs[1], outputs[0], outputs[1], n);
}

void DSPComponent::Bypass(float* inL, float* inR, float* outL, float* outR, long n)
{
    if (inL == outL && inR == outR) return;
    for (long i = 0; i < n; ++i)
    {
        outL[i] = inL[i];
        outR[i] = inR[i];
    }
}

void DSPComponent::SetComponentName(const char* componentName)
{
    if (!componentName) componentName = "";
    size_t n = strnlen(componentName, kMaxNameLength);
    memmove(name, componentName, n);
    name[n] = 0;
}
