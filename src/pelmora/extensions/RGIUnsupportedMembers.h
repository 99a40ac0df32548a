#pragma once
// The members of RelationshipGeometryInterface that neither the host nor the
// bridge serves: each tells the user so (how is the class's choice), ignores
// its arguments and answers False where a result is due.
#include "interfaces/RelationshipGeometry.h"

namespace pelmora {

inline constexpr const char* kRGICallNotSupportedText = "Call not supported. Look it up in PELMORA";

class RGIUnsupportedMembers : public RelationshipGeometryInterface {
public:
    void FilterCandidates(const rt::ObjectPtr&, rt::Variant&, rt::Variant&, rt::Variant&, rt::Variant&) override {
        NotSupported();
    }
    void BeforeEstablish(const rt::ObjectPtr&, rt::Variant&, rt::Variant&, const rt::ObjectPtr&,
                         rt::Variant&) override {
        NotSupported();
    }
    void AfterEstablish(const rt::ObjectPtr&) override { NotSupported(); }
    bool AdjustGeometry(const rt::ObjectPtr&, rt::Variant&, rt::Variant&, const rt::ObjectPtr&) override {
        return NotSupported(), false;
    }
    bool AllowDeleteRelationship(const rt::ObjectPtr&, rt::Variant&, rt::Variant&, rt::Variant&,
                                 const rt::ObjectPtr&) override {
        return NotSupported(), false;
    }
    void BeforeDeleteRelationship(const rt::ObjectPtr&, rt::Variant&, rt::Variant&, rt::Variant&,
                                  const rt::ObjectPtr&) override {
        NotSupported();
    }
    void AfterDeleteRelationship(const rt::ObjectPtr&) override { NotSupported(); }
    void BeforeUpdate(const rt::ObjectPtr&) override { NotSupported(); }
    void AfterUpdate(const rt::ObjectPtr&) override { NotSupported(); }
    bool ApproveMerge(const rt::ObjectPtr&, rt::Variant&) override { return NotSupported(), false; }
    bool AllowMerge(const rt::ObjectPtr&, rt::Variant&) override { return NotSupported(), false; }
    void FilterLocatedCandidates(const rt::ObjectPtr&, rt::Variant&, rt::Variant&, rt::Variant&,
                                 const rt::ObjectPtr&, const rt::ObjectPtr&, rt::Variant&) override {
        NotSupported();
    }

protected:
    // Shows the text kRGICallNotSupportedText; never fails.
    virtual void NotSupported() = 0;
};

}  // namespace pelmora
