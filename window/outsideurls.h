#pragma once
// Why a URL from outside the window was not added: the words the log and
// the command line use for it (empty for one that was added).
#include "tasks/urlmessage.h"

#include <QString>

QString outsideUrlRefusal(UrlMessage::Outcome outcome);
