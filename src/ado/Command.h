#pragma once
// ADO commands and their parameters. A command carries text, type and
// parameters; executing it is the data context's work, which reads the
// parameters and writes the values of output parameters back.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ado/Enums.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {

class Parameter;
class Parameters;
class Command;
using ParameterPtr = std::shared_ptr<Parameter>;
using ParametersPtr = std::shared_ptr<Parameters>;
using CommandPtr = std::shared_ptr<Command>;

class Parameter : public rt::Object {
public:
    std::string get_Name() const { return name_; }
    void put_Name(const std::string& name);
    DataTypeEnum get_Type() const { return type_; }
    void put_Type(DataTypeEnum type) { type_ = type; }
    ParameterDirectionEnum get_Direction() const { return direction_; }
    void put_Direction(ParameterDirectionEnum direction);
    int32_t get_Size() const { return size_; }
    void put_Size(int32_t size);
    rt::Variant get_Value() const { return value_; }
    // Input values are converted to the parameter's type when it has one.
    void put_Value(const rt::Variant& value);
    uint8_t get_Precision() const { return precision_; }
    void put_Precision(uint8_t precision) { precision_ = precision; }
    uint8_t get_NumericScale() const { return numericScale_; }
    void put_NumericScale(uint8_t scale) { numericScale_ = scale; }
    int32_t get_Attributes() const { return attributes_; }
    void put_Attributes(int32_t attributes) { attributes_ = attributes; }
    bool IsOutput() const {
        return direction_ == adParamOutput || direction_ == adParamInputOutput || direction_ == adParamReturnValue;
    }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Parameter"; }

private:
    friend class Parameters;
    std::string name_;
    DataTypeEnum type_ = adEmpty;
    ParameterDirectionEnum direction_ = adParamInput;
    int32_t size_ = 0;
    rt::Variant value_;
    uint8_t precision_ = 0;
    uint8_t numericScale_ = 0;
    int32_t attributes_ = 0;
    bool appended_ = false;
};

class Parameters : public rt::Object {
public:
    int32_t get_Count() const { return static_cast<int32_t>(items_.size()); }
    // By 0-based position or by name (case-insensitive); unknown raises
    // err::ItemNotFound.
    ParameterPtr get_Item(const rt::Variant& index) const;
    // Refuses Nothing (err::InvalidArgument), a parameter already in a
    // collection (err::ObjectInCollection) and one without a type
    // (err::InvalidParamInfo).
    void Append(const ParameterPtr& parameter);
    void Delete(const rt::Variant& index);
    // No provider to ask: the appended parameters stay as they are.
    void Refresh() {}
    const std::vector<ParameterPtr>& Items() const { return items_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Parameters"; }

private:
    size_t Resolve(const rt::Variant& index) const;
    std::vector<ParameterPtr> items_;
};

class Command : public rt::Object {
public:
    static CommandPtr Create();
    Command();

    std::string get_CommandText() const { return text_; }
    void put_CommandText(const std::string& text) { text_ = text; }
    CommandTypeEnum get_CommandType() const { return type_; }
    void put_CommandType(CommandTypeEnum type);
    rt::ObjectPtr get_ActiveConnection() const { return connection_; }
    void putref_ActiveConnection(const rt::ObjectPtr& connection) { connection_ = connection; }
    int32_t get_CommandTimeout() const { return timeout_; }
    void put_CommandTimeout(int32_t seconds);
    bool get_Prepared() const { return prepared_; }
    void put_Prepared(bool prepared) { prepared_ = prepared; }
    ParametersPtr get_Parameters() const { return parameters_; }

    // A new parameter (not yet appended). Size must not be negative.
    ParameterPtr CreateParameter(const std::string& Name = "", DataTypeEnum Type = adEmpty,
                                 ParameterDirectionEnum Direction = adParamInput, int32_t Size = 0,
                                 const rt::Variant& Value = rt::Variant::Missing());

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Command"; }

private:
    std::string text_;
    CommandTypeEnum type_ = adCmdUnknown;
    rt::ObjectPtr connection_;
    int32_t timeout_ = 30;
    bool prepared_ = false;
    ParametersPtr parameters_;
};

}  // namespace ado
