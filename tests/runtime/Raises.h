#pragma once
// The VB error number a call raises (0 when it returns normally).
#include "support/Raises.h"

using pelmora_test::ErrorOf;
