#include "pelmora/common/AppUtils.h"

#include "interfaces/Varsk1.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

// Calls the application member by dispatch id, ignoring every failure; the
// result is Empty when nothing was returned.
rt::Variant CallApplication(int32_t dispId, rt::Args args) {
    rt::Variant result;
    rt::ResumeNext step;
    std::shared_ptr<rt::Object> app;
    if (!step([&] { app = varsk1::GetYvApplicationDispatch(); }) || !app) return result;
    step([&] { result = app->InvokeDispId(dispId, rt::InvokeKind::Method, args); });
    return result;
}

}  // namespace

void BeginProgressBar() { CallApplication(32, {}); }

void SetProgressBarRange(int32_t low, int32_t high) { CallApplication(33, {rt::Variant(low), rt::Variant(high)}); }

void StepProgressBar(int32_t step) { CallApplication(34, {rt::Variant(step)}); }

void EndProgressBar() { CallApplication(35, {}); }

std::string GetStatusBarText(int32_t Panel) {
    rt::Variant result = CallApplication(23, {rt::Variant(Panel)});
    std::string text;
    rt::ResumeNext step;
    // A result that is no text (Null, an object) gives "" like a failed call.
    step([&] { text = rt::CStr(result); });
    return text;
}

void SetStatusBarText(const std::string& Text, int32_t Panel) {
    CallApplication(24, {rt::Variant(Text), rt::Variant(Panel)});
}

}  // namespace pelmora
