#include "app/frmdown.h"

void frmDown::LView_DblClick()
{
}
