#pragma once
#include <QString>

// The page the web view shows at start-up. It is built into the program, so
// starting needs no network.
QString startPageHtml();
