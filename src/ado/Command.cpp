#include "ado/Command.h"

#include <cmath>

#include "ado/LateBinding.h"
#include "ado/Recordset.h"
#include "runtime/Vb.h"

namespace ado {

namespace {

constexpr const char* kCommandSource = "ADODB.Command";
constexpr const char* kParameterSource = "ADODB.Parameter";
constexpr const char* kWrongArguments =
    "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";

[[noreturn]] void BadArgument(const char* source) { throw rt::ComError(err::InvalidArgument, source, kWrongArguments); }

using latebound::Arg;

}  // namespace

// ------------------------------------------------------------------ Parameter

void Parameter::put_Name(const std::string& name) {
    if (appended_)
        throw rt::ComError(err::IllegalOperation, kParameterSource, "Operation is not allowed in this context.");
    name_ = name;
}

void Parameter::put_Direction(ParameterDirectionEnum direction) {
    if (direction < adParamUnknown || direction > adParamReturnValue) BadArgument(kParameterSource);
    direction_ = direction;
}

void Parameter::put_Size(int32_t size) {
    if (size < 0) BadArgument(kParameterSource);
    size_ = size;
}

void Parameter::put_Value(const rt::Variant& value) {
    if (value.IsMissing()) {
        value_ = rt::Variant();
        return;
    }
    value_ = type_ == adEmpty ? value : CoerceToFieldType(value, type_);
}

rt::Variant Parameter::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    auto is = [&](const char* n) { return rt::NamesEqual(name, n); };
    bool put = kind == rt::InvokeKind::PropertyLet || kind == rt::InvokeKind::PropertySet;
    if (name.empty() || is("Value")) {
        if (put) {
            if (args.empty()) BadArgument(kParameterSource);
            put_Value(args.back());
            return {};
        }
        return get_Value();
    }
    if (is("Name")) {
        if (put) { put_Name(rt::CStr(Arg(args, 0))); return {}; }
        return rt::Variant(get_Name());
    }
    if (is("Type")) {
        if (put) { put_Type(static_cast<DataTypeEnum>(rt::CLng(Arg(args, 0)))); return {}; }
        return rt::Variant(static_cast<int32_t>(get_Type()));
    }
    if (is("Direction")) {
        if (put) { put_Direction(static_cast<ParameterDirectionEnum>(rt::CLng(Arg(args, 0)))); return {}; }
        return rt::Variant(static_cast<int32_t>(get_Direction()));
    }
    if (is("Size")) {
        if (put) { put_Size(rt::CLng(Arg(args, 0))); return {}; }
        return rt::Variant(get_Size());
    }
    return rt::Object::Invoke(name, kind, args);
}

// ------------------------------------------------------------------ Parameters

size_t Parameters::Resolve(const rt::Variant& index) const {
    if (index.IsString()) {
        for (size_t i = 0; i < items_.size(); ++i)
            if (rt::NamesEqual(items_[i]->name_, index.Str())) return i;
    } else if (index.IsNumericType() && !index.IsArray() && index.Type() != rt::vbBoolean) {
        double d = rt::CDbl(index);
        if (std::floor(d) == d && d >= 0 && d < static_cast<double>(items_.size())) return static_cast<size_t>(d);
    }
    throw rt::ComError(err::ItemNotFound, "ADODB.Parameters",
                       "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

ParameterPtr Parameters::get_Item(const rt::Variant& index) const { return items_[Resolve(index)]; }

void Parameters::Append(const ParameterPtr& parameter) {
    if (!parameter) BadArgument("ADODB.Parameters");
    if (parameter->appended_)
        throw rt::ComError(err::ObjectInCollection, "ADODB.Parameters", "Object is already in collection. Cannot append.");
    if (parameter->type_ == adEmpty)
        throw rt::ComError(err::InvalidParamInfo, "ADODB.Parameters",
                           "Parameter object is improperly defined. Inconsistent or incomplete information was "
                           "provided.");
    parameter->appended_ = true;
    items_.push_back(parameter);
}

void Parameters::Delete(const rt::Variant& index) {
    size_t i = Resolve(index);
    items_[i]->appended_ = false;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
}

rt::Variant Parameters::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (auto result = latebound::InvokeCollectionMember(*this, name, kind, args)) return *result;
    if (rt::NamesEqual(name, "Append") && !args.empty()) {
        const rt::Variant& v = args[0];
        auto p = v.IsObject() ? std::dynamic_pointer_cast<Parameter>(v.Obj()) : nullptr;
        Append(p);
        return {};
    }
    return rt::Object::Invoke(name, kind, args);
}

// ------------------------------------------------------------------ Command

CommandPtr Command::Create() { return std::make_shared<Command>(); }

Command::Command() : parameters_(std::make_shared<Parameters>()) {}

void Command::put_CommandType(CommandTypeEnum type) {
    switch (type) {
        case adCmdUnspecified: case adCmdText: case adCmdTable: case adCmdStoredProc: case adCmdUnknown:
        case adCmdFile: case adCmdTableDirect:
            type_ = type;
            return;
    }
    BadArgument(kCommandSource);
}

void Command::put_CommandTimeout(int32_t seconds) {
    if (seconds < 0) BadArgument(kCommandSource);
    timeout_ = seconds;
}

ParameterPtr Command::CreateParameter(const std::string& Name, DataTypeEnum Type, ParameterDirectionEnum Direction,
                                      int32_t Size, const rt::Variant& Value) {
    auto p = std::make_shared<Parameter>();
    p->put_Name(Name);
    p->put_Type(Type);
    p->put_Direction(Direction);
    p->put_Size(Size);
    p->put_Value(Value);
    return p;
}

rt::Variant Command::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    auto is = [&](const char* n) { return rt::NamesEqual(name, n); };
    bool put = kind == rt::InvokeKind::PropertyLet || kind == rt::InvokeKind::PropertySet;
    if (is("CommandText")) {
        if (put) { put_CommandText(rt::CStr(Arg(args, 0))); return {}; }
        return rt::Variant(get_CommandText());
    }
    if (is("CommandType")) {
        if (put) { put_CommandType(static_cast<CommandTypeEnum>(rt::CLng(Arg(args, 0)))); return {}; }
        return rt::Variant(static_cast<int32_t>(get_CommandType()));
    }
    if (is("ActiveConnection")) {
        if (put) {
            const rt::Variant& v = Arg(args, 0);
            putref_ActiveConnection(v.IsObject() ? v.Obj() : nullptr);
            return {};
        }
        return rt::Variant(get_ActiveConnection());
    }
    if (is("Parameters")) {
        if (args.empty()) return rt::Variant(get_Parameters());
        return rt::Variant(get_Parameters()->get_Item(args[0]));
    }
    if (is("CreateParameter")) {
        const rt::Variant& size = Arg(args, 3);
        return rt::Variant(CreateParameter(
            Arg(args, 0).IsMissing() ? "" : rt::CStr(Arg(args, 0)),
            static_cast<DataTypeEnum>(Arg(args, 1).IsMissing() ? adEmpty : rt::CLng(Arg(args, 1))),
            static_cast<ParameterDirectionEnum>(Arg(args, 2).IsMissing() ? adParamInput : rt::CLng(Arg(args, 2))),
            size.IsMissing() ? 0 : rt::CLng(size), Arg(args, 4)));
    }
    return rt::Object::Invoke(name, kind, args);
}

}  // namespace ado
