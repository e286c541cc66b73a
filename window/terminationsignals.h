#pragma once
// A log-out or shutdown (SIGTERM), Ctrl+C (SIGINT) and a closed terminal
// (SIGHUP) end the program the way 文件 → 退出 does, so no task is lost.
class QWidget;

// Closes `window` on its own thread when one of those signals arrives.
void closeOnTerminationSignals(QWidget &window);
