#include "engine/engine_classes.h"

namespace engine {

void RegisterEngineClasses()
{
    RegisterTimelineClasses();
    RegisterGraphClasses();
}

} // namespace engine
