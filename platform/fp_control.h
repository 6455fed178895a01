#pragma once

namespace platform {

// Masks every floating-point exception for the calling thread, so codec
// libraries that divide by zero or overflow get IEEE results instead of traps.
// Called once at program start; threads created later inherit the setting.
void MaskFloatingPointExceptions();

}  // namespace platform
