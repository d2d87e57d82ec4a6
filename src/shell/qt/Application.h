#pragma once

// The program's exit codes.
enum ExitCode : int {
    ExitClosed = 1, // the main window was shown and closed
    ExitNotStarted = 2, // the main window could not be created
};

// Builds the application object from the command line and runs the program until its window
// has been closed; answers the process's exit code.
int Run(int argc, char **argv);

// With an application object in place: creates the main window, shows it, runs the event loop
// and takes everything down in order. Answers the exit code.
int RunMainFrame();
