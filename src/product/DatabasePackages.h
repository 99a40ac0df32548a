#pragma once
// The database packages: native procedures and functions registered by
// their "PACKAGE.NAME", called from "{call ...}" escapes and from anonymous
// blocks. Built in: QTXUTILITY (the value-list decoders) and
// QTX_GETSEQVAL.GETSEQVAL.
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ado/Persist.h"
#include "runtime/Variant.h"

namespace product {

class SqliteConnection;

// Package state that lives as long as one session (one data context), as
// package variables do.
using PackageState = std::map<std::string, rt::Variant>;

struct RoutineCall {
    SqliteConnection& db;
    PackageState& state;
    std::string name;               // "PACKAGE.NAME" as registered
    std::vector<rt::Variant> args;  // in values; a procedure writes its OUT arguments here
    // Rows a procedure hands back (as a ref cursor would).
    std::optional<ado::RecordsetImage> rows;
};

struct Routine {
    enum Kind { Procedure, Function } kind = Procedure;
    int minArgs = 0;
    int maxArgs = 0;
    std::vector<bool> outArgs;  // per position: an OUT argument (a procedure writes it)
    // A function returns its value; a procedure returns Empty.
    std::function<rt::Variant(RoutineCall&)> body;
};

class PackageRegistry {
public:
    // The registry every data context uses; the built-in packages are in it.
    static PackageRegistry& Global();

    // Registers (or replaces) a routine under "PACKAGE.NAME" (any case).
    void Register(const std::string& name, Routine routine);
    void Unregister(const std::string& name);
    // nullopt when no routine of that name is registered.
    std::optional<Routine> Find(const std::string& name) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, Routine> routines_;
};

// Registers QTXUTILITY, QTX_GETSEQVAL and QTX_WORKOPERATIONS into a registry
// (Global does it).
void RegisterBuiltinPackages(PackageRegistry& registry);

// ---- the value-list encoding ----
// A list decodes to its values in order: numbers as Double, texts as String,
// dates as Date; an empty item is Null. Null or "" is the empty list.
// A malformed list raises ORA-06502 naming the position of the fault.
std::vector<rt::Variant> DecodeNumericList(const rt::Variant& list);
std::vector<rt::Variant> DecodeStringList(const rt::Variant& list);
std::vector<rt::Variant> DecodeDateList(const rt::Variant& list);

// A decoded list as it travels between routines: a Variant array from 1.
rt::Variant ListValue(const std::vector<rt::Variant>& values);
rt::Variant ListValue(std::vector<rt::Variant>&& values);

// Raises Oracle's "wrong number or types of arguments" for a routine.
[[noreturn]] void RaiseWrongArguments(const std::string& routine, const std::string& detail);

}  // namespace product
