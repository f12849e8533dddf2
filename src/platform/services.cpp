#include "platform/services.h"

#include "platform/file_system.h"
#include "platform/modules.h"
#include "platform/processes.h"
#include "platform/prompter.h"
#include "platform/registry.h"
#include "platform/system_folders.h"

namespace platform {

Services Services::Real()
{
    return Services{&TheQtPrompter(),
                    &TheFileSystem(),
                    &TheClock(),
                    &TheProcesses(),
                    &TheSystemFolders(),
                    &TheRegistry(),
                    &TheModules()};
}

} // namespace platform
