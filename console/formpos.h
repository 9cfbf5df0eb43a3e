// Placement of the console's dialogs.
#pragma once

class QWidget;

namespace ferrix {

// Moves the window to the middle of the screen it is on (the primary screen before it is shown).
void CenterOnScreen(QWidget& window);

}  // namespace ferrix
