#pragma once
// The findings of a validation run and their texts.
//
// Every finding is one row of a ValidationErrorRecordset: a fabricated,
// disconnected recordset of eight fields, which the feature validation
// service creates for a run and hands back to its client, and which the
// relationship service passes to every relationship helper. The routines
// below are the only ones that add rows, and all of them end in
// AddValidationError, which addresses the fields by position: any recordset
// given to them must have the layout CreateValidationRecordset makes.
//
// Module routines without state of their own; the only shared state is the
// apartment's message object, created on first use. Caller's thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

// Message ids of the two default priorities of a relationship finding.
inline constexpr int16_t kErrorPriorityMessage = 15734;
inline constexpr int16_t kWarningPriorityMessage = 15737;

// A new, open, empty ValidationErrorRecordset: "ErrorPriority",
// "ErrorDescription", "ErrorLocation", "Connection" (texts of 500) and
// "QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID" (Longs), in this order.
std::shared_ptr<ado::Recordset> CreateValidationRecordset();

// Appends one row. The four texts are stored as given (also when empty); each
// key is written from its decimal text and stays Null when the text is "".
// A failure (a key that is no number, a recordset of another layout) cancels
// the new row before it reaches the caller: no half-filled row is left
// pending for the next AddNew to commit.
void AddValidationError(const std::shared_ptr<ado::Recordset>& rs, const std::string& Priority,
                        const std::string& Description, const std::string& Location,
                        const std::string& Connection, const std::string& FNO, const std::string& FID,
                        const std::string& CNO, const std::string& CID);

// One finding of a relationship helper. Kind 5 records nothing and looks up
// nothing; Kind 0 takes MsgIdB and, when Priority is Missing, the text of
// message 15737 as priority; any other Kind takes MsgIdA and 15734. The
// names up to the last non-empty one are the message's parameters (none: the
// plain text). Priority given as "" records an empty priority. Always fifteen
// arguments: pass rt::Variant::Missing() for the default priority.
void AddRelationshipValidationError(int16_t MsgIdA, int16_t MsgIdB, int32_t Kind, const std::string& Location,
                                    const std::string& Connection, const std::string& FNO,
                                    const std::string& FID, const std::string& CNO, const std::string& CID,
                                    const std::shared_ptr<ado::Recordset>& rs, const rt::Variant& Priority,
                                    const std::string& Name1, const std::string& Name2, const std::string& Name3,
                                    const std::string& Name4);

// The text of a message id: without Arg1 the template as the message object
// holds it (placeholders unfilled); with Arg1 the template filled with the
// arguments as texts, a Missing one as "". Failures reach the caller.
std::string GetValidationMessage(int16_t MsgId, const rt::Variant& Arg1 = rt::Variant::Missing(),
                                 const rt::Variant& Arg2 = rt::Variant::Missing(),
                                 const rt::Variant& Arg3 = rt::Variant::Missing(),
                                 const rt::Variant& Arg4 = rt::Variant::Missing(),
                                 const rt::Variant& Arg5 = rt::Variant::Missing());

// Copies the failures a functional validation interface returned (two
// parallel arrays of priorities and descriptions) into rows keyed by the
// current row of ComponentRecordset. Only the indices both arrays have are
// read; an index with an empty description is no failure. Empty or Null
// arrays mean no failures. Every failure while copying is ignored, step by
// step (a key that cannot be read stays Null). A PriorityArray that is
// neither an array nor Empty/Null raises 9 and adds nothing.
void AddErrorArraysToRecordset(const std::shared_ptr<ado::Recordset>& ComponentRecordset,
                               const std::shared_ptr<ado::Recordset>& rs, const rt::Variant& PriorityArray,
                               const rt::Variant& ErrArray, const std::string& Location,
                               const std::string& Connection);

// ---- inside the validation folder: reading ValidationErrorArrays ----
// The indices [first, last] that two parallel one-dimensional arrays share;
// none (first > last) when either is no dimensioned array.
struct SharedBounds {
    int32_t first = 0;
    int32_t last = -1;
};
SharedBounds SharedArrayBounds(const rt::Variant& a, const rt::Variant& b);
// Element i as text; "" for Empty and Null. Raises 9 outside the bounds.
std::string ArrayElementText(const rt::Variant& array, int32_t i);

}  // namespace pelmora
