#pragma once

// quillon-cli: read, write, verify, scan and info over the adapter that the executable's
// backend reaches, for scripts and production lines. Every written byte is read back, and the
// exit status says what happened.

#include <QStringList>
#include <QTextStream>
#include <functional>
#include <optional>

namespace quillon::cli {

// One meaning each. Where several apply, the first of 3 and 4 is given.
enum ExitStatus : int {
    kExitDone = 0,         // done, and every byte verified
    kExitUsage = 1,        // bad command line, or the write not confirmed
    kExitNoAdapter = 2,    // none attached, busy, or no permission
    kExitNoAnswer = 3,     // the memory did not answer for some bytes
    kExitBytesDiffer = 4,  // bytes differ from the file, or a write did not hold
    kExitFileError = 5,    // the file could not be read or written
    kExitInterrupted = 6,  // SIGINT or SIGTERM: the memory may hold part of the image
};

// Where the program talks: results on `out`, messages and the progress bar on `err`.
struct Console {
    QTextStream& out;
    QTextStream& err;
    bool errIsTerminal = false;  // the progress bar is drawn only then
    bool inIsTerminal = false;   // write asks only then
    // The operator's next line; nothing at the end of the input.
    std::function<std::optional<QString>()> readLine;
};

// Runs the command line `arguments` (the program's name first). Returns the exit status. While
// a transfer runs, a first SIGINT or SIGTERM stops it after the page under way (what was
// written is read back and reported, status 6); a second ends the program at once.
int RunCommandLine(const QStringList& arguments, Console& console);

// The whole program on the process's own standard streams.
int Main(int argc, char* argv[]);

}  // namespace quillon::cli
