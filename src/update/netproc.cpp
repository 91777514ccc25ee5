#include "update/netproc.h"

namespace vanto::update {

UpdateRunState& RunState() {
  static UpdateRunState state;
  return state;
}

}  // namespace vanto::update
