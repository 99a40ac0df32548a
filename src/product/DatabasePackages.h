#pragma once
// The database packages: native procedures and functions registered by
// their "PACKAGE.NAME", called from "{call ...}" escapes and from anonymous
// blocks. Built in: QTXUTILITY (the value-list decoders) and
// QTX_GETSEQVAL.GETSEQVAL.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ado/Persist.h"
#include "runtime/Variant.h"

namespace product {

class SqliteConnection;

// Package state that lives as long as one session (one data context), as
// package variables do.
using PackageState = std::map<std::string, rt::Variant>;

// An argument written as a QTXUTILITY decoder call, handed over undecoded:
// the text the decoder would have been given and the decoder's kind.
struct UndecodedList {
    const rt::Variant* text = nullptr;  // nullptr: the argument is in args
    int kind = 0;                       // a ListReader::Kind
};

struct RoutineCall {
    SqliteConnection& db;
    PackageState& state;
    std::string name;               // "PACKAGE.NAME" as registered
    std::vector<rt::Variant> args;  // in values; a procedure writes its OUT arguments here
    // Rows a procedure hands back (as a ref cursor would).
    std::optional<ado::RecordsetImage> rows;
    // For a routine that reads its lists in place: per argument, the list
    // left undecoded (its args entry is then Empty). Valid during the call.
    std::vector<UndecodedList> lists;
};

struct Routine {
    enum Kind { Procedure, Function } kind = Procedure;
    int minArgs = 0;
    int maxArgs = 0;
    std::vector<bool> outArgs;  // per position: an OUT argument (a procedure writes it)
    // A procedure that reads the lists of its decoder-call arguments itself
    // (RoutineCall::lists), so that long lists are not decoded into arrays
    // first; it must read them as the decoders do.
    bool readsListsInPlace = false;
    // A function returns its value; a procedure returns Empty.
    std::function<rt::Variant(RoutineCall&)> body;
};

// The kind of list a QTXUTILITY decoder reads (a ListReader::Kind); -1 for
// any other routine name.
int ListDecoderKind(const std::string& routineName);

// A procedure of that many IN arguments.
Routine Procedure(int args, std::function<rt::Variant(RoutineCall&)> body);

class PackageRegistry {
public:
    // The registry every data context uses; the built-in packages are in it.
    static PackageRegistry& Global();

    // Registers (or replaces) a routine under "PACKAGE.NAME" (any case).
    void Register(const std::string& name, Routine routine);
    void Unregister(const std::string& name);
    // nullopt when no routine of that name is registered.
    std::optional<Routine> Find(const std::string& name) const;

    // A collection type a statement may cast a function's rows to: its name
    // and its attributes in order (the columns of the rows).
    void RegisterType(const std::string& name, std::vector<std::string> attributes);
    std::optional<std::vector<std::string>> FindType(const std::string& name) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, Routine> routines_;
    std::map<std::string, std::vector<std::string>> types_;
};

// Registers QTXUTILITY, QTX_GETSEQVAL, QTX_WORKOPERATIONS, QTX_VALIDATESET,
// QTX_VALIDATESET_PROD and QTX_CONTAINMENT_TRACE into a registry (Global does
// it).
void RegisterBuiltinPackages(PackageRegistry& registry);

// ---- the value-list encoding ----
// A list decodes to its values in order: numbers as Double, texts as String,
// dates as Date; an empty item is Null. Null or "" is the empty list.
// A malformed list raises ORA-06502 naming the position of the fault.

// Reads a list item by item in place, without building its values; the
// decoders below are made of it. The list must outlive the reader.
class ListReader {
public:
    enum Kind { Numeric, String, Date };
    ListReader(const rt::Variant& list, Kind kind);
    // Moves to the next item; false after the last. A malformed item raises.
    // The usual items are read here in one pass (a number of at most 15
    // digits ended by ";", a short ASCII text after its length), the rest by
    // the general steps.
    bool Next() {
        if (!list_ || pos_ >= list_->size()) return false;
        ++item_;
        null_ = false;
        const char* const begin = list_->data() + pos_;
        const char* const end = list_->data() + list_->size();
        if (kind_ == Numeric) {
            const char* p = begin + (*begin == '-' ? 1 : 0);
            int64_t n = 0;
            int digits = 0;
            for (; p < end && *p >= '0' && *p <= '9' && digits < 15; ++p, ++digits) n = n * 10 + (*p - '0');
            if (digits > 0 && p < end && *p == ';') {
                number_ = static_cast<double>(n);
                if (*begin == '-') number_ = -number_;
                pos_ = static_cast<size_t>(p + 1 - list_->data());
                return true;
            }
        } else if (kind_ == String) {
            const char* p = begin;
            size_t length = 0;
            for (; p < end && *p >= '0' && *p <= '9' && p - begin < 6; ++p)
                length = length * 10 + static_cast<size_t>(*p - '0');
            if (p > begin && p < end && *p == ':' && length > 0 && length <= static_cast<size_t>(end - p - 1)) {
                const char* text = p + 1;
                const char* q = text;
                while (q < text + length && static_cast<unsigned char>(*q) < 0x80) ++q;
                if (q == text + length) {
                    text_ = std::string_view(text, length);
                    pos_ = static_cast<size_t>(q - list_->data());
                    return true;
                }
            }
        }
        return NextSlow();
    }
    size_t Item() const { return item_; }  // from 1
    bool IsNull() const { return null_; }
    double Number() const { return number_; }      // Numeric and Date (an OLE date)
    std::string_view Text() const { return text_; }  // String
    // The item as its decoder gives it.
    rt::Variant Value() const;

private:
    bool NextSlow();
    const std::string* list_ = nullptr;  // nullptr: the empty list
    Kind kind_;
    size_t pos_ = 0;
    size_t item_ = 0;
    bool null_ = false;
    double number_ = 0;
    std::string_view text_;
};

std::vector<rt::Variant> DecodeNumericList(const rt::Variant& list);
std::vector<rt::Variant> DecodeStringList(const rt::Variant& list);
std::vector<rt::Variant> DecodeDateList(const rt::Variant& list);

// A decoded list as it travels between routines: a Variant array from 1.
rt::Variant ListValue(const std::vector<rt::Variant>& values);
rt::Variant ListValue(std::vector<rt::Variant>&& values);

// A feature as the packages name it.
struct FeatureKey {
    int64_t fno = 0;
    int64_t fid = 0;
    bool operator==(const FeatureKey&) const = default;
};

// Features in the order first given, each once.
class FeatureKeyList {
public:
    // False when the feature is there already.
    bool Add(const FeatureKey& key);
    void Append(const FeatureKeyList& other);
    // Takes other's features, leaving it empty.
    void Append(FeatureKeyList&& other);
    void Clear();
    // Keeps the first count features, as they were before the later ones came.
    void Truncate(size_t count);
    size_t Size() const { return keys_.size(); }
    bool Empty() const { return keys_.empty(); }
    const std::vector<FeatureKey>& Keys() const { return keys_; }

private:
    // Open addressing over positions in keys_ (0: free, else position + 1):
    // a save notes tens of thousands of features, one allocation per
    // feature would cost more than the noting.
    void Grow();
    size_t Slot(const FeatureKey& key) const;
    std::vector<FeatureKey> keys_;
    std::vector<uint32_t> slots_;
};

// A key as a decoded list holds it (a Double, or an Integer, Long or
// Single): its whole value; nullopt for anything else (Null, a text, a
// fraction, beyond 9e15).
std::optional<int64_t> WholeNumberOf(const rt::Variant& value);

// Raises Oracle's "wrong number or types of arguments" for a routine.
[[noreturn]] void RaiseWrongArguments(const std::string& routine, const std::string& detail);

}  // namespace product
