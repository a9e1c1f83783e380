#pragma once

#include <cstdint>
#include <string>

// The port of a passive data connection, read from an EPSV (229) or PASV (227) reply. A PASV reply's
// address is ignored on purpose: a server behind NAT announces a private one, and trusting it would let
// a server point the client at any host.
namespace PassiveReply {

// "229 Entering Extended Passive Mode (|||40123|)"; false when no valid port is found.
bool parseEpsvPort(const std::string& line, uint16_t& port);
// "227 Entering Passive Mode (127,0,0,1,156,187)"; false when no valid port is found.
bool parsePasvPort(const std::string& line, uint16_t& port);

} // namespace PassiveReply
