#include "ui/ReferenceUpdate.h"

#include "publish/ReferenceUpdate.h"

// The flag is the publishing library's: its reference update holds it while it writes.
bool ReferenceUpdateRunning()
{
    return g_reference_db_updating.load();
}

void SetReferenceUpdateRunning(bool running)
{
    g_reference_db_updating.store(running);
}
