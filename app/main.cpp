// flashtool: the firmware update window for the Corvel M418.
#include "app/start_up.h"

int main(int argc, char** argv) {
    return Run_Flashtool(argc, argv);
}
