// TRAXCON entry point: start-up and command line, then the end of the program.
// Exit status: 0 after the usage help and when the program ran to its end (also after errors and
// warnings); 1 after any fatal message, which ends the program where it is raised.
#include "conv.h"

int main(int argc, char *argv[]) {
    conv_start(argc, argv);
    const int status = conv_run();
    conv_finish();
    return status;
}
