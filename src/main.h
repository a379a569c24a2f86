#ifndef MAIN_H
#define MAIN_H

// The process entry: returns the exit code (0, the hand-over code or the event loop's result).
int qMain(int argc, char *argv[]);

#endif
