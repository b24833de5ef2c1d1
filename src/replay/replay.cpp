#include "replay/replay.h"

namespace quarrow::replay {

Result<ReplayOutcome> replay_logs(const Database&, const logs::LogFolder&, const ReplayOptions&) {
  return EseError::parse("log replay is not available yet");
}

}  // namespace quarrow::replay
