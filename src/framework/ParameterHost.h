#pragma once

#include <vector>

#include "framework/Parameter.h"

class Writer;
class Reader;

// The registry of a plug-in's parameters: one list per scope, in registration order, and
// child hosts. The registration order is the order of the saved value stream, so it is
// part of every file format that holds one.
//
// The host owns neither its parameters nor its children; they must outlive it.
class ParameterHost : public ParamUpdateListener
{
public:
    explicit ParameterHost(long unused = 0);
    ParameterHost(ParameterHost const&) = delete;
    ParameterHost& operator=(ParameterHost const&) = delete;
    ~ParameterHost() override = default;

    void ParameterUpdated(float value, Parameter* changed) override;
    virtual void Load(Reader& r);
    virtual void Save(Writer& w);

    // Files p in the list of its scope and joins its listeners (called by Parameter::Create).
    void AddParameter(Parameter* p);
    void AddGlobal(Parameter* p);
    void AddInternal(Parameter* p);
    void AddPrivate(Parameter* p);
    void AddChildParameterHost(ParameterHost* child);

    Parameter* FindParameter(int scope, char const* name, bool recurse);
    Parameter* FindGlobalParameter(char const* name, bool recurse);
    Parameter* FindInternalParameter(char const* name, bool recurse);
    Parameter* FindPrivateParameter(char const* name, bool recurse);
    Parameter* FindParameter(char const* name, bool recurse);

    long GetNumGlobalParameters(bool recurse);
    long GetNumInternalParameters(bool recurse);
    long GetNumPrivateParameters(bool recurse);

    // Numbers every global (own first, then each child's) and fills the global table.
    void FinaliseGlobalParameters();

    // Null for an index out of range.
    Parameter* FindGlobalParameter(long i);
    Parameter* FindInternalParameter(long i);
    Parameter* FindPrivateParameter(long i);
    // One index space: globals (from the global table), internals, privates. Null out of
    // range, and for global indices before FinaliseGlobalParameters has run.
    Parameter* FindParameter(long i);

    // which: 0 globals, 1 internals, 2 privates, 3 all (privates, internals, then globals).
    void RefreshAllParameterListeners(int which, bool recurse);

protected:
    std::vector<Parameter*>& ListOfScope(int scope);
    Parameter* FindByIndex(int scope, long i);
    long Count(int scope, bool recurse);

    std::vector<Parameter*> globals;
    std::vector<Parameter*> internals;
    std::vector<Parameter*> privates;
    std::vector<ParameterHost*> children;
    std::vector<Parameter*> globalTable;
};
