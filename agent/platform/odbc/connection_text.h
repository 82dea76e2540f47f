// ODBC connection strings read and composed, without an ODBC call: for the
// SQL service, which hands one to the driver, and for pelkoctl check, which
// reads the administrator's.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelko {

// The value of the first attribute named one of keys (in any case), its
// braces taken off; nullopt when there is none.
std::optional<std::string> ConnectionAttribute(std::string_view connection,
                                               std::initializer_list<std::string_view> keys);

// The attributes of connection that have a driver write logs of its own
// (psqlODBC's CommLog and Debug), as written: "CommLog=1".
std::vector<std::string> DriverLogAttributes(std::string_view connection);

// What the programs hand to the driver: connection as the administrator
// wrote it, the driver's logs asked off unless it sets them itself (they
// hold the password and every row sent, in files of their own), and the
// password, when there is one, as PWD.
std::string ComposeConnection(const std::string& connection, const std::string& password);

}  // namespace pelko
