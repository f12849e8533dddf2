#include "app/main_dialog.h"
#include "engine/engine_classes.h"
#include "engine/library_log.h"

void MainDialog::InstallMediaLibraryLog()
{
    engine::InstallLibraryLog();
}

void MainDialog::RegisterMediaClasses()
{
    engine::RegisterEngineClasses();
}
