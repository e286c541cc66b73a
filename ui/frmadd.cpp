#include "app/frmdown.h"

void frmDown::menuadd_Click()
{
}
