// The link from a component to its collection: it answers the collection
// while the collection lives, and nothing once it is gone; it keeps nothing
// alive.
#include "ComponentTestSupport.h"

#include "pelmora/features/BackwardPointer.h"
#include "pelmora/features/Components.h"

using componenttest::ComponentFixture;
using pelmora::BackwardPointer;
using pelmora::Component;
using pelmora::Components;

namespace {

class FixedParent : public pelmora::BackwardPointerEvents {
public:
    explicit FixedParent(std::shared_ptr<pelmora::IComponents> parent) : parent_(std::move(parent)) {}
    void NeedParent(std::shared_ptr<pelmora::IComponents>& oParent) override { oParent = parent_; }

private:
    std::shared_ptr<pelmora::IComponents> parent_;
};

}  // namespace

TEST(BackwardPointer, AnswersItsListenerWhileItLives) {
    BackwardPointer pointer;
    EXPECT_FALSE(pointer.GetParent());
    auto collection = std::make_shared<Components>();
    auto listener = std::make_shared<FixedParent>(collection);
    pointer.Advise(listener);
    EXPECT_EQ(pointer.GetParent(), collection);
    listener.reset();  // held weakly
    EXPECT_FALSE(pointer.GetParent());
}

TEST_F(ComponentFixture, ComponentsOutliveTheirCollectionWithoutACycle) {
    std::weak_ptr<Components> collectionGone;
    std::weak_ptr<BackwardPointer> pointerGone;
    std::weak_ptr<pelmora::IComponent> siblingGone;
    std::shared_ptr<pelmora::IComponent> kept;
    {
        auto components = std::make_shared<Components>();
        components->putref_DataContext(Context());
        components->AddComponentByCNO(11, rt::Variant(int32_t{1001}));
        components->AddComponentByCNO(12, rt::Variant(int32_t{1001}));
        kept = components->GetComponent(11);
        siblingGone = components->GetComponent(12);
        kept->get_Recordset();
        auto component = rt::QueryInterface<Component>(kept);
        pointerGone = component->get_BackwardPointer();
        // Every component of the collection shares its one pointer.
        EXPECT_EQ(pointerGone.lock(), rt::QueryInterface<Component>(siblingGone.lock())->get_BackwardPointer());
        EXPECT_EQ(rt::ObjectPtrOf(component->OwningCollection()), rt::ObjectPtrOf(components));
        collectionGone = components;
    }
    EXPECT_TRUE(collectionGone.expired());
    EXPECT_TRUE(siblingGone.expired());
    auto component = rt::QueryInterface<Component>(kept);
    ASSERT_TRUE(component->get_BackwardPointer());
    EXPECT_FALSE(component->OwningCollection());
    EXPECT_FALSE(component->get_BackwardPointer()->GetParent());
    // The component still works on its own.
    EXPECT_EQ(component->get_Recordset()->get_RecordCount(), 1);
    kept.reset();
    component.reset();
    EXPECT_TRUE(pointerGone.expired());
}
