// Program entry: everything the start-up does lives with the main window.

#include "app/U_Cropping_Startup.h"

int main(int argc, char** argv) { return RunCorvanta(argc, argv); }
