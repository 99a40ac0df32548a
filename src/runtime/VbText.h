#pragma once
// Letter case and comparison of UTF-16 code units, shared by the VB functions.
#include <string>

#include "runtime/Vb.h"

namespace rt {

char16_t UpperUnit(char16_t c);
char16_t LowerUnit(char16_t c);
// The unit both letter cases compare as under text comparison.
char16_t FoldUnit(char16_t c);
// -1, 0 or 1: binary compares UTF-16 code units, text ignores letter case.
int CompareText(const std::string& a, const std::string& b, CompareMode mode);

}  // namespace rt
