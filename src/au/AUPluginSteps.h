#pragma once

#include "framework/AutomatableParameterServer.h"
#include "framework/Notifications.h"
#include "framework/PluginBase.h"
#include "platform/au/AUBase.h"

// What the instrument and effect bases of the Audio Unit build share: the steps of each render
// call before its audio, parameter descriptions and announcements, and the plug-in state in the
// class info.

// The class-info key of the plug-in's state block.
inline constexpr char const kClassInfoStateKey[] = "Torvane_State";

// Applies each host-automatable parameter that the host set since the last call and whose value
// differs from the parameter's normalised value; then stores the resulting normalised value in
// the element (unless someone set the element since), so an off-grid value is applied once.
// The changes are applied under the plug-in mutex, taken only when there is one.
void PollHostParameters(AUElement& element, AutomatableParameterServer& server, AudioAPI::Mutex& mutex);

// The output's rate (truncated to whole hertz) and, when the host has a beat-and-tempo
// callback that reports a finite tempo above 0, that tempo.
void PushRateAndTempo(AUBase& unit, AUElement const& output, SampleRateSource& rates, TempoSource& tempos);

// Global scope and a known id only (else -10878): the host-side name as a CF name the host
// releases and as UTF-8 C text cut to its field; 0..1, linear gain; the default is the current
// normalised value.
OSStatus DescribeParameter(AutomatableParameterServer& server, AudioUnitScope scope, AudioUnitParameterID id,
                           AudioUnitParameterInfo& info);

// Stores the value in the unit's global element and tells the host's parameter listener
// {instance, index, global, 0}.
void AnnounceParameterChange(AUBase& unit, int index, float value);

// Adds the plug-in's state block under `key` to the class info the unit base made; without a
// state the class info is released and -1 answered.
OSStatus AddPluginState(PluginState& plugin, char const* key, CFPropertyListRef* data);
// After the unit base accepted the class info: the block under `key` goes to the plug-in.
// -10851 without a data block or when the plug-in refuses it; an empty block restores nothing.
OSStatus RestorePluginStateFrom(PluginState& plugin, char const* key, CFPropertyListRef data);

// The view component's description: "auvw", the unit's subtype and manufacturer.
void DescribeView(ComponentDescription* description, std::uint32_t subType, std::uint32_t manufacturer);
