// quillon-cli on the virtual adapter: an emulated IO-Warrior 24 with a 24C02 holding the
// sample EDID, fresh at every start. For demonstrations and trying out scripts.
#include "cli/command_line.h"

int main(int argc, char* argv[]) {
    return quillon::cli::Main(argc, argv);
}
