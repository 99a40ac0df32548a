#include <gtest/gtest.h>

#include "runtime/Variant.h"

using namespace rt;

TEST(VariantBasics, ArraysKeepBoundsAndCopyOnWrite) {
    Variant a = Variant::MakeArray(vbVariant, 1, 3);
    Variant b = a;
    b.ArrayMut()->Data()[0] = Variant(int32_t{7});
    EXPECT_TRUE(a.Array()->Data()[0].IsEmpty());
    EXPECT_EQ(LBound(a), 1);
    EXPECT_EQ(UBound(a), 3);
    Variant u = Variant::UnallocatedArray(vbString);
    EXPECT_THROW(UBound(u), ComError);
    EXPECT_EQ(TypeName(u), "String()");
}
