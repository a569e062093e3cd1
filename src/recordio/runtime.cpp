#include "runtime.h"

#include <memory>

namespace recordio {
namespace {

// Never destroyed: its members' destructors do nothing, and the storage outlives every handler.
constinit Runtime instance;

}  // namespace

Runtime& runtime() {
  return instance;
}

void reset_runtime() {
  instance.units.release_blocks();
  std::destroy_at(&instance);
  std::construct_at(&instance);
}

}  // namespace recordio
