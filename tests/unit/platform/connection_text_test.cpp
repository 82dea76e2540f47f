// The connection string the programs hand to the driver: its logs asked
// off unless the administrator wrote otherwise, and the password added.
#include "agent/platform/odbc/connection_text.h"

#include <gtest/gtest.h>

namespace pelko {
namespace {

TEST(ConnectionText, AsksTheDriverForNoLogsUnlessTheAdministratorSaidSo) {
  EXPECT_EQ(ComposeConnection("Driver={PostgreSQL Unicode};Server=db", ""),
            "Driver={PostgreSQL Unicode};Server=db;CommLog=0;Debug=0;");
  EXPECT_EQ(ComposeConnection("DSN=site;", "pw"), "DSN=site;CommLog=0;Debug=0;PWD={pw};");
  // Written in any case, short form, or CX: kept as written, nothing added.
  EXPECT_EQ(ComposeConnection("Server=db; commlog = 1 ;DEBUG=1", ""),
            "Server=db; commlog = 1 ;DEBUG=1");
  EXPECT_EQ(ComposeConnection("Server=db;B3=1;B2=0", ""), "Server=db;B3=1;B2=0");
  EXPECT_EQ(ComposeConnection("Server=db;CX=1c305008b", ""), "Server=db;CX=1c305008b");
  // A braced value may hold what looks like an attribute.
  EXPECT_EQ(ComposeConnection("Server=db;Opts={x;CommLog=1;}}}", "a}b"),
            "Server=db;Opts={x;CommLog=1;}}};CommLog=0;Debug=0;PWD={a}}b};");
  EXPECT_EQ(ConnectionAttribute("Driver={PostgreSQL Unicode};Opts={a}}b}", {"opts"}), "a}b");
}

TEST(ConnectionText, NamesTheAttributesThatHaveTheDriverLog) {
  EXPECT_EQ(DriverLogAttributes("Server=db;Debug=1;CommLog=0;b3=2;Opts={CommLog=1}"),
            (std::vector<std::string>{"Debug=1", "b3=2"}));
  EXPECT_TRUE(DriverLogAttributes("Server=db;Debug=;CommLog=0").empty());
}

}  // namespace
}  // namespace pelko
