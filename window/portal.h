#pragma once
// The maker's web portal, opened from the help menu and the start page.
#include <QString>

inline const QString PortalName = QStringLiteral("迅羽主页");
inline const QString PortalUrl = QStringLiteral("https://zipvane.example.org/");
