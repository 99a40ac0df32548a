// The framework's component view of an opened feature, as attribute
// validation reads a related field from it.
#include "FeatureAssemblyTestSupport.h"

#include "product/DesktopApplication.h"
#include "product/framework/ComponentViewPipe.h"
#include "product/framework/FrameworkRecordset.h"

using featuretest::FeatureAssemblyFixture;

TEST_F(FeatureAssemblyFixture, ComponentViewShowsTheChosenAndTheOtherAttributeComponentsNoGeometry) {
    auto valve = service_->OpenFeature(102, 2001);
    ASSERT_TRUE(valve);
    product::DesktopApplication app;
    auto pipe = std::make_shared<product::ComponentViewPipe>();
    pipe->putref_Connection(app.AddConnection("QTX.GDatabase", 1, Context()));
    pipe->putref_Components(valve->get_Components());
    pipe->put_FNO(102);
    pipe->put_CNO(21);
    auto view = std::dynamic_pointer_cast<product::FrameworkRecordset>(pipe->get_OutputRecordset());
    ASSERT_TRUE(view);
    auto value = [&](const char* name) { return view->Value(view->FieldIndex(name)); };
    EXPECT_EQ(rt::CStr(value("VALVE_TYPE")), "GATE");
    EXPECT_EQ(rt::CLng(value("QTX_CNO")), 21) << "the chosen component's value comes first";
    EXPECT_EQ(rt::CStr(value("LOCATION")), "Harbour Road / Quay St") << "the common attributes join";
    EXPECT_EQ(view->FieldIndex("SYMBOL_ROTATION"), -1) << "the valve symbol is a geometry component";
}
