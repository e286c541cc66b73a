#pragma once
// The five detail lines of a task, each ending with CR LF.
#include "tasks/taskrecord.h"

#include <QString>

QString detailsText(const TaskRecord &record);
