#pragma once
// Everything the main window works on besides the texts of its controls: the
// panel's view, the player that holds the frame on screen (what is measured)
// and shows it there, and the working state that measuring and reduction share. One object, owned
// by the main window, living from start to end of the program.
#include "measure/WorkingState.h"
#include "video/PanelSurface.h"
#include "video/Player.h"

namespace corvane {

struct Session {
    PanelSurface Panel;
    Player MediaPlayer{Panel};
    WorkingState State;
};

} // namespace corvane
