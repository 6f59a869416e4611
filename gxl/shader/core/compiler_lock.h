// The one lock of the shader tools. Every assemble, compile and fragment run
// holds it from the construction of its preprocessor context to the context's
// destruction; it guards the tools' process-wide state (the current page pool,
// the back end's node pools, the parsers' stacks). Recursive for one thread.
#pragma once

namespace gxl::shader {

class CompilerLock {
 public:
  static void Enter();
  static void Leave();
};

}  // namespace gxl::shader
