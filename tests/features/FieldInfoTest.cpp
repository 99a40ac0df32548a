// Field descriptors: built from the sample's attribute metadata and written
// as defaults into new rows of its component tables.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/features/FieldInfo.h"
#include "pelmora/features/modADOGlobal.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataService.h"
#include "product/Notification.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "runtime/Collection.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"
#include "support/Raises.h"
#include "support/SampleEnvironment.h"

using pelmora::ApplyFieldDefaults;
using pelmora::BuildFieldInfoCollection;
using pelmora::FieldInfo;
using pelmora::FieldInfoCollection;
using pelmora_test::ErrorOf;

namespace {

// Same value and same kind of emptiness: Null is not Empty, and Null
// matches Null here, which VariantEquals never says.
bool SameValue(const rt::Variant& a, const rt::Variant& b) {
    if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
    if (a.IsEmpty() || b.IsEmpty()) return a.IsEmpty() && b.IsEmpty();
    return rt::VariantEquals(a, b);
}

std::shared_ptr<FieldInfo> InfoAt(const std::shared_ptr<FieldInfoCollection>& c, const rt::Variant& index) {
    return std::dynamic_pointer_cast<FieldInfo>(c->Item(index).Obj());
}

// A fabricated attribute table: the seven columns the builder reads (or all
// but the one named in leaveOut), one row per entry.
struct AttributeRow {
    std::string field;
    int32_t ano;
    rt::Variant dataDefault;
};

ado::RecordsetPtr AttributeRows(const std::vector<AttributeRow>& rows, const std::string& leaveOut = "") {
    ado::RecordsetImage image;
    image.source = "ATTRIBUTES";
    auto text = [](const char* name) {
        return ado::FieldDesc{name, ado::adVarWChar, 80, 0, 0, ado::adFldIsNullable, "ATTRIBUTES", name};
    };
    auto number = [](const char* name) {
        return ado::FieldDesc{name, ado::adInteger, 4, 10, 0, ado::adFldIsNullable, "ATTRIBUTES", name};
    };
    std::vector<ado::FieldDesc> all = {text("QTX_FIELD"),
                                       number("QTX_ANO"),
                                       text("DATA_DEFAULT"),
                                       text("QTX_RELATIONIFACEPROGID"),
                                       text("QTX_RELATIONIFACETYPE"),
                                       number("QTX_RIARGGROUPNO"),
                                       number("QTX_RELATIONIFACEPRJNO")};
    for (auto& f : all)
        if (f.name != leaveOut) image.fields.push_back(f);
    for (const auto& r : rows)
        for (auto& f : image.fields) {
            if (f.name == "QTX_FIELD") image.values.push_back(rt::Variant(r.field));
            else if (f.name == "QTX_ANO") image.values.push_back(rt::Variant(r.ano));
            else if (f.name == "DATA_DEFAULT") image.values.push_back(r.dataDefault);
            else image.values.push_back(rt::Variant::Null());
        }
    return ado::Recordset::FromImage(image, ado::adLockBatchOptimistic, ado::adOpenKeyset);
}

std::shared_ptr<FieldInfo> Info(const std::string& name, const rt::Variant& defaultValue) {
    auto info = FieldInfo::New();
    info->put_Name(name);
    info->put_DefaultValue(defaultValue);
    return info;
}

// The sample's metadata behind a real metadata service.
class SampleAttributes : public ::testing::Test {
protected:
    void SetUp() override {
        env_ = &pelmora_test::SampleEnvironment::Get();
        rt::Apartment::Reset();
        product::RegisterProductStandIns();
        product::RegisterApplicationClasses();
        pelmora::RegisterMetadataClasses();
        recorder_ = std::make_shared<product::DialogRecorder>();
        product::InstallDialogRecorder(recorder_);
        ::setenv("PELMORA_CONFIGURATION_MAP", env_->ConfigurationMapPath().c_str(), 1);
        previousDirectory_ = std::filesystem::current_path();
        std::filesystem::current_path(env_->NewFolder("fieldinfo"));
        auto service = std::make_shared<pelmora::MetadataService>();
        service->put_Configuration(env_->ConfigurationName());
        metadata_ = rt::QueryInterface<pelmora::IMetadataService>(service);
    }

    void TearDown() override {
        metadata_.reset();
        std::filesystem::current_path(previousDirectory_);
        product::InstallDialogRecorder(nullptr);
        rt::Apartment::Reset();
    }

    // The attribute rows of one component, as feature creation reads them.
    ado::RecordsetPtr Attributes(const std::string& table, int cno) {
        auto rs = metadata_->get_Recordsets()->get_Item(rt::Variant(table))->get_Recordset("", "");
        rs->put_Filter(rt::Variant("QTX_CNO = " + std::to_string(cno)));
        return rs;
    }

    // Every descriptor matches its row, in row order, Nulls included.
    void ExpectMatchesRows(const std::shared_ptr<FieldInfoCollection>& infos, const ado::RecordsetPtr& rows) {
        ASSERT_EQ(infos->Count(), rows->get_RecordCount());
        rows->MoveFirst();
        for (int32_t i = 1; !rows->get_EOF(); ++i, rows->MoveNext()) {
            std::string field = rt::CStr(rows->GetValue(rt::Variant("QTX_FIELD")));
            SCOPED_TRACE(field);
            auto info = InfoAt(infos, rt::Variant(i));
            ASSERT_NE(info, nullptr);
            EXPECT_EQ(InfoAt(infos, rt::Variant(field)), info);
            EXPECT_EQ(info->get_Name(), field);
            EXPECT_EQ(info->get_ANO(), rt::CLng(rows->GetValue(rt::Variant("QTX_ANO"))));
            EXPECT_TRUE(SameValue(info->get_DefaultValue(), rows->GetValue(rt::Variant("DATA_DEFAULT"))));
            EXPECT_TRUE(SameValue(info->get_AttributeEditControlProgID(),
                                  rows->GetValue(rt::Variant("QTX_RELATIONIFACEPROGID"))));
            EXPECT_TRUE(SameValue(info->get_AttributeEditControlType(),
                                  rows->GetValue(rt::Variant("QTX_RELATIONIFACETYPE"))));
            EXPECT_TRUE(SameValue(info->get_AttributeEditControlArgGroupNo(),
                                  rows->GetValue(rt::Variant("QTX_RIARGGROUPNO"))));
            EXPECT_TRUE(SameValue(info->get_RelationIFacePrjNo(), rows->GetValue(rt::Variant("QTX_RELATIONIFACEPRJNO"))));
        }
    }

    const pelmora_test::SampleEnvironment* env_ = nullptr;
    std::shared_ptr<product::DialogRecorder> recorder_;
    std::filesystem::path previousDirectory_;
    std::shared_ptr<pelmora::IMetadataService> metadata_;
};

}  // namespace

// ---- FieldInfo ----

TEST(FieldInfo, NeverFilledHoldsZeroEmptyNameNullsAndAnEmptyProjectNumber) {
    auto info = FieldInfo::New();
    EXPECT_EQ(info->get_ANO(), 0);
    EXPECT_EQ(info->get_Name(), "");
    EXPECT_TRUE(info->get_AttributeEditControlProgID().IsNull());
    EXPECT_TRUE(info->get_AttributeEditControlType().IsNull());
    EXPECT_TRUE(info->get_AttributeEditControlArgGroupNo().IsNull());
    EXPECT_TRUE(info->get_DefaultValue().IsNull());
    EXPECT_TRUE(info->get_RelationIFacePrjNo().IsEmpty());
}

TEST(FieldInfo, LateBoundMembersStoreValuesAsGiven) {
    auto info = FieldInfo::New();
    rt::ObjectPtr obj = info;
    rt::CallByName(obj, "ANO", rt::InvokeKind::PropertyLet, {rt::Variant("2102")});
    rt::CallByName(obj, "Name", rt::InvokeKind::PropertyLet, {rt::Variant(int32_t{7})});
    rt::CallByName(obj, "DefaultValue", rt::InvokeKind::PropertyLet, {rt::Variant(std::string())});
    rt::CallByName(obj, "RelationIFacePrjNo", rt::InvokeKind::PropertyLet, {rt::Variant::Null()});
    rt::CallByName(obj, "attributeeditcontrolprogid", rt::InvokeKind::PropertyLet, {rt::Variant("A.B")});
    EXPECT_EQ(info->get_ANO(), 2102);
    EXPECT_EQ(info->get_Name(), "7");
    // An empty text stays a text: it is a default to apply.
    EXPECT_TRUE(info->get_DefaultValue().IsString());
    EXPECT_TRUE(info->get_RelationIFacePrjNo().IsNull());
    EXPECT_EQ(rt::CStr(rt::CallByName(obj, "AttributeEditControlProgID", rt::InvokeKind::PropertyGet)), "A.B");
    EXPECT_EQ(rt::CLng(rt::CallByName(obj, "ANO", rt::InvokeKind::PropertyGet)), 2102);
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(obj, "ANO", rt::InvokeKind::PropertyLet, {rt::Variant("many")}); }),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(obj, "Width", rt::InvokeKind::PropertyGet); }),
              rt::vberr::ObjectDoesNotSupportMember);
}

TEST(FieldInfo, FindByNameIgnoresCaseAndAnswersNothingForUnknownNames) {
    auto infos = FieldInfoCollection::New();
    auto size = Info("SIZE_MM", rt::Variant(150));
    infos->Add(rt::Variant(size), rt::Variant("SIZE_MM"));
    EXPECT_EQ(pelmora::FindFieldInfo(infos, "size_mm"), size);
    EXPECT_EQ(pelmora::FindFieldInfo(infos, "VALVE_TYPE"), nullptr);
    EXPECT_EQ(pelmora::FindFieldInfo(infos, ""), nullptr);
    EXPECT_EQ(pelmora::FindFieldInfo(nullptr, "SIZE_MM"), nullptr);
}

// ---- BuildFieldInfoCollection ----

TEST_F(SampleAttributes, BuildsOneDescriptorPerAttributeRowOfTheComponent) {
    for (int cno : {21, 31, 41}) {
        SCOPED_TRACE(cno);
        auto rows = Attributes("QTX_ATTRIBUTEINFO_OPTABLE", cno);
        ASSERT_GT(rows->get_RecordCount(), 0);
        auto infos = BuildFieldInfoCollection(rows);
        EXPECT_TRUE(rows->get_EOF());
        ExpectMatchesRows(infos, rows);
    }
}

TEST_F(SampleAttributes, FunctionalInterfaceRowsKeepTheirEditControlsAndProjects) {
    auto rows = Attributes("QTX_ATTRIBUTEINFOFI_OPTABLE", 41);
    auto infos = BuildFieldInfoCollection(rows);
    ExpectMatchesRows(infos, rows);
    // The sample binds one of these fields to a project's control: its
    // number is read, and fields without one hold Null rather than Empty.
    int withProject = 0;
    for (const rt::Variant& item : infos->Enumerate()) {
        auto info = std::dynamic_pointer_cast<FieldInfo>(item.Obj());
        EXPECT_FALSE(info->get_RelationIFacePrjNo().IsEmpty());
        withProject += info->get_RelationIFacePrjNo().IsNull() ? 0 : 1;
    }
    EXPECT_GE(withProject, 1);
}

TEST_F(SampleAttributes, NoRowsGiveAnEmptyCollection) {
    auto rows = Attributes("QTX_ATTRIBUTEINFO_OPTABLE", 9999);
    ASSERT_EQ(rows->get_RecordCount(), 0);
    auto infos = BuildFieldInfoCollection(rows);
    ASSERT_NE(infos, nullptr);
    EXPECT_EQ(infos->Count(), 0);
}

TEST(BuildFieldInfoCollection, StartsAtTheFirstRowWhereverTheCursorStands) {
    auto rows = AttributeRows({{"A", 1, rt::Variant("x")}, {"B", 2, rt::Variant::Null()}, {"C", 3, rt::Variant()}});
    rows->MoveLast();
    auto infos = BuildFieldInfoCollection(rows);
    ASSERT_EQ(infos->Count(), 3);
    EXPECT_EQ(InfoAt(infos, rt::Variant(1))->get_Name(), "A");
    EXPECT_EQ(InfoAt(infos, rt::Variant("c"))->get_ANO(), 3);
    EXPECT_TRUE(rows->get_EOF());
}

TEST(BuildFieldInfoCollection, MissingColumnFails) {
    for (const char* column : {"QTX_FIELD", "QTX_ANO", "DATA_DEFAULT", "QTX_RELATIONIFACEPROGID",
                               "QTX_RELATIONIFACETYPE", "QTX_RIARGGROUPNO", "QTX_RELATIONIFACEPRJNO"}) {
        SCOPED_TRACE(column);
        auto rows = AttributeRows({{"A", 1, rt::Variant::Null()}}, column);
        EXPECT_NE(ErrorOf([&] { BuildFieldInfoCollection(rows); }), 0);
    }
    // Without rows nothing is read, so a missing column goes unnoticed.
    EXPECT_EQ(BuildFieldInfoCollection(AttributeRows({}, "QTX_ANO"))->Count(), 0);

    EXPECT_EQ(ErrorOf([] { BuildFieldInfoCollection(nullptr); }), rt::vberr::ObjectVariableNotSet);
}

TEST(BuildFieldInfoCollection, AFieldNamedAgainKeepsItsFirstDescriptor) {
    // A field with two functional interfaces has two rows.
    auto twice = AttributeRows(
        {{"A", 1, rt::Variant("x")}, {"B", 2, rt::Variant::Null()}, {"a", 3, rt::Variant("y")}});
    auto infos = BuildFieldInfoCollection(twice);
    ASSERT_EQ(infos->Count(), 2);
    EXPECT_EQ(InfoAt(infos, rt::Variant("A"))->get_ANO(), 1);
    EXPECT_EQ(rt::CStr(InfoAt(infos, rt::Variant("a"))->get_DefaultValue()), "x");
    EXPECT_EQ(InfoAt(infos, rt::Variant(2))->get_Name(), "B");
    EXPECT_TRUE(twice->get_EOF());
}

// ---- ApplyFieldDefaults ----

TEST_F(SampleAttributes, DefaultsReachTheDatabaseThroughANewRow) {
    auto dc = env_->OpenDataContext();
    auto infos = BuildFieldInfoCollection(Attributes("QTX_ATTRIBUTEINFO_OPTABLE", 21));
    auto rs = dc->OpenRecordset("SELECT * FROM VALVE_N WHERE QTX_FID = 9001");
    ASSERT_EQ(rs->get_RecordCount(), 0);
    rs->AddNew();
    rs->SetValue(rt::Variant("QTX_FNO"), rt::Variant(102));
    rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(9001));
    rs->SetValue(rt::Variant("QTX_CNO"), rt::Variant(21));
    rs->SetValue(rt::Variant("QTX_CID"), rt::Variant(1));
    ApplyFieldDefaults(rs, infos);
    rs->Update();

    int applied = 0;
    for (const rt::Variant& item : infos->Enumerate()) {
        auto info = std::dynamic_pointer_cast<FieldInfo>(item.Obj());
        SCOPED_TRACE(info->get_Name());
        rt::Variant value = rs->GetValue(rt::Variant(info->get_Name()));
        if (info->get_DefaultValue().IsNull()) {
            EXPECT_TRUE(value.IsNull());
        } else {
            EXPECT_EQ(rt::CStr(value), rt::CStr(info->get_DefaultValue()));
            ++applied;
        }
    }
    EXPECT_GE(applied, 2);

    dc->UpdateRecordset(rs, ado::adAffectAll);
    auto back = dc->OpenRecordset("SELECT * FROM VALVE_N WHERE QTX_FID = 9001");
    ASSERT_EQ(back->get_RecordCount(), 1);
    for (const rt::Variant& item : infos->Enumerate()) {
        auto info = std::dynamic_pointer_cast<FieldInfo>(item.Obj());
        SCOPED_TRACE(info->get_Name());
        rt::Variant stored = back->GetValue(rt::Variant(info->get_Name()));
        if (info->get_DefaultValue().IsNull())
            EXPECT_TRUE(stored.IsNull());
        else
            EXPECT_EQ(rt::CStr(stored), rt::CStr(info->get_DefaultValue()));
    }
}

TEST(ApplyFieldDefaults, WritesEmptyTextsButNotNullOrEmptyDefaults) {
    auto rows = AttributeRows({{"KEEP", 1, rt::Variant("before")}});
    rows->AddNew();
    rows->SetValue(rt::Variant("QTX_FIELD"), rt::Variant("before"));
    rows->SetValue(rt::Variant("DATA_DEFAULT"), rt::Variant("before"));
    rows->SetValue(rt::Variant("QTX_RELATIONIFACETYPE"), rt::Variant("before"));
    rows->SetValue(rt::Variant("QTX_ANO"), rt::Variant(5));

    auto infos = FieldInfoCollection::New();
    infos->Add(rt::Variant(Info("QTX_FIELD", rt::Variant(std::string()))), rt::Variant("QTX_FIELD"));
    infos->Add(rt::Variant(Info("DATA_DEFAULT", rt::Variant::Null())), rt::Variant("DATA_DEFAULT"));
    infos->Add(rt::Variant(Info("QTX_RELATIONIFACETYPE", rt::Variant())), rt::Variant("QTX_RELATIONIFACETYPE"));
    infos->Add(rt::Variant(Info("QTX_ANO", rt::Variant(42))), rt::Variant("QTX_ANO"));
    ApplyFieldDefaults(rows, infos);

    EXPECT_EQ(rt::CStr(rows->GetValue(rt::Variant("QTX_FIELD"))), "");
    EXPECT_EQ(rt::CStr(rows->GetValue(rt::Variant("DATA_DEFAULT"))), "before");
    EXPECT_EQ(rt::CStr(rows->GetValue(rt::Variant("QTX_RELATIONIFACETYPE"))), "before");
    EXPECT_EQ(rt::CLng(rows->GetValue(rt::Variant("QTX_ANO"))), 42);
}

TEST(ApplyFieldDefaults, EmptyCollectionChangesNothingAndUnknownFieldsFail) {
    auto rows = AttributeRows({{"A", 1, rt::Variant("x")}});
    rows->MoveFirst();
    ApplyFieldDefaults(rows, FieldInfoCollection::New());
    EXPECT_EQ(rows->get_EditMode(), ado::adEditNone);
    EXPECT_EQ(rt::CStr(rows->GetValue(rt::Variant("QTX_FIELD"))), "A");

    auto infos = FieldInfoCollection::New();
    infos->Add(rt::Variant(Info("NO_SUCH_FIELD", rt::Variant("x"))), rt::Variant("NO_SUCH_FIELD"));
    EXPECT_NE(ErrorOf([&] { ApplyFieldDefaults(rows, infos); }), 0);
    // A field without a default is not looked up at all.
    auto quiet = FieldInfoCollection::New();
    quiet->Add(rt::Variant(Info("NO_SUCH_FIELD", rt::Variant::Null())), rt::Variant("NO_SUCH_FIELD"));
    EXPECT_EQ(ErrorOf([&] { ApplyFieldDefaults(rows, quiet); }), 0);
    EXPECT_EQ(ErrorOf([&] { ApplyFieldDefaults(rows, nullptr); }), rt::vberr::ObjectVariableNotSet);
}
