#pragma once
// Qt's own texts (the buttons of message boxes, the file dialog) in Chinese,
// as the rest of the program is, whatever the desktop's language.
class QCoreApplication;

// False when Qt's Chinese translations are not installed.
bool loadChineseQtTranslations(QCoreApplication &app);
