#pragma once
// What the sample's extension objects share: the journal, argument and
// value reading, the arrays findings go back in, the geometry check of the
// relationship geometry interfaces, and one registration function per kind.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SampleExtensions.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {
class IDataContext;
class IKeyObject;
}  // namespace pelmora

namespace pelmora_sample {

void Record(InterfaceCall call);
// Whether Record keeps what it is given (notes are worth making only then).
bool KeepsInterfaceCalls();

// The elements of an argument list as the hosts hand it (an array of any
// lower bound, Null, Empty, or the interface support object's converted
// array), in order; Null elements as "".
std::vector<std::string> ArgumentTexts(const rt::Variant& arguments);
// What a converted value stands for (the object itself when it is not one).
rt::Variant Unconverted(const rt::ObjectPtr& converted);

// A zero-based String array of the texts; one "" element when there are
// none, which every host reads as "no finding".
rt::Variant TextArray(const std::vector<std::string>& texts);

// A finding: its priority text and message.
using Finding = std::pair<std::string, std::string>;
// Writes findings into two arrays as TextArray does.
void PutFindings(const std::vector<Finding>& findings, rt::Variant& priorities, rt::Variant& messages);

// The check the relationship geometry interfaces share: each related
// feature of relatedFNO (0: any) must meet the active feature within
// tolerance, its geometries of component relatedCNO (0: every geometric
// component) against the active feature's of activeCNO (0: likewise), by
// end points or by touching. A feature met nowhere gives the system's "not
// connected" finding, headed by the reporter's name. Features without
// components are opened first.
std::vector<Finding> UnconnectedFeatures(const std::shared_ptr<pelmora::IDataContext>& dataContext,
                                         const std::shared_ptr<pelmora::IKeyObject>& active, int16_t activeCNO,
                                         const std::vector<std::shared_ptr<pelmora::IKeyObject>>& related,
                                         int16_t relatedFNO, int16_t relatedCNO, double tolerance,
                                         const std::string& reporter);

// "AddNew", "SetValue", "Edit", "Update" for the numbers hosted interfaces
// get, else the number.
std::string FunctionalTypeText(int32_t type);

// The field an attribute number names (QTX_ATTRIBUTEINFO_OPTABLE); "" when
// none.
std::string AttributeField(const std::shared_ptr<pelmora::IDataContext>& dataContext, int32_t ano);

// Registration that UnregisterSampleExtensions can undo: a ProgID with the
// class registry, a name with ":" with the interface support object.
void RegisterProgId(const std::string& progId, std::function<rt::ObjectPtr()> factory);
void RegisterName(const std::string& name, std::function<rt::ObjectPtr()> factory);

void RegisterFunctionalInterfaces();
void RegisterGeometryInterfaces();
void RegisterValidationInterfaces();
void LoadProjects();

// The faces of the VBA projects' entry objects, made by the file of their kind.
rt::ObjectPtr NewProjectFunctionalInterface();
rt::ObjectPtr NewProjectEditControl();
rt::ObjectPtr NewProjectGeometryInterface();
rt::ObjectPtr NewProjectValidationInterface();

}  // namespace pelmora_sample
