#include "update/netproc.h"

#include "update/update_signature.h"

namespace vanto::update {

UpdateRunState& RunState() {
  static UpdateRunState state = [] {
    UpdateRunState initial;
    initial.UpdateKey = BuiltInUpdateKey();
    return initial;
  }();
  return state;
}

}  // namespace vanto::update
