#pragma once

// Descriptors 0, 1 and 2 opened on /dev/null where the program was started without them. Otherwise the
// first file or socket the program opens takes the free number, and whatever is written to standard
// output or error (log lines) lands in it: in an FTP control connection, in a backup file.
namespace StandardDescriptors {

// Call first thing in main, before anything opens a file or a socket.
void ensureOpen();

} // namespace StandardDescriptors
