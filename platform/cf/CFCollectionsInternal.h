// What the array and dictionary files share: the text of one value for a
// container's description. Private to platform/.
#pragma once

#include "platform/CoreFoundation.h"

#include <string>

namespace orvik::cf {

// The description of a value by the container's callback, or "<address>".
std::u16string describe(const void* v, CFStringRef (*desc)(const void*));
CFStringRef stringOf(const std::u16string& s);

} // namespace orvik::cf
