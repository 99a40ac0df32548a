// A value the work-operation lists refuse during a save is reported with its
// feature, component and field, under the walkers' own error numbers, and
// nothing reaches the database.
#include <limits>

#include "PersistenceFixture.h"
#include "support/Raises.h"

using persistencetest::PersistenceFixture;
using rt::Variant;

namespace {

class SaveRefusals : public PersistenceFixture {};

}  // namespace

TEST_F(SaveRefusals, ARefusedValueNamesItsFeatureComponentAndField) {
    struct Case {
        const char* what;
        int16_t cno;
        int32_t fid;
        const char* field;
        Variant value;
        bool added;          // in a new row, else a changed one
        int32_t listLength;  // 0: as it stands
        int32_t inner;       // the refusal's own number; 0: the full list's
    };
    const double huge = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"a number with no text", 11, 1002, "DIAMETER", Variant(huge), false, 0, rt::vberr::Overflow},
        {"a date out of range", 1, 1001, "INSTALL_DATE", Variant::Date(1e12), false, 0, rt::vberr::Overflow},
        {"a text that is not UTF-8", 1, 1001, "LOCATION", Variant(std::string("Mill \xff\xfe")), false, 0,
         rt::vberr::InvalidProcedureCall},
        {"a text cut inside a character", 14, 1001, "LINING_TYPE", Variant(std::string("EPOXY \xc3")), true, 0,
         rt::vberr::InvalidProcedureCall},
        {"a text longer than an empty list", 1, 1001, "LOCATION", Variant(std::string(60, 'x')), false, 20, 0},
    };
    for (const Case& c : cases) {
        if (c.listLength) pelmora::SetMaxListLength(c.listLength);
        auto component = NewComponent(c.cno, {c.fid});
        auto rs = component->get_Recordset();
        rs->MoveFirst();
        if (c.added) {
            const Variant cid = Variant(rt::CLng(rs->GetValue(Variant("QTX_CID"))) + 10);
            const Variant keys[] = {rs->GetValue(Variant("QTX_FNO")), rs->GetValue(Variant("QTX_FID")),
                                    rs->GetValue(Variant("QTX_CNO"))};
            rs->AddNew();
            rs->SetValue(Variant("QTX_FNO"), keys[0]);
            rs->SetValue(Variant("QTX_FID"), keys[1]);
            rs->SetValue(Variant("QTX_CNO"), keys[2]);
            rs->SetValue(Variant("QTX_CID"), cid);
        }
        const std::string fno = rt::CStr(rs->GetValue(Variant("QTX_FNO")));
        rs->SetValue(Variant(c.field), c.value);
        rs->Update();

        const rt::ComError e = pelmora_test::Raised([&] { Save({component}); });
        EXPECT_EQ(e.Number(), Err(23287)) << c.what;
        const std::string& text = e.Description();
        EXPECT_NE(text.find(std::to_string(Err(c.added ? 23289 : 23290)) + " - "), std::string::npos) << c.what;
        const std::string inner = c.inner ? "\r\n" + std::to_string(c.inner) + " - " : Message(25041);
        EXPECT_NE(text.find(inner), std::string::npos) << text;
        EXPECT_NE(text.find("Field " + std::string(c.field) + " of component " + component->get_Name() +
                            ", feature FNO " + fno + " FID " + std::to_string(c.fid) + "."),
                  std::string::npos)
            << text;
        EXPECT_TRUE(dc_->commands.empty()) << c.what;
        pelmora::SetMaxListLength(30000);
    }
}
