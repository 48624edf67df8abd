// quillon-cli on a real IO-Warrior, through the kernel's iowarrior driver.
#include "cli/command_line.h"

int main(int argc, char* argv[]) { return quillon::cli::Main(argc, argv); }
