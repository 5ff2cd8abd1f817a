#include "Startup.h"

// The program's own start-up, with the probe linked in.
int main(int argc, char* argv[]) {
    return Startup::Main(argc, argv);
}
