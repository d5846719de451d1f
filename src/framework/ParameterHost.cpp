#include "framework/ParameterHost.h"

#include <cstring>

#include "framework/Streams.h"

ParameterHost::ParameterHost(long) {}

void ParameterHost::ParameterUpdated(float, Parameter*) {}

std::vector<Parameter*>& ParameterHost::ListOfScope(int scope)
{
    if (scope == Parameter::Global) return globals;
    if (scope == Parameter::Internal) return internals;
    return privates;
}

void ParameterHost::AddParameter(Parameter* p)
{
    ListOfScope(p->GetScope()).push_back(p);
    p->AddUpdateListener(this);
}

void ParameterHost::AddGlobal(Parameter* p)
{
    globals.push_back(p);
}

void ParameterHost::AddInternal(Parameter* p)
{
    internals.push_back(p);
}

void ParameterHost::AddPrivate(Parameter* p)
{
    privates.push_back(p);
}

void ParameterHost::AddChildParameterHost(ParameterHost* child)
{
    children.push_back(child);
}

Parameter* ParameterHost::FindParameter(int scope, char const* name, bool recurse)
{
    if (!name) return nullptr;
    for (Parameter* p : ListOfScope(scope))
    {
        if (strcmp(p->GetName(), name) == 0) return p;
    }
    if (recurse)
    {
        for (ParameterHost* child : children)
        {
            if (Parameter* p = child->FindParameter(scope, name, true)) return p;
        }
    }
    return nullptr;
}

Parameter* ParameterHost::FindGlobalParameter(char const* name, bool recurse)
{
    return FindParameter(Parameter::Global, name, recurse);
}

Parameter* ParameterHost::FindInternalParameter(char const* name, bool recurse)
{
    return FindParameter(Parameter::Internal, name, recurse);
}

Parameter* ParameterHost::FindPrivateParameter(char const* name, bool recurse)
{
    return FindParameter(Parameter::Private, name, recurse);
}

Parameter* ParameterHost::FindParameter(char const* name, bool recurse)
{
    for (int scope = Parameter::Global; scope <= Parameter::Private; ++scope)
    {
        if (Parameter* p = FindParameter(scope, name, false)) return p;
    }
    if (recurse)
    {
        for (ParameterHost* child : children)
        {
            if (Parameter* p = child->FindParameter(name, true)) return p;
        }
    }
    return nullptr;
}

long ParameterHost::Count(int scope, bool recurse)
{
    long n = static_cast<long>(ListOfScope(scope).size());
    if (recurse)
    {
        for (ParameterHost* child : children)
            n += child->Count(scope, true);
    }
    return n;
}

long ParameterHost::GetNumGlobalParameters(bool recurse)
{
    return Count(Parameter::Global, recurse);
}

long ParameterHost::GetNumInternalParameters(bool recurse)
{
    return Count(Parameter::Internal, recurse);
}

long ParameterHost::GetNumPrivateParameters(bool recurse)
{
    return Count(Parameter::Private, recurse);
}

Parameter* ParameterHost::FindByIndex(int scope, long i)
{
    if (i < 0) return nullptr;
    std::vector<Parameter*>& own = ListOfScope(scope);
    if (i < static_cast<long>(own.size())) return own[static_cast<size_t>(i)];
    i -= static_cast<long>(own.size());
    for (ParameterHost* child : children)
    {
        long share = child->Count(scope, true);
        if (i < share) return child->FindByIndex(scope, i);
        i -= share;
    }
    return nullptr;
}

Parameter* ParameterHost::FindGlobalParameter(long i)
{
    return FindByIndex(Parameter::Global, i);
}

Parameter* ParameterHost::FindInternalParameter(long i)
{
    return FindByIndex(Parameter::Internal, i);
}

Parameter* ParameterHost::FindPrivateParameter(long i)
{
    return FindByIndex(Parameter::Private, i);
}

void ParameterHost::FinaliseGlobalParameters()
{
    long n = GetNumGlobalParameters(true);
    globalTable.assign(static_cast<size_t>(n), nullptr);
    for (long i = 0; i < n; ++i)
    {
        Parameter* p = FindGlobalParameter(i);
        p->SetGlobalNumber(i);
        globalTable[static_cast<size_t>(i)] = p;
        // A global found through a child is heard here too; an own global hears this host twice.
        p->AddUpdateListener(this);
    }
}

Parameter* ParameterHost::FindParameter(long i)
{
    if (i < 0) return nullptr;
    long g = GetNumGlobalParameters(true);
    if (i < g)
    {
        // The table exists only after FinaliseGlobalParameters, and covers the globals of then.
        if (i < static_cast<long>(globalTable.size())) return globalTable[static_cast<size_t>(i)];
        return nullptr;
    }
    i -= g;
    long n = GetNumInternalParameters(true);
    if (i < n) return FindInternalParameter(i);
    i -= n;
    return FindPrivateParameter(i);
}

void ParameterHost::RefreshAllParameterListeners(int which, bool recurse)
{
    if (which == 2 || which == 3)
    {
        for (Parameter* p : privates)
            p->RefreshListeners();
    }
    if (which == 1 || which == 3)
    {
        for (Parameter* p : internals)
            p->RefreshListeners();
    }
    if (which == 0 || which == 3)
    {
        for (Parameter* p : globals)
            p->RefreshListeners();
    }
    if (recurse)
    {
        for (ParameterHost* child : children)
            child->RefreshAllParameterListeners(which, true);
    }
}

void ParameterHost::Save(Writer& w)
{
    for (Parameter* p : globals)
        p->Save(w);
    for (Parameter* p : internals)
        p->Save(w);
    for (Parameter* p : privates)
        p->Save(w);
    for (ParameterHost* child : children)
        child->Save(w);
}

void ParameterHost::Load(Reader& r)
{
    for (Parameter* p : globals)
        p->Load(r);
    for (Parameter* p : internals)
        p->Load(r);
    for (Parameter* p : privates)
        p->Load(r);
    for (ParameterHost* child : children)
        child->Load(r);
}
