#include "engine/TMod.h"

#include "framework/Streams.h"
#include "platform/CascadeList.h"

#include <algorithm>
#include <cmath>

namespace
{
// Bytes of one stored row: float, bool, int, int, float, bool.
constexpr std::size_t kStoredRowSize = 4 + 1 + 4 + 4 + 4 + 1;

std::unique_ptr<TModValues[]> MakeValues(int n)
{
    return std::make_unique<TModValues[]>(static_cast<std::size_t>(n));
}

// The output and input of an active row whose indices are in range.
bool Bound(TModMap& m, TModValues*& out, TModValues*& in)
{
    if (!m.Active()) return false;
    out = m.source->GetOutput(m.output);
    in = m.target->GetInput(m.input);
    return out && in;
}
} // namespace

TModSource::TModSource(int outputs, long reservePoints)
    : numOutputs(std::max(outputs, 0)), reserve(reservePoints), outputs(MakeValues(numOutputs))
{
}

void TModSource::PrepareOutput(int i)
{
    if (TModValues* out = GetOutput(i)) out->GetBreakpoints().Reserve(reserve);
}

TModSource::~TModSource() = default;

TModTarget::TModTarget(int inputs, long reservePoints)
    : numInputs(std::max(inputs, 0)), reserve(reservePoints), inputs(MakeValues(numInputs))
{
}

void TModTarget::PrepareInput(int i)
{
    if (TModValues* in = GetInput(i)) in->GetBreakpoints().Reserve(reserve);
}

TModTarget::~TModTarget() = default;

void TModMap::SetTarget(TModTarget* t, int i, bool second)
{
    if (t) t->PrepareInput(i);
    if (target)
        if (TModValues* old = target->GetInput(input)) old->valid = false;
    target = t;
    input = i;
    secondPass = second;
}

bool TModMap::Save(Writer& w) const
{
    w.Write(1.0f);
    w.Write(enabled);
    w.Write(output);
    w.Write(input);
    w.Write(amount);
    w.Write(amountFromLine);
    return !w.Failed();
}

bool TModMap::Load(Reader& r)
{
    float version = 0.0f;
    bool e = false;
    int o = 0;
    int i = 0;
    float a = 0.0f;
    bool fromLine = false;
    if (!r.Read(&version) || !r.Read(&e) || !r.Read(&o) || !r.Read(&i) || !r.Read(&a) || !r.Read(&fromLine))
        return false;
    if (!std::isfinite(a)) return false;
    enabled = e;
    output = o;
    input = i;
    amount = a;
    amountFromLine = fromLine;
    return true;
}

TModMatrix::TModMatrix() : contribution(true), sum(true)
{
    contribution.Init(1);
    contribution.Reserve(kModBlockPoints);
    sum.Init(1);
    sum.Reserve(kModBlockPoints);
}

TModMatrix& TModMatrix::operator=(TModMatrix const& other)
{
    if (this != &other)
        std::copy_n(other.rows.begin(), std::min(rows.size(), other.rows.size()), rows.begin());
    return *this;
}

void TModMatrix::Init(int n)
{
    rows.assign(static_cast<std::size_t>(std::max(n, 0)), TModMap{});
}

TModMap* TModMatrix::GetMap(int i)
{
    return i >= 0 && i < GetNumMaps() ? &rows[static_cast<std::size_t>(i)] : nullptr;
}

TModMap const* TModMatrix::GetMap(int i) const
{
    return i >= 0 && i < GetNumMaps() ? &rows[static_cast<std::size_t>(i)] : nullptr;
}

void TModMatrix::SetSourceById(int row, int id, TModSourceTable const& table)
{
    TModMap* m = GetMap(row);
    if (!m) return;
    if (id == kModSourceNone)
        m->source = nullptr;
    else if (id == kModSourceLFO1 || id == kModSourceLFO2)
        m->SetSource(table.lfo[id - kModSourceLFO1], 0);
    else if (id >= kModSourcePadX && id < kModSourcePadX + kNumRoutedPerformPads)
        m->SetSource(table.pads[id - kModSourcePadX], 0);
    else if (id >= kModSourcePadY && id < kModSourcePadY + kNumRoutedPerformPads)
        m->SetSource(table.pads[id - kModSourcePadY], 1);
    else if (id == kModSourceModWheel)
        m->SetSource(table.modWheel, 0);
    else if (id == kModSourcePressure)
        m->SetSource(table.channelPressure, 0);
    else if (id == kModSourceVelocity)
        m->SetSource(table.voice, kVoiceOutputVelocity);
    else if (id == kModSourceNoteNumber)
        m->SetSource(table.voice, kVoiceOutputNoteNumber);
}

void TModMatrix::SetTargetById(int row, int id, TModTargetTable const& table)
{
    TModMap* m = GetMap(row);
    if (!m) return;
    switch (id)
    {
    case kModTargetNone:
        m->SetTarget(nullptr, -1, true);
        break;
    case kModTargetAmplitude:
    case kModTargetPitch:
    case kModTargetPan:
    case kModTargetVectorX:
    case kModTargetVectorY:
    case kModTargetFilterFreq:
    case kModTargetFilterRes:
        m->SetTarget(table.voice, id, true);
        break;
    case kModTargetLFO1Rate:
        m->SetTarget(table.lfo[0], kLFOInputRate, false);
        break;
    case kModTargetLFO1Depth:
        m->SetTarget(table.lfo[0], kLFOInputDepth, false);
        break;
    case kModTargetLFO2Rate:
        m->SetTarget(table.lfo[1], kLFOInputRate, false);
        break;
    case kModTargetLFO2Depth:
        m->SetTarget(table.lfo[1], kLFOInputDepth, false);
        break;
    default:
        break;
    }
}

void TModMatrix::DoModulation(long length, Envelope* line, long firstValueIndex)
{
    length = std::max(length, 0L);
    for (TModMap& m : rows)
    {
        TModValues* in = m.target ? m.target->GetInput(m.input) : nullptr;
        if (m.Active())
        {
            if (TModValues* out = m.source->GetOutput(m.output)) out->computed = false;
            if (in) in->computed = false;
        }
        if (in) in->valid = false;
    }
    PreparePass(length, false);
    ApplyPass(line, firstValueIndex, false);
    PreparePass(length, true);
    ApplyPass(line, firstValueIndex, true);
}

void TModMatrix::PreparePass(long length, bool second)
{
    for (TModMap& m : rows)
    {
        TModValues* out;
        TModValues* in;
        if (m.secondPass != second || !Bound(m, out, in)) continue;
        if (!out->computed)
        {
            out->computed = true;
            out->Clear();
            m.source->CreateModEnvelope(out, length, m.output);
        }
        if (!in->computed)
        {
            in->computed = true;
            in->Clear();
            in->AddBreakpoint(0.0f, 0.0f);
            in->AddBreakpoint(static_cast<float>(length), 0.0f);
        }
    }
}

void TModMatrix::ApplyPass(Envelope* line, long firstValueIndex, bool second)
{
    for (std::size_t i = 0; i < rows.size(); ++i)
    {
        TModMap& m = rows[i];
        TModValues* out;
        TModValues* in;
        if (m.secondPass != second || !Bound(m, out, in)) continue;
        if (m.amountFromLine)
        {
            // The row's depth curve (empty, so zero, where the line has no such value).
            sum.Clear();
            const long k = firstValueIndex + static_cast<long>(i);
            if (line && k >= 0 && k < line->numValues) line->ExtractYRange(&sum, k, k);
            Envelope::Multiply(sum, *out, contribution);
        }
        else
        {
            contribution = *out;
            contribution.ScaleYs(m.amount);
        }
        Envelope::Add(*in, contribution, sum);
        *in = sum;
        in->valid = true;
        m.target->ReceivedModValues(m.input);
    }
}

bool TModMatrix::Save(Writer& w) const
{
    w.Write(1.0f);
    w.Write(GetNumMaps());
    for (TModMap const& m : rows)
        m.Save(w);
    return !w.Failed();
}

bool TModMatrix::Load(Reader& r)
{
    float version = 0.0f;
    int count = 0;
    if (!r.Read(&version) || !r.Read(&count)) return false;
    if (count < 0 || count > kMaxRows || r.Remaining() / kStoredRowSize < static_cast<std::size_t>(count))
        return false;
    std::vector<TModMap> loaded(static_cast<std::size_t>(count));
    for (TModMap& m : loaded)
        if (!m.Load(r)) return false;
    rows.swap(loaded);
    return true;
}

char const* TGetModTargetName(int id)
{
    static char const* const names[] = {"<None>",   "Osc Amp.", "Osc Pitch",    "Osc Pan",
                                        "Vector X", "Vector Y", "Filter Freq.", "Filter Res."};
    if (id < kModTargetNone || id > kModTargetFilterRes) return "Error in TGetModTargetName";
    return names[id + 1];
}

char const* TGetModSourceName(int)
{
    return "";
}

void TCreateModTargetList(CascadeList* list)
{
    if (!list) return;
    list->AddItem("Osc Pitch", kModTargetPitch, nullptr, false);
    list->AddItem("Osc Pan", kModTargetPan, nullptr, false);
    list->AddItem("Osc Amp.", kModTargetAmplitude, nullptr, false);
    list->AddSeparator();
    list->AddItem("Vector X", kModTargetVectorX, nullptr, false);
    list->AddItem("Vector Y", kModTargetVectorY, nullptr, false);
    list->AddSeparator();
    list->AddItem("Filter Freq.", kModTargetFilterFreq, nullptr, false);
    list->AddItem("Filter Res.", kModTargetFilterRes, nullptr, false);
}
