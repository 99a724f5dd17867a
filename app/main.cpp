// flashtool: the firmware update window for the Corvel M418.
#include "app/start_up.h"
#include "platform/processes.h"

int main(int argc, char** argv) {
    // Before anything opens a descriptor that could land on a closed stream.
    platform::Fill_Closed_Standard_Streams();
    return Run_Flashtool(argc, argv);
}
