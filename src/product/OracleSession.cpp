#include "product/OracleSession.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "runtime/Vb.h"

namespace product {

namespace {

std::string Shown(const std::string& text) {
    return " in \"" + (text.size() > 2000 ? text.substr(0, 2000) + "..." : text) + "\"";
}

int Utf16Length(const std::string& s) {
    int n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) n += c >= 0xF0 ? 2 : 1;
    return n;
}

// Oracle's predefined exceptions the handlers may name.
int PredefinedCode(const std::string& name) {
    static const std::map<std::string, int> kCodes = {
        {"NO_DATA_FOUND", 1403}, {"DUP_VAL_ON_INDEX", 1},   {"VALUE_ERROR", 6502},
        {"INVALID_NUMBER", 1722}, {"TOO_MANY_ROWS", 1422}, {"ZERO_DIVIDE", 1476},
    };
    auto it = kCodes.find(name);
    return it == kCodes.end() ? 0 : it->second;
}

// A value written into SQL text as a literal.
std::string SqlLiteral(const rt::Variant& v, const std::string& text) {
    if (v.IsNull() || v.IsEmpty()) return "NULL";
    if (v.IsString()) {
        std::string out = "'";
        for (char c : v.Str()) out += c == '\'' ? std::string("''") : std::string(1, c);
        return out + "'";
    }
    if (rt::IsNumeric(v) && !v.IsString()) {
        if (auto whole = WholeNumberOf(v)) return std::to_string(*whole);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", rt::CDbl(v));
        return buf;
    }
    RaiseOra(932, "inconsistent datatypes: a package function in a statement returned a " + rt::TypeName(v) +
                      Shown(text));
}

std::string JsonValue(const rt::Variant& v, const std::string& text) {
    if (v.IsNull() || v.IsEmpty()) return "null";
    if (v.IsString()) {
        std::string out = "\"";
        for (unsigned char c : v.Str()) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
        return out + "\"";
    }
    if (v.Type() == rt::vbDecimal) return std::to_string(rt::DecimalRoundToInt64(v.Dec()));
    return SqlLiteral(v, text);
}

// The rows of a collection as a subquery whose columns are the attributes of
// the type it is cast to.
std::string CollectionSubquery(const ado::RecordsetImage& rows, const std::string& typeName,
                               const std::string& text, const PackageRegistry& registry) {
    auto attributes = registry.FindType(typeName);
    if (!attributes) RaiseOra(902, "invalid datatype: the type " + typeName + " is not declared" + Shown(text));
    if (attributes->size() != rows.fields.size())
        RaiseOra(932, "inconsistent datatypes: the collection does not cast to " + typeName + Shown(text));
    for (size_t f = 0; f < rows.fields.size(); ++f)
        if (UpperAscii(rows.fields[f].name) != UpperAscii((*attributes)[f]))
            RaiseOra(932, "inconsistent datatypes: the collection does not cast to " + typeName + Shown(text));
    std::string json = "[";
    const size_t width = rows.fields.size();
    for (size_t r = 0; r < rows.RowCount(); ++r) {
        json += r ? ",[" : "[";
        for (size_t f = 0; f < width; ++f) json += (f ? "," : "") + JsonValue(rows.values[r * width + f], text);
        json += "]";
    }
    json += "]";
    std::string columns;
    for (size_t f = 0; f < width; ++f)
        columns += (f ? ", " : "") + std::string("json_extract(value, '$[") + std::to_string(f) + "]') AS " +
                   (*attributes)[f];
    return "(SELECT " + columns + " FROM json_each(" + SqlLiteral(rt::Variant(json), text) + "))";
}

// An exception the block raised by name.
class UserException : public DatabaseError {
public:
    UserException(const void* owner, const std::string& name, int oraCode)
        : DatabaseError(oraCode == 0 ? 6510 : oraCode,
                        oraCode == 0 ? "PL/SQL: unhandled user-defined exception " + name
                                     : "user-defined exception " + name),
          owner_(owner),
          name_(name) {}
    const void* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }

private:
    const void* owner_;
    std::string name_;
};

}  // namespace

struct OracleSession::Scope {
    const Scope* parent = nullptr;
    const Block* block = nullptr;
    // The declaration a name refers to: its block and entry, or nullptr.
    const Block::Declared* Resolve(const std::string& name, const Block** owner) const {
        for (const Scope* s = this; s; s = s->parent)
            for (const auto& d : s->block->exceptions)
                if (d.name == name) {
                    *owner = s->block;
                    return &d;
                }
        return nullptr;
    }
};

struct OracleSession::Raised {
    std::exception_ptr error;
};

// One execution of one text.
class OracleSession::Run {
public:
    Run(OracleSession& session, const std::string& text, std::vector<BoundValue>& params)
        : s_(session), text_(text), params_(params) {}

    // ---- checks made before anything runs, as Oracle compiles a block ----
    void CheckBlock(const Block& b, const Scope* parent, bool inHandler) {
        Scope scope{parent, &b};
        CheckStatements(b.body, scope, inHandler);
        for (const auto& h : b.handlers) {
            for (const auto& name : h.names) {
                const Block* owner = nullptr;
                if (!scope.Resolve(name, &owner) && PredefinedCode(name) == 0)
                    RaiseOra(6550, "PLS-00201: identifier '" + name + "' must be declared" + Shown(text_));
            }
            CheckStatements(h.body, scope, true);
        }
    }

    void CheckStatements(const std::vector<BlockStatement>& body, const Scope& scope, bool inHandler) {
        for (const auto& st : body) {
            switch (st.kind) {
                case BlockStatement::Raise:
                    if (st.name.empty()) {
                        if (!inHandler)
                            RaiseOra(6550, "PLS-00367: a RAISE statement with no exception name must be inside "
                                           "an exception handler" + Shown(text_));
                    } else {
                        const Block* owner = nullptr;
                        if (!scope.Resolve(st.name, &owner) && PredefinedCode(st.name) == 0)
                            RaiseOra(6550, "PLS-00201: identifier '" + st.name + "' must be declared" + Shown(text_));
                    }
                    break;
                case BlockStatement::Call:
                    CheckCall(st.call.name, st.call.args, Routine::Procedure);
                    break;
                case BlockStatement::Nested:
                    CheckBlock(*st.nested, &scope, inHandler);
                    break;
                default:
                    break;
            }
        }
    }

    Routine CheckCall(const std::string& name, const std::vector<Expr>& args, Routine::Kind expected) {
        auto routine = s_.registry_.Find(name);
        if (!routine) RaiseOra(6550, "PLS-00201: identifier '" + name + "' must be declared" + Shown(text_));
        if (routine->kind != expected) {
            if (expected == Routine::Procedure)
                RaiseOra(6550, "PLS-00221: '" + name + "' is not a procedure or is undefined" + Shown(text_));
            RaiseOra(6550, "PLS-00222: no function with name '" + name + "' exists in this scope" + Shown(text_));
        }
        int n = static_cast<int>(args.size());
        if (n < routine->minArgs || n > routine->maxArgs)
            RaiseWrongArguments(name, std::to_string(n) + " arguments given, " +
                                          (routine->minArgs == routine->maxArgs
                                               ? std::to_string(routine->minArgs)
                                               : std::to_string(routine->minArgs) + " to " +
                                                     std::to_string(routine->maxArgs)) +
                                          " expected" + Shown(text_));
        for (size_t k = 0; k < args.size(); ++k) {
            bool out = k < routine->outArgs.size() && routine->outArgs[k];
            if (out && args[k].kind != Expr::Marker)
                RaiseOra(6550, "PLS-00363: expression cannot be used as an assignment target: argument " +
                                   std::to_string(k + 1) + " of '" + name + "'" + Shown(text_));
            if (args[k].kind == Expr::Call) CheckCall(args[k].name, args[k].args, Routine::Function);
        }
        return *routine;
    }

    // ---- execution ----
    rt::Variant Evaluate(const Expr& e) {
        switch (e.kind) {
            case Expr::Marker: return params_[static_cast<size_t>(e.marker)].value;
            case Expr::Null: return rt::Variant::Null();
            case Expr::String: return e.text.empty() ? rt::Variant::Null() : rt::Variant(e.text);  // '' is Null
            case Expr::Number: return rt::Variant(std::strtod(e.text.c_str(), nullptr));
            case Expr::Call: {
                RoutineCall call{s_.db_, s_.state_, e.name, {}, std::nullopt, {}};
                for (const auto& a : e.args) call.args.push_back(Evaluate(a));
                Routine r = CheckCall(e.name, e.args, Routine::Function);
                return r.body(call);
            }
        }
        return rt::Variant();
    }

    // The rows of a function that returns a collection.
    ado::RecordsetImage EvaluateCollection(const std::string& name, const std::vector<Expr>& args) {
        Routine r = CheckCall(name, args, Routine::Function);
        RoutineCall call{s_.db_, s_.state_, name, {}, std::nullopt, {}};
        for (const auto& a : args) call.args.push_back(Evaluate(a));
        r.body(call);
        if (!call.rows)
            RaiseOra(932, "inconsistent datatypes: '" + name + "' returns no collection" + Shown(text_));
        return std::move(*call.rows);
    }

    std::optional<ado::RecordsetImage> CallProcedure(const ProcCall& pc) {
        Routine r = CheckCall(pc.name, pc.args, Routine::Procedure);
        RoutineCall call{s_.db_, s_.state_, pc.name, {}, std::nullopt, {}};
        // Texts of lists left undecoded that are no bound value.
        std::vector<rt::Variant> held;
        if (r.readsListsInPlace) {
            call.lists.resize(pc.args.size());
            held.reserve(pc.args.size());
        }
        for (size_t k = 0; k < pc.args.size(); ++k) {
            const Expr& a = pc.args[k];
            const int kind = r.readsListsInPlace && a.kind == Expr::Call && a.args.size() == 1 ? ListDecoderKind(a.name) : -1;
            if (kind < 0) {
                call.args.push_back(Evaluate(a));
                continue;
            }
            const Expr& list = a.args[0];
            if (list.kind == Expr::Marker) {
                call.lists[k].text = &params_[static_cast<size_t>(list.marker)].value;
            } else {
                held.push_back(Evaluate(list));
                call.lists[k].text = &held.back();
            }
            call.lists[k].kind = kind;
            call.args.emplace_back();
        }
        r.body(call);
        for (size_t k = 0; k < pc.args.size(); ++k) {
            if (k >= r.outArgs.size() || !r.outArgs[k]) continue;
            BoundValue& target = params_[static_cast<size_t>(pc.args[k].marker)];
            if (!target.output)
                RaiseOra(6577, "output parameter not a bind variable: argument " + std::to_string(k + 1) + " of '" +
                                   pc.name + "' is bound to an input value" + Shown(text_));
            const rt::Variant& v = call.args[k];
            if (target.size > 0 && v.IsString() && Utf16Length(v.Str()) > target.size)
                RaiseOra(6502, "PL/SQL: numeric or value error: character string buffer too small (" +
                                   std::to_string(Utf16Length(v.Str())) + " characters for room of " +
                                   std::to_string(target.size) + ") in argument " + std::to_string(k + 1) +
                                   " of '" + pc.name + "'");
            target.value = v;
        }
        return std::move(call.rows);
    }

    void RunBlock(const Block& b, const Scope* parent, const Raised* current) {
        Scope scope{parent, &b};
        try {
            RunStatements(b.body, scope, current);
        } catch (const rt::ComError&) {
            Raised raised{std::current_exception()};
            const ExceptionHandler* handler = FindHandler(b, scope, raised);
            if (!handler) throw;
            try {
                RunStatements(handler->body, scope, &raised);
            } catch (const DatabaseError& e) {
                // Nothing the handler does can run once the failure it handles
                // ended the transaction: that failure is the one to report.
                if (e.OraCode() == 2091) std::rethrow_exception(raised.error);
                throw;
            }
            // Nor can a handler that ends quietly (NULL) hide it.
            if (s_.db_.TransactionLost()) std::rethrow_exception(raised.error);
        }
    }

    const ExceptionHandler* FindHandler(const Block& b, const Scope& scope, const Raised& raised) {
        int oraCode = 0;
        bool user = false;
        try {
            std::rethrow_exception(raised.error);
        } catch (const UserException& e) {
            oraCode = e.OraCode();
            userName_ = e.Name();
            userOwner_ = e.Owner();
            user = true;
        } catch (const DatabaseError& e) {
            oraCode = e.OraCode();
        } catch (const rt::ComError&) {
        }
        for (const auto& h : b.handlers) {
            if (h.names.empty()) return &h;  // OTHERS
            for (const auto& name : h.names) {
                const Block* owner = nullptr;
                const Block::Declared* d = scope.Resolve(name, &owner);
                if (d) {
                    if (d->sqlCode != 0 && oraCode == -d->sqlCode) return &h;
                    if (d->sqlCode == 0 && user && userOwner_ == owner && userName_ == name) return &h;
                } else if (int code = PredefinedCode(name); code != 0 && oraCode == code) {
                    return &h;
                }
            }
        }
        return nullptr;
    }

    void RunStatements(const std::vector<BlockStatement>& body, const Scope& scope, const Raised* current) {
        for (const auto& st : body) {
            switch (st.kind) {
                case BlockStatement::Null:
                    break;
                case BlockStatement::Savepoint:
                    s_.db_.Savepoint(st.name);
                    s_.userSavepointSet_ = true;
                    break;
                case BlockStatement::RollbackTo:
                    s_.db_.RollbackTo(st.name);
                    break;
                case BlockStatement::Raise: {
                    if (st.name.empty()) std::rethrow_exception(current->error);
                    const Block* owner = nullptr;
                    const Block::Declared* d = scope.Resolve(st.name, &owner);
                    int code = d ? -d->sqlCode : PredefinedCode(st.name);
                    throw UserException(owner, st.name, code);
                }
                case BlockStatement::Call: {
                    auto rows = CallProcedure(st.call);
                    if (rows) rows_ = std::move(rows);
                    break;
                }
                case BlockStatement::Nested:
                    RunBlock(*st.nested, &scope, current);
                    break;
            }
        }
    }

    std::optional<ado::RecordsetImage> TakeRows() { return std::move(rows_); }

private:
    OracleSession& s_;
    const std::string& text_;
    std::vector<BoundValue>& params_;
    std::optional<ado::RecordsetImage> rows_;
    std::string userName_;
    const void* userOwner_ = nullptr;
};

OracleSession::OracleSession(SqliteConnection& db, PackageRegistry& registry) : db_(db), registry_(registry) {}

template <class F>
void OracleSession::Atomically(F&& body) {
    // Of its own, so that no savepoint a caller names is ever taken for it.
    const std::string sp = db_.OwnSavepoint("PELMORA_CALL");
    bool outer = userSavepointSet_;
    userSavepointSet_ = false;
    try {
        body();
    } catch (...) {
        try {
            // Gone already when the block rolled back to a savepoint set before it.
            db_.RollbackToOwn(sp);
            db_.ReleaseOwn(sp);
        } catch (const rt::ComError&) {
        }
        userSavepointSet_ = outer;
        throw;
    }
    // A savepoint the block set must outlive it, and releasing ours would
    // release it too.
    if (!userSavepointSet_) {
        try {
            db_.ReleaseOwn(sp);
        } catch (const DatabaseError& e) {
            // A rollback to an older savepoint inside the block cancelled ours.
            if (e.OraCode() != 1086) throw;
        }
    }
    userSavepointSet_ = outer || userSavepointSet_;
}

ExecOutcome OracleSession::Execute(const std::string& text) {
    std::vector<BoundValue> none;
    return Execute(text, none);
}

std::shared_ptr<const ParsedText> OracleSession::Parse(const std::string& text) {
    constexpr size_t kKeptTexts = 32;
    for (auto* kept : {&blocks_, &statements_}) {
        auto found = kept->find(text);
        if (found != kept->end()) return found->second;
    }
    auto parsed = std::make_shared<const ParsedText>(ParseText(text));
    // A batch sends the same block texts again and again, and a set's
    // statement (one marker per feature) comes again with every validation.
    // Each kind has its own room, so one-off statements never push a
    // batch's blocks out.
    auto* kept = parsed->kind == ParsedText::AnonymousBlock ? &blocks_
                 : parsed->kind == ParsedText::Statement   ? &statements_
                                                           : nullptr;
    if (kept) {
        if (kept->size() >= kKeptTexts) kept->clear();
        kept->emplace(text, parsed);
    }
    return parsed;
}

ExecOutcome OracleSession::Execute(const std::string& text, std::vector<BoundValue>& params) {
    const std::shared_ptr<const ParsedText> held = Parse(text);
    const ParsedText& parsed = *held;
    const size_t markers = static_cast<size_t>(parsed.markers);
    if (markers > params.size())
        RaiseOra(1008, "not all variables bound: " + std::to_string(markers) + " markers, " +
                           std::to_string(params.size()) + " values" + Shown(text));
    if (markers < params.size())
        RaiseOra(1036, "illegal variable name/number: " + std::to_string(markers) + " markers, " +
                           std::to_string(params.size()) + " values" + Shown(text));
    db_.EnsureTransaction();

    ExecOutcome out;
    try {
        switch (parsed.kind) {
            case ParsedText::Statement: {
                // One value per sequence per statement, as Oracle gives one NEXTVAL per row.
                std::map<std::string, int64_t> taken;
                std::string sql = parsed.statement.pieces[0];
                Run run(*this, text, params);
                for (size_t k = 0; k < parsed.statement.slots.size(); ++k) {
                    const StatementSlot& slot = parsed.statement.slots[k];
                    switch (slot.kind) {
                        case StatementSlot::NextValue: {
                            auto it = taken.find(slot.name);
                            if (it == taken.end()) it = taken.emplace(slot.name, db_.NextValue(slot.name)).first;
                            sql += std::to_string(it->second);
                            break;
                        }
                        case StatementSlot::Function:
                            sql += SqlLiteral(run.Evaluate(Expr{Expr::Call, -1, "", slot.name, slot.args}), text);
                            break;
                        case StatementSlot::Collection:
                            sql += CollectionSubquery(run.EvaluateCollection(slot.name, slot.args), slot.typeName, text, registry_);
                            break;
                    }
                    sql += parsed.statement.pieces[k + 1];
                }
                std::vector<rt::Variant> values;
                values.reserve(params.size());
                for (const auto& p : params) values.push_back(p.value);
                int64_t changes = 0;
                SqliteConnection::SystemSqlScope guard(db_, parsed.returnsRows);
                ado::RecordsetImage image = db_.Query(sql, values, text, &changes);
                if (!image.fields.empty() || parsed.returnsRows) {
                    image.source = text;
                    out.rows = std::move(image);
                } else {
                    out.recordsAffected = changes;
                }
                break;
            }
            case ParsedText::CreateSequence:
                db_.CreateSequence(parsed.name, parsed.startWith, parsed.incrementBy, parsed.maxValue);
                break;
            case ParsedText::DropSequence:
                db_.DropSequence(parsed.name);
                break;
            case ParsedText::Savepoint:
                db_.Savepoint(parsed.name);
                break;
            case ParsedText::RollbackTo:
                db_.RollbackTo(parsed.name);
                break;
            case ParsedText::CallEscape: {
                Run run(*this, text, params);
                run.CheckCall(parsed.call.name, parsed.call.args, Routine::Procedure);
                Atomically([&] { out.rows = run.CallProcedure(parsed.call); });
                if (out.rows) out.rows->source = text;
                break;
            }
            case ParsedText::AnonymousBlock: {
                Run run(*this, text, params);
                run.CheckBlock(*parsed.block, nullptr, false);
                Atomically([&] { run.RunBlock(*parsed.block, nullptr, nullptr); });
                out.rows = run.TakeRows();
                if (out.rows) out.rows->source = text;
                break;
            }
        }
    } catch (const rt::ComError& e) {
        // Some failures (a full disk, a conflict clause of the file's schema)
        // end SQLite's transaction: the owner must hear of it.
        std::string note = db_.NoteTransactionLost(e.Description());
        if (!note.empty()) throw rt::ComError(e.Number(), e.Source(), e.Description() + note);
        throw;
    }
    return out;
}

}  // namespace product
