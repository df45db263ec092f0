#pragma once
// What the CLI needs of the console that differs between the systems.
#include <string>

namespace portflash::cli::console {

// True when stderr is a terminal whose progress line can be redrawn in place
// (on Windows: a console that takes virtual-terminal sequences, switched on here).
bool ProgressRedraws();
// Columns of the terminal on stderr; 80 when it cannot say.
int Width();

enum class Input { Line, End, Interrupted };
// One line of stdin, without its line end. Gives up at once when an interrupt
// arrives (interruptFd becomes readable, where the system has one).
Input ReadLine(std::string* line, int interruptFd);

}  // namespace portflash::cli::console
