#pragma once
// The error object: what VB's Err holds, carried as a C++ exception.
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <utility>

namespace rt {

class ComError : public std::exception {
public:
    ComError(int32_t number, std::string source, std::string description);
    int32_t Number() const noexcept { return number_; }
    const std::string& Source() const noexcept { return source_; }
    const std::string& Description() const noexcept { return description_; }
    const char* what() const noexcept override;

private:
    int32_t number_;
    std::string source_;
    std::string description_;
    // Written when first asked for: most errors are caught and never shown.
    mutable std::string what_;
};

// VB run-time error numbers the system raises or catches.
namespace vberr {
inline constexpr int32_t InvalidProcedureCall = 5;
inline constexpr int32_t Overflow = 6;
inline constexpr int32_t OutOfMemory = 7;
inline constexpr int32_t SubscriptOutOfRange = 9;
inline constexpr int32_t DivisionByZero = 11;
inline constexpr int32_t TypeMismatch = 13;
inline constexpr int32_t BadFileNameOrNumber = 52;
inline constexpr int32_t FileNotFound = 53;
inline constexpr int32_t FileAlreadyOpen = 55;
inline constexpr int32_t BadFileMode = 54;
inline constexpr int32_t FileAlreadyExists = 58;
inline constexpr int32_t DiskFull = 61;
inline constexpr int32_t InputPastEnd = 62;
inline constexpr int32_t PermissionDenied = 70;
inline constexpr int32_t PathFileAccessError = 75;
inline constexpr int32_t PathNotFound = 76;
inline constexpr int32_t ObjectVariableNotSet = 91;
inline constexpr int32_t InvalidPatternString = 93;
inline constexpr int32_t InvalidUseOfNull = 94;
inline constexpr int32_t ObjectRequired = 424;
inline constexpr int32_t CannotCreateObject = 429;
inline constexpr int32_t ObjectDoesNotSupportMember = 438;
inline constexpr int32_t NamedArgumentNotFound = 448;
inline constexpr int32_t ArgumentNotOptional = 449;
inline constexpr int32_t WrongNumberOfArguments = 450;
inline constexpr int32_t DllFunctionNotFound = 453;
inline constexpr int32_t KeyAlreadyAssociated = 457;
}  // namespace vberr

// The standard description VB gives a run-time error number ("" when none).
std::string VbErrorDescription(int32_t number);

// Raises a VB run-time error with its standard description.
[[noreturn]] void RaiseVbError(int32_t number, const std::string& source = "");

// Builds an HRESULT-style number from its unsigned form (0x800A0BCD ...).
constexpr int32_t HResult(uint32_t value) { return static_cast<int32_t>(value); }

// Runs a step; whatever fails in it comes back in error as the error object
// VB would hold (other C++ exceptions as errors 7 and 5). False when it failed.
template <class F>
bool CaptureError(F&& step, ComError& error) {
    try {
        step();
        return true;
    } catch (const ComError& e) {
        error = e;
    } catch (const std::bad_alloc&) {
        error = ComError(vberr::OutOfMemory, "", VbErrorDescription(vberr::OutOfMemory));
    } catch (const std::exception& e) {
        error = ComError(vberr::InvalidProcedureCall, "", e.what());
    }
    return false;
}

// Runs a member of a class module: an error that leaves it without a source
// is raised again with source() as its source, as VB fills Err.Source where
// an error occurs; a source already set stays. source() is asked only then.
template <class F, class S>
decltype(auto) WithErrorSource(F&& member, S&& source) {
    try {
        return member();
    } catch (const ComError& e) {
        if (!e.Source().empty()) throw;
        throw ComError(e.Number(), source(), e.Description());
    }
}

// On Error Resume Next, one step at a time: runs the step, keeps the error
// (if any) for the caller to inspect, and never lets it escape.
class ResumeNext {
public:
    template <class F>
    bool operator()(F&& step) {
        if (CaptureError(std::forward<F>(step), last_)) return true;
        failed_ = true;
        return false;
    }
    bool Failed() const { return failed_; }
    const ComError& LastError() const { return last_; }
    void Clear() { failed_ = false; last_ = ComError(0, "", ""); }

private:
    bool failed_ = false;
    ComError last_{0, "", ""};
};

}  // namespace rt
