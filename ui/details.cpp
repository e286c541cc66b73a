#include "app/frmdown.h"

void frmDown::LView_MouseUp(Qt::MouseButton, const QPoint &)
{
}
