// Not built yet: viewer dialog registration. Until it is, the stage succeeds
// without doing anything.
#include "commit/viewer_dialog.h"

int RegisterViewerDialog(void)
{
    return 1;
}
