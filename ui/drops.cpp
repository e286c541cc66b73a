#include "app/frmdown.h"

void frmDown::LView_DropText(const QString &)
{
}

void frmDown::MinForm_DropText(const QString &)
{
}

void frmDown::MinForm_DblClick()
{
}
