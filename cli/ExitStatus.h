#pragma once

// What kavrel-cli tells its caller (a cron job, a script) through its exit status.
enum ExitStatus : int {
    ExitCompleted = 0,         // every ticked category handled
    ExitHaltedPrematurely = 1, // a failure; its cause is in the log
    ExitNotConnected = 2, // the engine could not be attached, or the server refused the connection or login
    ExitHaltedByUser = 3, // SIGINT, SIGTERM or SIGHUP: stopped between files
    ExitUsage = 64, // bad options, or a settings file that is missing or unusable (as sysexits' EX_USAGE)
};
