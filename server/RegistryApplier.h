// Writes or removes what a registry script describes.
#ifndef KESTRAVA_SERVER_REGISTRYAPPLIER_H
#define KESTRAVA_SERVER_REGISTRYAPPLIER_H

#include "RegistryScript.h"

#include <windows.h>

namespace kestrava {

enum class RegistryMode { Register, Unregister };

// Reads and applies a whole script. In register mode a root block that fails is rolled back:
// keys this pass created are deleted, values it added are deleted, values it overwrote get their
// old data back; what existed before stays.
HRESULT applyRegistryScript(const std::u16string &script, const rgs::Replacements &replacements,
                            RegistryMode mode);

} // namespace kestrava

#endif
