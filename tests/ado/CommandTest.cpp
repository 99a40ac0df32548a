// Commands and parameters, as the data context receives them.
#include <gtest/gtest.h>

#include "ado/Command.h"
#include "ado/Recordset.h"
#include "runtime/Vb.h"
#include "support/Raises.h"

using namespace ado;
using pelmora_test::ErrorOf;

TEST(Command, CreateParameterKeepsEveryArgumentAndConvertsTheValue) {
    auto cmd = Command::Create();
    cmd->put_CommandText("{call QTX_WORKOPERATIONS.UPDATEFEATURES(?, ?)}");
    cmd->put_CommandType(adCmdText);
    auto p = cmd->CreateParameter("FNOList", adVarChar, adParamInput, 32000, rt::Variant("1;2;"));
    EXPECT_EQ(p->get_Name(), "FNOList");
    EXPECT_EQ(p->get_Type(), adVarChar);
    EXPECT_EQ(p->get_Direction(), adParamInput);
    EXPECT_EQ(p->get_Size(), 32000);
    EXPECT_EQ(p->get_Value().Str(), "1;2;");
    auto n = cmd->CreateParameter("", adInteger, adParamInput, 0, rt::Variant("42"));
    EXPECT_EQ(n->get_Value().Type(), rt::vbLong);
    EXPECT_EQ(ErrorOf([&] { cmd->CreateParameter("x", adInteger, adParamInput, 0, rt::Variant("forty")); }),
              err::DataConversion);
    EXPECT_EQ(ErrorOf([&] { cmd->CreateParameter("x", adInteger, adParamInput, -1); }), err::InvalidArgument);
    EXPECT_EQ(cmd->get_Parameters()->get_Count(), 0);  // created, not appended
}

TEST(Command, ParametersAppendDeleteAndLookUp) {
    auto cmd = Command::Create();
    auto params = cmd->get_Parameters();
    auto a = cmd->CreateParameter("A", adInteger, adParamInput, 0, rt::Variant(int32_t{1}));
    auto b = cmd->CreateParameter("", adVarChar, adParamInput, 10, rt::Variant("x"));
    auto c = cmd->CreateParameter("Result", adInteger, adParamOutput);
    params->Append(a);
    params->Append(b);
    params->Append(c);
    EXPECT_EQ(params->get_Count(), 3);
    EXPECT_EQ(params->get_Item(rt::Variant(int32_t{1})), b);
    EXPECT_EQ(params->get_Item(rt::Variant("result")), c);
    EXPECT_EQ(ErrorOf([&] { params->get_Item(rt::Variant("nope")); }), err::ItemNotFound);
    EXPECT_EQ(ErrorOf([&] { params->get_Item(rt::Variant(int32_t{3})); }), err::ItemNotFound);
    EXPECT_EQ(ErrorOf([&] { params->Append(a); }), err::ObjectInCollection);
    EXPECT_EQ(ErrorOf([&] { params->Append(nullptr); }), err::InvalidArgument);
    EXPECT_EQ(ErrorOf([&] { params->Append(cmd->CreateParameter("untyped")); }), err::InvalidParamInfo);
    params->Delete(rt::Variant("A"));
    EXPECT_EQ(params->get_Count(), 2);
    EXPECT_EQ(params->get_Item(rt::Variant(int32_t{0})), b);
    params->Append(a);  // a deleted parameter may be appended again
    EXPECT_EQ(params->get_Item(rt::Variant(int32_t{2})), a);
}

TEST(Command, OutputParametersAreReadableAfterTheContextWritesThem) {
    auto cmd = Command::Create();
    auto out = cmd->CreateParameter("Id", adInteger, adParamOutput);
    cmd->get_Parameters()->Append(out);
    EXPECT_TRUE(out->IsOutput());
    EXPECT_TRUE(out->get_Value().IsEmpty());
    // What an executing data context does for an output parameter.
    for (const auto& p : cmd->get_Parameters()->Items())
        if (p->IsOutput()) p->put_Value(rt::Variant(77.0));
    EXPECT_EQ(cmd->get_Parameters()->get_Item(rt::Variant("ID"))->get_Value().I4(), 77);
}

TEST(Command, LateBoundMembers) {
    auto cmd = Command::Create();
    rt::CallByName(cmd, "CommandText", rt::InvokeKind::PropertyLet, {rt::Variant("select 1 from dual")});
    EXPECT_EQ(cmd->get_CommandText(), "select 1 from dual");
    rt::Variant p = rt::CallByName(cmd, "CreateParameter", rt::InvokeKind::Method,
                                   {rt::Variant("P"), rt::Variant(int32_t{adVarWChar}),
                                    rt::Variant(int32_t{adParamInput}), rt::Variant(int32_t{5}), rt::Variant("v")});
    rt::Variant params = rt::CallByName(cmd, "Parameters", rt::InvokeKind::PropertyGet);
    rt::CallByName(params.Obj(), "Append", rt::InvokeKind::Method, {p});
    EXPECT_EQ(rt::CallByName(params.Obj(), "Count", rt::InvokeKind::PropertyGet).I4(), 1);
    rt::Variant value = rt::CallByName(
        rt::CallByName(params.Obj(), "Item", rt::InvokeKind::PropertyGet, {rt::Variant(int32_t{0})}).Obj(), "Value",
        rt::InvokeKind::PropertyGet);
    EXPECT_EQ(value.Str(), "v");
    EXPECT_EQ(ErrorOf([&] { cmd->put_CommandType(static_cast<CommandTypeEnum>(3)); }), err::InvalidArgument);
}

TEST(RecordsetLateBinding, FieldsValueAndNavigationByName) {
    auto rs = Recordset::Create();
    rs->get_Fields()->Append("QTX_FID", adInteger);
    rs->Open();
    rs->AddNew();
    rt::Variant field = rt::CallByName(rs, "Fields", rt::InvokeKind::PropertyGet, {rt::Variant("qtx_fid")});
    rt::CallByName(field.Obj(), "Value", rt::InvokeKind::PropertyLet, {rt::Variant("7")});
    rt::CallByName(rs, "Update", rt::InvokeKind::Method);
    EXPECT_EQ(rt::CallByName(rs, "RecordCount", rt::InvokeKind::PropertyGet).I4(), 1);
    EXPECT_EQ(rt::CallByName(field.Obj(), "", rt::InvokeKind::PropertyGet).I4(), 7);
    rt::CallByName(rs, "MoveNext", rt::InvokeKind::Method);
    EXPECT_TRUE(rt::CallByName(rs, "EOF", rt::InvokeKind::PropertyGet).Bool());
    rt::CallByName(rs, "Filter", rt::InvokeKind::PropertyLet, {rt::Variant("QTX_FID = 8")});
    EXPECT_TRUE(rt::CallByName(rs, "BOF", rt::InvokeKind::PropertyGet).Bool());
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(rs, "NoSuchMember", rt::InvokeKind::Method); }),
              rt::vberr::ObjectDoesNotSupportMember);
}

TEST(RecordsetLateBinding, FieldsAndParametersShareTheirCollectionMembers) {
    using K = rt::InvokeKind;
    // Fields: appended and deleted late bound while closed, then the default
    // member assigns a value on the current row.
    auto rs = Recordset::Create();
    rt::ObjectPtr fields = rs->get_Fields();
    rt::CallByName(fields, "Append", K::Method, {rt::Variant("A"), rt::Variant(int32_t{adInteger})});
    rt::CallByName(fields, "Append", K::Method,
                   {rt::Variant("B"), rt::Variant(int32_t{adVarWChar}), rt::Variant(int32_t{10})});
    EXPECT_EQ(rt::CallByName(fields, "Count", K::PropertyGet).I4(), 2);
    rt::CallByName(fields, "Delete", K::Method, {rt::Variant("A")});
    EXPECT_EQ(rt::CallByName(fields, "Count", K::PropertyGet).I4(), 1);
    EXPECT_TRUE(rt::CallByName(fields, "Refresh", K::Method).IsEmpty());
    rs->Open();
    rs->AddNew();
    rt::CallByName(fields, "", K::PropertyLet, {rt::Variant("b"), rt::Variant("text")});
    EXPECT_EQ(rs->GetValue(rt::Variant("B")).Str(), "text");
    rt::Variant item = rt::CallByName(fields, "Item", K::PropertyGet, {rt::Variant(int32_t{0})});
    EXPECT_EQ(std::dynamic_pointer_cast<Field>(item.Obj())->get_Name(), "B");
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(fields, "Item", K::PropertyGet, {rt::Variant("A")}); }), err::ItemNotFound);
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(fields, "Delete", K::Method, {rt::Variant("B")}); }), err::IllegalOperation);

    // Parameters: the same members on the other collection.
    auto cmd = Command::Create();
    rt::ObjectPtr params = cmd->get_Parameters();
    auto p = cmd->CreateParameter("P", adInteger, adParamInput, 0, rt::Variant(int32_t{1}));
    rt::CallByName(params, "Append", K::Method, {rt::Variant(std::static_pointer_cast<rt::Object>(p))});
    rt::CallByName(params, "Item", K::PropertyLet, {rt::Variant("p"), rt::Variant(int32_t{9})});
    EXPECT_EQ(p->get_Value().I4(), 9);
    EXPECT_EQ(rt::CallByName(params, "Count", K::PropertyGet).I4(), 1);
    rt::CallByName(params, "Delete", K::Method, {rt::Variant(int32_t{0})});
    EXPECT_EQ(rt::CallByName(params, "Count", K::PropertyGet).I4(), 0);
    EXPECT_TRUE(rt::CallByName(params, "Refresh", K::Method).IsEmpty());
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(params, "Item", K::PropertyGet, {rt::Variant("P")}); }), err::ItemNotFound);
}
