#pragma once
class frmDown;

// Creates the main window's controls and menus at their fixed places.
void buildMainLayout(frmDown &window);
