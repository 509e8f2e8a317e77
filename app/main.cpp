// Process entry: hands the command line to start-up.
#include "app/startup.h"

int main(int argc, char** argv) {
    return StartUp(argc, argv);
}
