// The toolkit's control factory: a new control of a toolkit type, as a
// window builds its controls from its description. It sits above the
// controls so that their base knows none of them.
#pragma once

#include "KLF_Types.h"

class CKLF_Control;

// A new control of a toolkit type; null for an unknown type and for the
// preview, which windows add themselves, and when memory ran out.
[[nodiscard]] CKLF_Control* KLF_NewControl(u8 type);
