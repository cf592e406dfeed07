// Ends the program the orderly way when the process is asked to stop (a
// terminal's Ctrl+C, a log-out, a service manager): the main window is
// closed as if the operator had closed it, so the device's front panel is
// unlocked and the settings are saved. A modal dialog that is open is
// closed first, the way its own Close button would, and the window once the
// dialog has returned.
#pragma once

class QWidget;

void CloseOnTerminationRequest(QWidget *window);
