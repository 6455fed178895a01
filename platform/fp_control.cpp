#include "platform/fp_control.h"

#include <cfenv>

namespace platform {

void MaskFloatingPointExceptions() {
  std::fenv_t env;
  // feholdexcept saves the environment, clears the flags and installs
  // non-stop mode: every exception is masked.
  std::feholdexcept(&env);
}

}  // namespace platform
