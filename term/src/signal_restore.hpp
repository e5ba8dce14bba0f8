#pragma once

#include <termios.h>

// What the handler of RestoreOnSignals puts back, told by the owners of raw mode, the alternate screen and the
// cursor as they change the terminal. Everything lives in static storage, so the handler only reads.
namespace orvik::term::signal_restore {

// Remembers the settings to put back on `fd`; false (and nothing remembered) when another raw mode holds them.
bool hold_settings(int fd, const termios& saved);
void drop_settings();

// The alternate screen is about to be entered on `fd`: a signal leaves it and shows the cursor.
void screen_entered(int fd);
// Back on the main screen: a signal still shows the cursor, until cursor_shown.
void screen_left(int fd);
// The screen was never entered after all.
void screen_not_entered(int fd);
void cursor_shown(int fd);

}  // namespace orvik::term::signal_restore
