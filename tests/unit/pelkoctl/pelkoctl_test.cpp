// pelkoctl's commands against the fakes: what each writes, as the agent's
// own readers see it, and each trap refused with its message.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "agent/accounting/tariff.h"
#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/monitor/pending_pages.h"
#include "pelkoctl/command_line.h"
#include "pelkoctl/cups_policy.h"
#include "pelkoctl/health_check.h"
#include "tests/fakes/fake_env.h"
#include "tests/fakes/fake_sql.h"

namespace pelko::ctl {
namespace {

struct CtlRun {
  int status = 0;
  std::string out;
  std::string err;
};

class FakeProbe : public HostProbe {
 public:
  std::string AgentNotRunning() override { return notRunning; }
  std::string ServiceCannotWrite(const std::string& folder) override {
    return folder == unwritable ? "mode 0555" : "";
  }
  std::vector<std::string> SpoolerRuleWarnings(const std::vector<std::string>&) override {
    return warnings;
  }
  std::vector<std::string> RecentAgentLines() override { return said; }
  std::string OthersWhoMayWrite(const std::string& folder) override {
    return folder == groupWritable ? "group pelko" : "";
  }
  std::optional<bool> QueuePrintsColor(const std::string& queue) override {
    auto known = color.find(queue);
    return known == color.end() ? std::nullopt : std::optional<bool>(known->second);
  }
  std::string StoreRefused() override { return refused; }
  std::map<std::string, bool> color;
  std::string refused;
  std::vector<std::string> said;
  std::string groupWritable;
  std::string notRunning;
  std::string unwritable;
  std::vector<std::string> warnings;
};

class PelkoctlTest : public ::testing::Test {
 protected:
  CtlRun Ctl(std::vector<std::string> args) {
    std::ostringstream out, err;
    CtlRun run;
    run.status = RunPelkoctl(fake.env, &probe, args, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
  }
  uint32_t AgentDword(const std::string& path) {
    return RegistryDwordValue(fake.registry, path).Read();
  }
  std::string AgentString(const std::string& path) {
    return RegistryStringValue(fake.registry, path).Read();
  }
  // A machine where all is well.
  void Healthy() {
    fake.spooler.SetJobs("Office", {});
    ASSERT_EQ(Ctl({"add", "Office", "--cost", "20"}).status, 0);
    fake.registry.PutDword(settings::kAppIsRunning, 1);
    fake.registry.PutString(settings::kPath, "C:\\Pelko");
    fake.files.AddFolder("C:\\Pelko");
    fake.files.AddFolder("C:\\Pelko\\Logs");
    // The agent took the printer up: its book is begun, the flag lowered.
    fake.files.PutFile("C:\\Pelko\\Office.seen", "");
    fake.registry.PutDword(settings::kIsModified, 0);
  }

  FakeEnv fake;
  FakeProbe probe;
};

TEST_F(PelkoctlTest, AddWritesWhatTheAgentReadsAndRaisesTheCountLast) {
  fake.spooler.SetJobs("Office", {});
  fake.spooler.SetJobs("\\\\srv\\Lab", {});
  CtlRun added = Ctl({"add", "Office", "--cost", "20"});
  EXPECT_EQ(added.status, 0) << added.err;
  EXPECT_EQ(Ctl({"add", "\\\\srv\\Lab", "--cost=5"}).status, 0);
  EXPECT_EQ(AgentDword(settings::kPrinterCount), 2u);
  EXPECT_EQ(AgentString(settings::PrinterName(1)), "Office");
  EXPECT_EQ(AgentDword(settings::PrinterCost(1)), 20u);
  EXPECT_EQ(AgentString(settings::PrinterName(2)), "\\\\srv\\Lab");
  EXPECT_EQ(AgentDword(settings::PrinterCost(2)), 5u);
  EXPECT_EQ(AgentDword(settings::kIsModified), 1u);

  CtlRun list = Ctl({"list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("Office"), std::string::npos);
  // In decimal, never 0x14.
  EXPECT_NE(list.out.find(" 20 "), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("0x"), std::string::npos);
}

TEST_F(PelkoctlTest, AddRefusesTrapsWithAClearMessage) {
  fake.spooler.SetJobs("Office", {});
  // A queue the spooler does not have: only forced.
  CtlRun missing = Ctl({"add", "Ofice", "--cost", "20"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no queue 'Ofice'"), std::string::npos) << missing.err;
  EXPECT_FALSE(fake.registry.Has(settings::PrinterName(1)));
  EXPECT_EQ(Ctl({"add", "Ofice", "--cost", "20", "--force"}).status, 0);
  // Twice the same printer, or one whose logs would mix with another's.
  EXPECT_NE(Ctl({"add", "Ofice", "--cost", "1", "--force"}).err.find("configured already"),
            std::string::npos);
  CtlRun shared = Ctl({"add", "\\\\other\\ofice", "--cost", "1", "--force"});
  EXPECT_NE(shared.err.find("share its log files"), std::string::npos) << shared.err;
  // Costs the agent would misread, and missing pieces: bad arguments.
  for (std::string cost : {"0x14", "-3", "1.5", "", "99999999999"}) {
    CtlRun bad = Ctl({"add", "Office", "--cost", cost});
    EXPECT_EQ(bad.status, 2) << cost;
    EXPECT_FALSE(bad.err.empty());
  }
  EXPECT_EQ(Ctl({"add", "Office"}).status, 2);
  EXPECT_EQ(Ctl({"add", "--cost", "3"}).status, 2);
  EXPECT_EQ(AgentDword(settings::kPrinterCount), 1u);
}

TEST_F(PelkoctlTest, AddStopsAtTheLastSlotAndAtACountStoredAsText) {
  for (int i = 1; i <= 49; ++i) {
    ASSERT_EQ(Ctl({"add", "Q" + std::to_string(i), "--cost", "1", "--force"}).status, 0) << i;
  }
  CtlRun full = Ctl({"add", "Q50", "--cost", "1", "--force"});
  EXPECT_NE(full.err.find("at most 49"), std::string::npos);

  // reg.exe's trap: nPrinters written without /t is text, read as 0.
  fake.registry.PutString(settings::kPrinterCount, "2");
  CtlRun trapped = Ctl({"add", "Q51", "--cost", "1", "--force"});
  EXPECT_EQ(trapped.status, 1);
  EXPECT_NE(trapped.err.find("reads as 0"), std::string::npos) << trapped.err;
  EXPECT_NE(Ctl({"list"}).out.find("! nPrinters is stored as \"2\" (REG_SZ)"), std::string::npos);
  // The way out it names.
  EXPECT_EQ(Ctl({"set", "nPrinters", "49"}).status, 0);
  EXPECT_EQ(AgentDword(settings::kPrinterCount), 49u);
  EXPECT_NE(Ctl({"set", "nPrinters", "50"}).status, 0);
}

TEST_F(PelkoctlTest, RemoveKeepsTheSlotsDense) {
  for (std::string name : {"A", "B", "C"}) {
    fake.spooler.SetJobs(name, {});
    ASSERT_EQ(Ctl({"add", name, "--cost", std::string(1, char('0' + name[0] - 'A' + 1))}).status,
              0);
  }
  fake.registry.PutDword(settings::kIsModified, 0);
  EXPECT_EQ(Ctl({"remove", "B"}).status, 0);
  EXPECT_EQ(AgentDword(settings::kPrinterCount), 2u);
  EXPECT_EQ(AgentString(settings::PrinterName(1)), "A");
  EXPECT_EQ(AgentString(settings::PrinterName(2)), "C");
  EXPECT_EQ(AgentDword(settings::PrinterCost(2)), 3u);
  EXPECT_FALSE(fake.registry.Has(settings::PrinterName(3)));
  EXPECT_FALSE(fake.registry.Has(settings::PrinterCost(3)));
  EXPECT_EQ(AgentDword(settings::kIsModified), 1u);
  CtlRun unknown = Ctl({"remove", "B"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("no printer 'B'"), std::string::npos);
}

TEST_F(PelkoctlTest, CostChangesOnlyAConfiguredPrinter) {
  fake.spooler.SetJobs("A", {});
  ASSERT_EQ(Ctl({"add", "A", "--cost", "1"}).status, 0);
  EXPECT_EQ(Ctl({"cost", "A", "35"}).status, 0);
  EXPECT_EQ(AgentDword(settings::PrinterCost(1)), 35u);
  EXPECT_EQ(Ctl({"cost", "Z", "35"}).status, 1);
  EXPECT_EQ(Ctl({"cost", "A", "0x23"}).status, 2);
}

// The prices beyond the mono one are the printer's: written with it, moved
// with it when a slot before it goes, and removed with it.
TEST_F(PelkoctlTest, PricesAreWrittenWithThePrinterAndMoveWithIt) {
  for (std::string name : {"A", "B", "C"}) fake.spooler.SetJobs(name, {});
  ASSERT_EQ(Ctl({"add", "A", "--cost", "5"}).status, 0);
  CtlRun added = Ctl({"add", "B", "--cost", "9", "--color-cost", "50", "--duplex-discount=10%",
                      "--paper-factors", "iso_a3_297x420mm=2, Ledger=1.5"});
  ASSERT_EQ(added.status, 0) << added.err;
  EXPECT_NE(added.out.find("colour 50 a page, 10% off two-sided pages, paper a3=2,tabloid=1.5"),
            std::string::npos)
      << added.out;
  ASSERT_EQ(
      Ctl({"add", "C", "--cost", "7", "--color-cost", "70", "--paper-factors", "A5=0.5"}).status,
      0);
  EXPECT_EQ(AgentString(settings::PrinterPaperFactors(2)), "a3=2,tabloid=1.5");
  CtlRun list = Ctl({"list"});
  EXPECT_NE(list.out.find("LAST ENTRY  "), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("2    B              9  yes          -                   50       -10%  "
                          "a3=2,tabloid=1.5  not yet\n"),
            std::string::npos)
      << list.out;
  // A has no prices of its own: colour at the mono price, nothing off.
  EXPECT_NE(list.out.find("                    5         0%  -                 not yet\n"),
            std::string::npos)
      << list.out;

  ASSERT_EQ(Ctl({"remove", "B"}).status, 0);
  const Tariff moved = ReadTariff(fake.registry, 2);
  EXPECT_EQ(moved.colorCost, 70u);
  EXPECT_EQ(moved.duplexDiscountPercent, 0u);
  EXPECT_EQ(FormatPaperFactors(moved.paperFactors), "a5=0.5");
  for (const std::string& gone : {settings::PrinterColorCost(3), settings::PrinterPaperFactors(3),
                                  settings::PrinterDuplexDiscount(2)}) {
    EXPECT_FALSE(fake.registry.Has(gone)) << gone;
  }
  // cost changes only what it names; 'none' and '' drop a price.
  EXPECT_EQ(Ctl({"cost", "C", "8"}).status, 0);
  EXPECT_EQ(ReadTariff(fake.registry, 2).colorCost, 70u);
  CtlRun dropped = Ctl({"cost", "C", "--color-cost", "none", "--paper-factors", ""});
  EXPECT_EQ(dropped.status, 0) << dropped.err;
  EXPECT_NE(dropped.out.find("'C' now costs colour pages at the mono price, every paper 1"),
            std::string::npos)
      << dropped.out;
  EXPECT_FALSE(fake.registry.Has(settings::PrinterColorCost(2)));
  EXPECT_FALSE(fake.registry.Has(settings::PrinterPaperFactors(2)));
  EXPECT_EQ(AgentDword(settings::PrinterCost(2)), 8u);

  struct Refused {
    std::vector<std::string> args;
    std::string said;
  };
  for (const Refused& refused : std::vector<Refused>{
           {{"cost", "C", "--color-cost", "0x10"}, "--color-cost: cost '0x10'"},
           {{"cost", "C", "--duplex-discount", "101"}, "no percent (a whole number, 0 to 100)"},
           {{"cost", "C", "--paper-factors", "A3=2;A5=1"}, "paper factors 'A3=2;A5=1': '2;A5=1'"},
           {{"add", "D", "--cost", "1", "--paper-factors", "A3"}, "no PAPER=FACTOR"},
           {{"cost", "C", "--color-cost"}, "needs a value"},
           {{"cost", "C"}, "a price to set"},
           {{"cost", "C", "--colour-cost", "3"}, "unknown option"}}) {
    CtlRun run = Ctl(refused.args);
    EXPECT_EQ(run.status, 2) << refused.args[2];
    EXPECT_NE(run.err.find(refused.said), std::string::npos) << refused.args[2] << ": " << run.err;
  }
  EXPECT_EQ(AgentDword(settings::kPrinterCount), 2u);
  EXPECT_FALSE(fake.registry.Has(settings::PrinterColorCost(2)));
}

TEST_F(PelkoctlTest, SetStoresTheTableTypesAndRefusesWhatTheAgentWouldMisread) {
  EXPECT_EQ(Ctl({"set", "emailalertfreq", "60"}).status, 0);
  EXPECT_EQ(AgentDword(settings::kEmailAlertFreq), 60u);
  EXPECT_EQ(Ctl({"set", "LogJobDetails", "1"}).status, 0);
  EXPECT_EQ(AgentDword(settings::kLogJobDetails), 1u);
  EXPECT_EQ(Ctl({"set", "ColorThreshold", "250"}).status, 0);
  EXPECT_EQ(AgentDword(settings::kColorThreshold), 250u);
  EXPECT_EQ(Ctl({"set", "CostUnit", "EUR/2"}).status, 0);
  EXPECT_EQ(AgentString(settings::kCostUnit), "EUR/2");
  uint32_t type = 0;
  RegistryDwordValue freq(fake.registry, settings::kEmailAlertFreq);
  freq.Read();
  EXPECT_EQ(freq.HeldType(), kRegDword);
  EXPECT_EQ(Ctl({"set", "MailServer", "smtp.example.org"}).status, 0);
  EXPECT_EQ(AgentString("Software\\Pelko\\MailServer"), "smtp.example.org");
  (void)type;

  struct Refused {
    std::vector<std::string> args;
    std::string said;
  };
  for (const Refused& refused :
       std::vector<Refused>{{{"set", "EmailAlertFreq", "abc"}, "not a decimal number"},
                            {{"set", "EmailAlertFreq", "0"}, "out of range"},
                            {{"set", "MailPort", "70000"}, "out of range"},
                            {{"set", "AppIsRunning", "2"}, "out of range"},
                            {{"set", "ColorThreshold", "10001"}, "out of range"},
                            {{"set", "EmailAlertTime", "25:00"}, "no time of day"},
                            {{"set", "CostUnit", "EUR/9"}, "no cost unit"},
                            {{"set", "Path", "relative/logs"}, "not a full path"},
                            {{"set", "MailPassword", "secret"}, "sendrik /setpassword"},
                            {{"set", "ToSendFile", "x"}, "written by the agent"},
                            {{"set", "Printer1Cost", "3"}, "no setting"},
                            {{"set", "ToSendFile", "x"}, "written by the agent"},
                            {{"set", "nPrinters", "2"}, "has no name"},
                            {{"set", "NoSuch", "1"}, "no setting 'NoSuch'"}}) {
    CtlRun run = Ctl(refused.args);
    EXPECT_EQ(run.status, 1) << refused.args[1];
    EXPECT_NE(run.err.find(refused.said), std::string::npos) << refused.args[1] << ": " << run.err;
  }
  EXPECT_FALSE(fake.registry.Has("Software\\Pelko\\MailPassword"));
}

TEST_F(PelkoctlTest, ShowNamesAValueStoredWithTheWrongType) {
  fake.registry.PutString(settings::kEmailAlertFreq, "60");
  fake.registry.PutString("Software\\Pelko\\MailPassword", "secret");
  CtlRun all = Ctl({"show"});
  EXPECT_EQ(all.status, 0);
  EXPECT_NE(all.out.find("EmailAlertFreq"), std::string::npos);
  EXPECT_NE(all.out.find("reads as 0"), std::string::npos) << all.out;
  EXPECT_EQ(all.out.find("secret"), std::string::npos);
  CtlRun one = Ctl({"show", "EmailAlertFreq"});
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(Ctl({"show", "Nothing"}).status, 1);
  EXPECT_EQ(Ctl({}).status, 2);
  EXPECT_EQ(Ctl({"frobnicate"}).status, 2);
}

TEST_F(PelkoctlTest, ListShowsTheQueueAndTheLastEntry) {
  fake.spooler.SetJobs("Office", {});
  ASSERT_EQ(Ctl({"add", "Office", "--cost", "20"}).status, 0);
  ASSERT_EQ(Ctl({"add", "Gone", "--cost", "1", "--force"}).status, 0);
  fake.registry.PutString(settings::kPath, "C:\\Pelko");
  fake.files.AddFolder("C:\\Pelko");
  fake.files.AddFolder("C:\\Pelko\\Logs");
  auto day = [](std::string date, std::string time, std::string user, std::string pages) {
    return "<log><entry> <date>" + date + "</date><time>" + time + "</time> <id>7</id><user>" +
           user + "</user> <printer>Office</printer><doc>r.pdf</doc> <pages>" + pages +
           "</pages> <cost>60</cost></entry><entry><user>Total</user><cost>60</cost></entry></log>";
  };
  fake.files.PutFile("C:\\Pelko\\Logs\\Office_20261207.xml",
                     day("2026/12/07", "09:00:00", "old", "1"));
  fake.files.PutFile("C:\\Pelko\\Logs\\Office_20261208.xml",
                     day("2026/12/08", "10:31:02", "alice", "3"));
  // Another printer's name that merely begins the same.
  fake.files.PutFile("C:\\Pelko\\Logs\\Office_2_20261209.xml",
                     day("2026/12/09", "11:00:00", "bob", "9"));
  CtlRun list = Ctl({"list"});
  EXPECT_NE(list.out.find("2026/12/08 10:31:02 alice 3 pages"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("NO"), std::string::npos);
}

TEST_F(PelkoctlTest, CheckSaysAllIsWellOnlyWhenItIs) {
  Healthy();
  CtlRun well = Ctl({"check"});
  EXPECT_EQ(well.status, 0) << well.out;
  EXPECT_NE(well.out.find("all is well"), std::string::npos);
}

TEST_F(PelkoctlTest, CheckNamesEachFault) {
  Healthy();
  fake.registry.PutDword(settings::kEmailAlert, 1);
  fake.registry.PutString(settings::kEmailAlertFreq, "60");
  fake.registry.PutString("Software\\Pelko\\MailServer", "smtp.example.org");
  fake.launcher.checkResult = {LaunchStatus::kRefused, "C:\\Pelko is writable by others"};
  fake.spooler.RemoveQueue("Office");
  probe.notRunning = "no process runs pelkomon";
  probe.unwritable = "C:\\Pelko\\Logs";
  probe.warnings = {"CUPS policy 'default' lets any user name a job's owner"};
  CtlRun run = Ctl({"check"});
  EXPECT_EQ(run.status, kCheckFault);
  probe.unwritable.clear();
  probe.groupWritable = "C:\\Pelko\\Logs";
  run.out += Ctl({"check"}).out;
  for (std::string said :
       {"FAULT  setting EmailAlertFreq", "the spooler has no such queue",
        "Logs folder C:\\Pelko\\Logs: not writable by the agent's service: mode 0555",
        "would be refused: C:\\Pelko is writable by others",
        "mail settings incomplete: MailFrom, MailTo", "the agent is not running",
        "WARN   CUPS policy 'default'",
        "WARN   Logs folder C:\\Pelko\\Logs: group pelko may write it, and so delete or rename"}) {
    EXPECT_NE(run.out.find(said), std::string::npos) << said << "\n" << run.out;
  }
}

// Colour pages billed at the mono price where nobody said so, and prices
// the agent would misread; a queue whose colour is unknown is not named.
TEST_F(PelkoctlTest, CheckNamesAColourPrinterWithoutAColourPriceAndPricesMisread) {
  Healthy();
  fake.spooler.SetJobs("Lab", {});
  fake.spooler.SetJobs("Mono", {});
  ASSERT_EQ(Ctl({"add", "Lab", "--cost", "3"}).status, 0);
  ASSERT_EQ(Ctl({"add", "Mono", "--cost", "2"}).status, 0);
  fake.files.PutFile("C:\\Pelko\\Lab.seen", "");
  fake.files.PutFile("C:\\Pelko\\Mono.seen", "");
  fake.registry.PutDword(settings::kIsModified, 0);
  probe.color = {{"Office", true}, {"Mono", false}};
  CtlRun run = Ctl({"check"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("WARN   printer 1 'Office': the printer prints colour but has no colour "
                         "price: colour pages cost 20, the mono price (pelkoctl cost \"Office\" "
                         "--color-cost N"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("'Lab': the printer"), std::string::npos);
  EXPECT_EQ(run.out.find("'Mono': the printer"), std::string::npos);

  ASSERT_EQ(Ctl({"cost", "Office", "--color-cost", "20"}).status, 0);
  EXPECT_EQ(Ctl({"check"}).status, 0);
  fake.registry.PutString(settings::PrinterPaperFactors(2), "A3=2,A3=3");
  fake.registry.PutDword(settings::PrinterDuplexDiscount(2), 150);
  fake.registry.PutString(settings::PrinterColorCost(3), "40");
  run = Ctl({"check"});
  for (std::string said :
       {"FAULT  printer 2 'Lab': its paper factors \"A3=2,A3=3\" (REG_SZ): A3 is given two factors",
        "WARN   printer 2 'Lab': its two-sided discount is 150%, taken as 100%",
        "FAULT  printer 3 'Mono': its colour price is stored as \"40\" (REG_SZ), which the agent "
        "ignores"}) {
    EXPECT_NE(run.out.find(said), std::string::npos) << said << "\n" << run.out;
  }
  EXPECT_EQ(run.out.find("ok     every setting is stored"), std::string::npos) << run.out;
}

// Pages the agent keeps on disk until it can write the log are not billed
// yet: the check names the printer and what waits, and is not well.
TEST_F(PelkoctlTest, CheckNamesPagesHeldPending) {
  Healthy();
  JobRecord job;
  job.jobId = 7;
  job.pages = 3;
  job.cost = 15;
  job.userName = "alice";
  job.documentName = "report";
  fake.files.PutFile(PendingPagesPath(fake.env, "Office"), EncodePendingPages({job, job}));
  CtlRun run = Ctl({"check"});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("WARN   printer 'Office': 2 job(s), 6 page(s) held pending"),
            std::string::npos)
      << run.out;
}

// What the agent said lately is shown, the last of each kind, and does
// not fail a check that finds nothing wrong now.
TEST_F(PelkoctlTest, CheckShowsTheLastTroubleOfEachKind) {
  Healthy();
  probe.said = {"09:00 Cannot write /p/Logs/Office_1.xml: busy; 3 pages kept pending",
                "09:01 Mail program /p/Sendrik.exe refused: writable by others",
                "09:02 Cannot write /p/Logs/Office_1.xml: busy; 5 pages kept pending"};
  CtlRun run = Ctl({"check"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find("09:00"), std::string::npos) << "only the last of a kind";
  EXPECT_NE(run.out.find("note   the agent said 09:01 Mail program"), std::string::npos) << run.out;
  EXPECT_NE(
      run.out.find("note   the agent said 09:02 Cannot write /p/Logs/Office_1.xml: busy; 5 pages"),
      std::string::npos);
  EXPECT_LT(run.out.find("09:01"), run.out.find("09:02"));
  std::vector<std::string> many;
  for (int i = 0; i < 30; ++i) many.push_back("t kind" + std::to_string(i) + ": x");
  EXPECT_EQ(LastOfEachKind(many, 10).size(), 10u);
  EXPECT_EQ(LastOfEachKind(many, 10).back(), "t kind29: x");
}

TEST_F(PelkoctlTest, CheckTellsAMissingFolderFromAnUnwritableOne) {
  Healthy();
  fake.registry.PutString(settings::kPath, "C:\\Nowhere");
  CtlRun run = Ctl({"check"});
  EXPECT_NE(run.out.find("Path C:\\Nowhere: the folder is missing"), std::string::npos) << run.out;
  fake.files.AddFolder("C:\\Bare");
  fake.registry.PutString(settings::kPath, "C:\\Bare");
  fake.registry.PutDword(settings::kAppIsRunning, 0);
  fake.registry.PutDword(settings::kPrinterCount, 0);
  run = Ctl({"check"});
  EXPECT_NE(run.out.find("Logs folder C:\\Bare\\Logs: the folder is missing"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("AppIsRunning is not 1"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("no printer is configured"), std::string::npos);
  fake.registry.Remove(settings::kPath);
  EXPECT_NE(Ctl({"check"}).out.find("Path is not set"), std::string::npos);
}

// A store written by hand, as an administrator finds it: every row is
// shown, every fix named is a command that works, no printer is written
// over unseen.
TEST_F(PelkoctlTest, CommandsCopeWithAStoreWrittenByHand) {
  Healthy();
  for (std::string name : {"Accounting", "Lab", "Sales", "Office2"}) fake.spooler.SetJobs(name, {});
  ASSERT_EQ(Ctl({"add", "Accounting", "--cost", "3"}).status, 0);
  // reg.exe without /t: the cost is text, read as 0.
  fake.registry.PutString(settings::PrinterCost(2), "7");
  CtlRun list = Ctl({"list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("2!   Accounting           ?  yes"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("! Printer2Cost is stored as \"7\" (REG_SZ), which the agent reads as 0: "
                          "its pages cost nothing (pelkoctl cost \"Accounting\" 7)"),
            std::string::npos)
      << list.out;
  CtlRun check = Ctl({"check"});
  EXPECT_EQ(check.out.find("ok     every setting is stored"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("FAULT  printer 2 'Accounting': Printer2Cost"), std::string::npos);
  EXPECT_EQ(Ctl({"cost", "Accounting", "7"}).status, 0);
  EXPECT_EQ(AgentDword(settings::PrinterCost(2)), 7u);
  EXPECT_EQ(Ctl({"list"}).out.find('!'), std::string::npos);

  // nPrinters larger than the printers there: the empty slot is a row, and
  // the count it names takes every printer in.
  fake.registry.PutDword(settings::kPrinterCount, 3);
  list = Ctl({"list"});
  EXPECT_NE(list.out.find("1    Office"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("3!   -"), std::string::npos) << list.out;
  check = Ctl({"check"});
  EXPECT_EQ(check.status, kCheckFault);
  EXPECT_NE(check.out.find("FAULT  printer 3: slot 3 has no printer, but nPrinters is 3 "
                           "(pelkoctl set nPrinters 2)"),
            std::string::npos)
      << check.out;
  // Or a printer added fills it.
  EXPECT_NE(Ctl({"add", "Lab", "--cost", "1"}).out.find("as printer 3"), std::string::npos);

  // A printer left above a count lowered by hand: shown, and never written
  // over, forced or not.
  fake.registry.PutString(settings::PrinterName(4), "Sales");
  CtlRun add = Ctl({"add", "Office2", "--cost", "1", "--force"});
  EXPECT_EQ(add.status, 1);
  EXPECT_NE(add.err.find("slot 4 holds 'Sales' above nPrinters 3"), std::string::npos) << add.err;
  EXPECT_EQ(AgentString(settings::PrinterName(4)), "Sales");
  EXPECT_NE(Ctl({"list"}).out.find("4!   Sales"), std::string::npos);
  EXPECT_NE(Ctl({"check"}).out.find("FAULT  printer 4 'Sales': slot 4 holds 'Sales' above "
                                    "nPrinters 3: it is not accounted (pelkoctl set nPrinters 4"),
            std::string::npos);
  EXPECT_EQ(Ctl({"cost", "Sales", "9"}).status, 0);
  EXPECT_EQ(Ctl({"set", "nPrinters", "4"}).status, 0);
  EXPECT_EQ(AgentDword(settings::PrinterCost(4)), 9u);
  EXPECT_EQ(Ctl({"remove", "Sales"}).status, 0);
  EXPECT_EQ(Ctl({"add", "Office2", "--cost", "1"}).status, 0);
  EXPECT_EQ(AgentString(settings::PrinterName(4)), "Office2");
}

// check as a monitoring probe reads it: exit 0, 1 or 2, the summary first
// in the probe form, accepted warnings shown but not counted, the root
// cause said once with its fix, and the platform's own commands.
TEST_F(PelkoctlTest, CheckIsAMonitoringProbe) {
  Healthy();
  EXPECT_EQ(Ctl({"check"}).status, kCheckOk);
  probe.warnings = {"queue 'Office' accepts raw jobs (lp -o raw): their pages are not counted"};
  CtlRun run = Ctl({"check", "--PROBE"});
  EXPECT_EQ(run.status, kCheckWarning);
  EXPECT_EQ(run.out.rfind("PELKO WARNING - 0 fault(s), 1 warning(s): queue 'Office' accepts raw "
                          "jobs",
                          0),
            0u)
      << run.out;
  EXPECT_NE(run.out.find("WARN   queue 'Office' accepts raw jobs (lp -o raw): their pages are not "
                         "counted [raw-jobs]\n"),
            std::string::npos);
  ASSERT_EQ(Ctl({"set", "AcceptedWarnings", "raw-jobs"}).status, 0);
  run = Ctl({"check"});
  EXPECT_EQ(run.status, kCheckOk) << run.out;
  EXPECT_NE(run.out.find("note   queue 'Office' accepts raw jobs"), std::string::npos);
  EXPECT_NE(run.out.find("all is well (1 accepted warning(s))\n"), std::string::npos) << run.out;

  // A printer written with reg.exe and no IsModified: named, with the
  // Windows command that has the agent take it up.
  fake.spooler.SetJobs("Lab", {});
  fake.registry.PutString(settings::PrinterName(2), "Lab");
  fake.registry.PutDword(settings::PrinterCost(2), 4);
  fake.registry.PutDword(settings::kPrinterCount, 2);
  run = Ctl({"check", "--probe"});
  EXPECT_EQ(run.status, kCheckFault);
  EXPECT_EQ(run.out.rfind("PELKO CRITICAL - 1 fault(s), 0 warning(s) (1 accepted warning(s)): "
                          "printer 2 'Lab' is not watched",
                          0),
            0u)
      << run.out;
  EXPECT_NE(run.out.find("reg add HKLM\\Software\\Pelko /v IsModified /t REG_DWORD /d 1 /f)"),
            std::string::npos);
  EXPECT_EQ(run.out.find("lpstat"), std::string::npos);

  // The spooler down: one fault for all its queues, and none of what
  // follows from it.
  fake.spooler.FailLists(SpoolStatus::kUnavailable);
  probe.color = {{"Office", true}};
  run = Ctl({"check"});
  EXPECT_NE(
      run.out.find("FAULT  the spooler does not answer (asked about 'Office', 'Lab'): nothing "
                   "is accounted while it does not (sc start Spooler)"),
      std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("colour"), std::string::npos);
  EXPECT_EQ(run.out.find("is not watched"), std::string::npos);
  fake.spooler.FailLists(SpoolStatus::kOk);

  // The central database: away, then behind.
  FakeSqlDatabase database;
  fake.env.sql = &database;
  fake.registry.PutString("Software\\Pelko\\DatabaseConnection", "DSN=pelko");
  fake.registry.PutString("Software\\Pelko\\DatabasePassword", "secret");
  fake.files.PutFile("C:\\Pelko\\Logs\\Office_20261208.xml", "<log></log>");
  database.down = true;
  EXPECT_NE(Ctl({"check"}).out.find("FAULT  the central database cannot be reached within 4 s: "
                                    "08001: could not connect to server; the jobs wait"),
            std::string::npos);
  database.down = false;
  EXPECT_NE(Ctl({"check"}).out.find("WARN   the central database (PostgreSQL) lacks 1 daily log(s) "
                                    "as they are now"),
            std::string::npos);

  // A store others can change: one line, its fix, nothing after it.
  probe.refused = "the settings store /r can be changed by others (chmod -R go-w '/r')";
  run = Ctl({"check"});
  EXPECT_EQ(run.status, kCheckFault);
  EXPECT_EQ(run.out, "FAULT  " + probe.refused + "\n1 fault(s), 0 warning(s)\n");
  CtlRun list = Ctl({"list"});
  EXPECT_EQ(list.status, 1);
  EXPECT_EQ(list.err, "pelkoctl: " + probe.refused + "\n");
  EXPECT_EQ(Ctl({"check", "--bogus"}).status, kCheckUnknown);
}

// Windows conventions: /? and switches in any case; show tells the type a
// value is stored with; set Path warns of a folder that is not there.
TEST_F(PelkoctlTest, SwitchesAsWindowsHasThemAndShowTellsStoredTypes) {
  EXPECT_EQ(Ctl({"/?"}).out.find("Usage: pelkoctl"), 0u);
  EXPECT_NE(Ctl({"--help"}).out.find("HKLM\\Software\\Pelko"), std::string::npos);
  fake.spooler.SetJobs("Office", {});
  EXPECT_EQ(Ctl({"ADD", "Office", "--COST", "20", "--Color-Cost=30"}).status, 0);
  EXPECT_EQ(ReadTariff(fake.registry, 1).colorCost, 30u);
  EXPECT_EQ(Ctl({"List"}).status, 0);
  const uint8_t sealed[] = {1, 0, 0, 0, 0xd0};
  RegKey key = nullptr;
  fake.registry.CreateKey(RootKey::kLocalMachine, "Software\\Pelko", kKeyWrite, &key);
  fake.registry.SetValue(key, "MailPassword", kRegBinary, sealed, sizeof sealed);
  fake.registry.CloseKey(key);
  EXPECT_NE(Ctl({"show", "MailPassword"}).out.find("MailPassword        REG_BINARY (set)"),
            std::string::npos);
  CtlRun path = Ctl({"set", "Path", "C:\\Nowhere"});
  EXPECT_EQ(path.status, 0);
  EXPECT_NE(path.out.find("warning: C:\\Nowhere is missing"), std::string::npos) << path.out;
  fake.files.AddFolder("C:\\Other");
  path = Ctl({"set", "Path", "C:\\Other"});
  EXPECT_NE(
      path.out.find("warning: a running agent gathers and mails the logs of C:\\Nowhere until "
                    "it starts again (sc stop Pelkomon, then sc start Pelkomon)"),
      std::string::npos)
      << path.out;
}

// Debian's default: anyone may submit, and the owner is the name the
// client sends.
constexpr char kDebianPolicy[] = R"(
<Policy default>
  JobPrivateAccess default
  <Limit Create-Job Print-Job Print-URI Validate-Job>
    Order deny,allow
  </Limit>
  <Limit Send-Document Send-URI Hold-Job Cancel-Job>
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit All>
    AuthType Default
    Require valid-user
  </Limit>
</Policy>
<Policy authenticated>
  <Limit Create-Job Print-Job Print-URI Validate-Job>
    AuthType Default
    Require valid-user
    Order deny,allow
  </Limit>
</Policy>
<Policy fallback>
  <Limit All>
    AuthType Negotiate
    Require valid-user
  </Limit>
</Policy>
<Policy open>
</Policy>
)";

TEST(CupsPolicy, TrustsClientNamesUnlessJobCreationNeedsALogin) {
  const std::vector<std::string> trusting = PoliciesTrustingClientNames(kDebianPolicy);
  EXPECT_EQ(trusting, (std::vector<std::string>{"default", "open"}));
  EXPECT_EQ(DefaultPolicyName(kDebianPolicy), "default");
  EXPECT_EQ(DefaultPolicyName("DefaultPolicy authenticated\n"), "authenticated");
  // AuthType None is no authentication.
  EXPECT_EQ(PoliciesTrustingClientNames("<Policy p>\n<Limit All>\nAuthType None\n"
                                        "Require valid-user\n</Limit>\n</Policy>\n"),
            (std::vector<std::string>{"p"}));
}

}  // namespace
}  // namespace pelko::ctl
