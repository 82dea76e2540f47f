#include "agent/mail/email_alert_thread.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_env.h"
#include "tests/lib/same_log.h"

namespace pelko {
namespace {

const char kDaily[] =
    "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' "
    "type='text/xsl' ?><log> <type>HP</type> <date>2026/12/06</date><entry> "
    "<date>2026/12/06</date><time>09:05:03</time> <id>7</id><user>paul</user> "
    "<printer>HP</printer><doc>Report.doc</doc> <pages>3</pages> <cost>15</cost></entry>"
    "<entry><user>Total</user><cost>15</cost></entry></log>";
const char kGlobal[] = "C:\\Pelko\\Logs\\GlobalLog_20261206.xml";
const char kToSend[] = "Software\\Pelko\\ToSendFile";

class EmailAlertTest : public ::testing::Test {
 protected:
  EmailAlertTest()
      : globalPath((fake.registry.PutString("Software\\Pelko\\Path", "C:\\Pelko"), fake.registry),
                   "Software\\Pelko\\Path"),
        thread(fake.env, locks, globalPath),
        frequency(fake.registry, "Software\\Pelko\\EmailAlertFreq"),
        path(fake.registry, "Software\\Pelko\\Path") {
    fake.files.AddFolder("C:\\Pelko\\Logs");
    fake.files.PutFile("C:\\Pelko\\Logs\\HP_20261206.xml", kDaily);
  }

  FakeEnv fake;
  LogLocks locks;
  RegistryStringValue globalPath;
  EmailAlertThread thread;
  RegistryDwordValue frequency;
  RegistryStringValue path;
};

TEST_F(EmailAlertTest, CycleMailsTheRebuiltGlobalLogWithARemoteStylesheet) {
  std::string atLaunch, namedAtLaunch;
  fake.launcher.onLaunch = [&](const std::string&) {
    atLaunch = fake.files.Text(kGlobal).value_or("");
    namedAtLaunch = fake.registry.String(kToSend).value_or("");
  };
  thread.Cycle(frequency, path);
  ASSERT_EQ(fake.launcher.launched, std::vector<std::string>{"C:\\Pelko\\Sendrik.exe"});
  const std::string expectedStart =
      std::string("<?xml version='1.0' encoding='ISO-8859-1' ?> ") + StylesheetRemote + "<log>";
  EXPECT_EQ(atLaunch.substr(0, expectedStart.size()), expectedStart);
  EXPECT_NE(atLaunch.find("<id>7</id>"), std::string::npos) << "complete before the start";
  EXPECT_EQ(atLaunch.substr(atLaunch.size() - 6), "</log>");
  EXPECT_EQ(atLaunch.find("Tavisk.xsl' type"), atLaunch.find("/Pelko/Tavisk.xsl' type") + 7);
  EXPECT_EQ(namedAtLaunch, kGlobal);
  EXPECT_TRUE(SameLog(fake.files.Text(kGlobal), atLaunch));
}

TEST_F(EmailAlertTest, ToSendFileIsWrittenOnlyWhenItChanges) {
  fake.registry.PutString(kToSend, kGlobal);
  thread.Cycle(frequency, path);
  EXPECT_EQ(fake.registry.writes, 0);
  EXPECT_EQ(fake.launcher.launched.size(), 1u);
  fake.clock.SetNow(LocalTime{2026, 12, 7, 8, 0, 0, 0});
  thread.Cycle(frequency, path);
  EXPECT_EQ(fake.registry.String(kToSend), "C:\\Pelko\\Logs\\GlobalLog_20261207.xml");
  EXPECT_EQ(fake.registry.writes, 1);
}

// With EmailAlertTime the report goes once a day at that local time, not
// at the thread's start nor every EmailAlertFreq minutes.
TEST_F(EmailAlertTest, AtATimeOfDayItMailsOnceADay) {
  fake.registry.PutString("Software\\Pelko\\EmailAlertTime", "07:30");
  fake.registry.PutDword("Software\\Pelko\\EmailAlertFreq", 5);
  fake.clock.SetNow(LocalTime{2026, 12, 6, 6, 0, 0, 0});
  std::vector<LocalTime> mailedAt;
  fake.launcher.onLaunch = [&](const std::string&) { mailedAt.push_back(fake.clock.Now()); };
  // Two days and a half of the thread's loop.
  const uint64_t end = fake.clock.MonotonicMs() + 60ull * 60 * 60 * 1000;
  int turns = 0;
  while (fake.clock.MonotonicMs() < end && ++turns < 10000) {
    const uint32_t wait = thread.Step(frequency, path);
    ASSERT_GT(wait, 0u);
    ASSERT_LE(wait, kTimeOfDayLookMs);
    fake.clock.Advance(wait);
  }
  ASSERT_EQ(mailedAt.size(), 3u);
  for (std::size_t i = 0; i < mailedAt.size(); ++i) {
    EXPECT_EQ(mailedAt[i].day, 6 + static_cast<int>(i));
    EXPECT_EQ(mailedAt[i].hour, 7);
    EXPECT_EQ(mailedAt[i].minute, 30);
  }
}

TEST_F(EmailAlertTest, ATimeOfDayJustPastIsStillMailedLaterNot) {
  fake.registry.PutString("Software\\Pelko\\EmailAlertTime", "07:30");
  fake.clock.SetNow(LocalTime{2026, 12, 6, 7, 45, 0, 0});
  thread.Step(frequency, path);
  EXPECT_EQ(fake.launcher.launched.size(), 1u) << "started a quarter of an hour late";
  thread.Step(frequency, path);
  EXPECT_EQ(fake.launcher.launched.size(), 1u) << "once a day";
  fake.clock.SetNow(LocalTime{2026, 12, 7, 9, 0, 0, 0});
  thread.Step(frequency, path);
  EXPECT_EQ(fake.launcher.launched.size(), 1u) << "an hour and a half late waits for tomorrow";
  EXPECT_EQ(MsUntilTimeOfDay(LocalTime{2026, 12, 7, 9, 0, 0, 0}, 7 * 60 + 30),
            (22u * 60 + 30) * 60000);
  // Without a time, or with a time that is none, every EmailAlertFreq minutes.
  fake.registry.PutString("Software\\Pelko\\EmailAlertTime", "7h30");
  fake.registry.PutDword("Software\\Pelko\\EmailAlertFreq", 5);
  EXPECT_EQ(thread.Step(frequency, path), 5u * 60000);
  EXPECT_EQ(fake.launcher.launched.size(), 2u);
  EXPECT_EQ(fake.logger.Count("EmailAlertTime \"7h30\" is no time"), 1);
}

TEST_F(EmailAlertTest, AnAgentStartedAgainAfterTodaysMailDoesNotSendItTwice) {
  fake.registry.PutString("Software\\Pelko\\EmailAlertTime", "07:30");
  fake.clock.SetNow(LocalTime{2026, 12, 6, 7, 30, 10, 0});
  thread.Step(frequency, path);
  ASSERT_EQ(fake.launcher.launched.size(), 1u);
  fake.clock.SetNow(LocalTime{2026, 12, 6, 7, 40, 0, 0});
  EmailAlertThread restarted(fake.env, locks, globalPath);
  restarted.Step(frequency, path);
  EXPECT_EQ(fake.launcher.launched.size(), 1u);
  fake.clock.SetNow(LocalTime{2026, 12, 7, 7, 30, 0, 0});
  restarted.Step(frequency, path);
  EXPECT_EQ(fake.launcher.launched.size(), 2u) << "the next day's goes";
}

TEST_F(EmailAlertTest, TheStylesheetHostIsASetting) {
  fake.registry.PutString("Software\\Pelko\\StylesheetHost", "intranet.example.org:8080");
  thread.Cycle(frequency, path);
  EXPECT_NE(
      fake.files.Text(kGlobal)->find("href='http://intranet.example.org:8080/Pelko/Tavisk.xsl'"),
      std::string::npos);
  // One that would break the instruction is not taken.
  EXPECT_EQ(StylesheetHostOf("x' onload='y"), kDefaultStylesheetHost);
  EXPECT_EQ(StylesheetHostOf(""), kDefaultStylesheetHost);
}

TEST_F(EmailAlertTest, TheMailedLogNamesTheStylesheetOnTheWebServer) {
  EXPECT_EQ(RemoteStylesheet(), StylesheetRemote);
  EXPECT_EQ(RemoteStylesheet("h:81"),
            "<?xml-stylesheet href='http://h:81/Pelko/Tavisk.xsl' type='text/xsl' ?>");
}

TEST_F(EmailAlertTest, PathChangedWhileRunning) {
  fake.files.AddFolder("D:\\New\\Logs");
  fake.registry.PutString("Software\\Pelko\\Path", "D:\\New");
  thread.Cycle(frequency, path);
  EXPECT_TRUE(fake.files.Text("D:\\New\\Logs\\GlobalLog_20261206.xml").has_value());
  EXPECT_FALSE(fake.files.Text(kGlobal).has_value());
  EXPECT_NE(fake.files.Text("D:\\New\\Logs\\GlobalLog_20261206.xml")->find("<id>7</id>"),
            std::string::npos)
      << "the listing follows the path the agent started with";
  EXPECT_EQ(fake.launcher.launched, std::vector<std::string>{"C:\\Pelko\\Sendrik.exe"});
}

TEST_F(EmailAlertTest, NoGlobalLogNoMail) {
  fake.registry.PutString("Software\\Pelko\\Path", "E:\\Nowhere");  // no logs folder there
  thread.Cycle(frequency, path);
  EXPECT_TRUE(fake.launcher.launched.empty());
  EXPECT_FALSE(fake.registry.Has(kToSend));
}

TEST_F(EmailAlertTest, AGlobalLogHeldOpenEndsTheCycle) {
  thread.Cycle(frequency, path);
  const std::string before = *fake.files.Text(kGlobal);
  fake.files.Hold(kGlobal);  // the mail program still reads it
  fake.registry.Remove(kToSend);
  thread.Cycle(frequency, path);
  fake.files.Release(kGlobal);
  EXPECT_EQ(fake.launcher.launched.size(), 1u);
  EXPECT_FALSE(fake.registry.Has(kToSend));
  EXPECT_TRUE(SameLog(fake.files.Text(kGlobal), before));
}

TEST_F(EmailAlertTest, NoProgramStartedFromAnUnconfiguredPlace) {
  FakeEnv bare;
  LogLocks bareLocks;
  RegistryStringValue noPath(bare.registry, "Software\\Pelko\\Path");
  EmailAlertThread lonely(bare.env, bareLocks, noPath);
  bare.files.AddFolder("\\Logs");
  RegistryDwordValue freq(bare.registry, "Software\\Pelko\\EmailAlertFreq");
  RegistryStringValue none(bare.registry, "Software\\Pelko\\Path");
  EXPECT_EQ(lonely.Cycle(freq, none), kMinimumAlertWaitMs);
  EXPECT_TRUE(bare.launcher.launched.empty());
  EXPECT_FALSE(bare.registry.Has(kToSend));
}

TEST_F(EmailAlertTest, AMailProgramNotStartedIsSaidOnceWithItsReason) {
  fake.launcher.result = {LaunchStatus::kRefused, "C:\\Pelko can be written by every user"};
  thread.Cycle(frequency, path);
  thread.Cycle(frequency, path);
  EXPECT_EQ(fake.logger.Count("Mail program C:\\Pelko\\Sendrik.exe refused: C:\\Pelko can be "
                              "written by every user"),
            1);
  fake.launcher.result = {LaunchStatus::kFailed, "C:\\Pelko\\Sendrik.exe: No such file"};
  thread.Cycle(frequency, path);
  EXPECT_EQ(fake.logger.Count("not started: C:\\Pelko\\Sendrik.exe: No such file"), 1);
  EXPECT_EQ(fake.logger.Lines().size(), 2u);
  EXPECT_EQ(fake.logger.Kinds(), (std::vector<EventKind>{EventKind::kMailProgramRefused,
                                                         EventKind::kMailProgramNotStarted}));
  EXPECT_EQ(fake.registry.String(kToSend), kGlobal) << "the cycle itself goes on as before";
}

// SYSTEM runs the mail program from Path and it writes in Logs: a Path,
// Logs or program that someone else could change is refused and said as an
// error, one that is missing is not started and said as a warning; either
// way nothing is started and the next place is not looked at.
TEST_F(EmailAlertTest, TheMailProgramStartsOnlyFromPlacesNoOneElseCanChange) {
  const std::string kLogs = "C:\\Pelko\\Logs", kProgram = "C:\\Pelko\\Sendrik.exe";
  struct Case {
    std::string place;
    LaunchResult answer;
    std::string said;  // empty: started
    size_t looked;     // places vetted
    Severity severity = Severity::kError;
  } cases[] = {
      {"", {LaunchStatus::kStarted, ""}, "", 3},
      {"C:\\Pelko",
       {LaunchStatus::kRefused, "C:\\Pelko can be changed by BUILTIN\\Users"},
       "Mail program C:\\Pelko\\Sendrik.exe refused: C:\\Pelko can be changed by "
       "BUILTIN\\Users",
       1},
      {kLogs,
       {LaunchStatus::kRefused, kLogs + " is owned by PC\\mallory"},
       "Mail program C:\\Pelko\\Sendrik.exe refused: C:\\Pelko\\Logs is owned by PC\\mallory",
       2},
      {kProgram,
       {LaunchStatus::kRefused, kProgram + " has no access list: everyone can change it"},
       "Mail program C:\\Pelko\\Sendrik.exe refused: C:\\Pelko\\Sendrik.exe has no access "
       "list: everyone can change it",
       3},
      {kProgram,
       {LaunchStatus::kFailed, kProgram + " is missing"},
       "Mail program C:\\Pelko\\Sendrik.exe not started: C:\\Pelko\\Sendrik.exe is missing",
       3,
       Severity::kWarning},
  };
  for (const Case& c : cases) {
    FakeEnv one;
    one.registry.PutString("Software\\Pelko\\Path", "C:\\Pelko");
    one.files.AddFolder(kLogs);
    one.files.PutFile("C:\\Pelko\\Logs\\HP_20261206.xml", kDaily);
    if (!c.place.empty()) one.launcher.vetAnswers[c.place] = c.answer;
    LogLocks oneLocks;
    RegistryStringValue oneGlobal(one.registry, "Software\\Pelko\\Path");
    RegistryDwordValue freq(one.registry, "Software\\Pelko\\EmailAlertFreq");
    RegistryStringValue onePath(one.registry, "Software\\Pelko\\Path");
    EmailAlertThread mailer(one.env, oneLocks, oneGlobal);
    mailer.Cycle(freq, onePath);
    SCOPED_TRACE(c.place.empty() ? "all guarded" : c.place);
    EXPECT_EQ(one.launcher.vetted.size(), c.looked);
    EXPECT_EQ(one.launcher.launched.size(), c.said.empty() ? 1u : 0u);
    EXPECT_EQ(one.logger.Lines(),
              c.said.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.said});
    if (!c.said.empty()) {
      EXPECT_EQ(one.logger.Severities(), std::vector<Severity>{c.severity});
    }
  }
}

// A slow SMTP server once let a new mail program start at every cycle
// while the ones before still ran: three at once, up to about thirty.
TEST_F(EmailAlertTest, NoNewMailProgramWhileTheLastOneRuns) {
  *fake.launcher.running = true;
  thread.Cycle(frequency, path);
  thread.Cycle(frequency, path);
  thread.Cycle(frequency, path);
  EXPECT_EQ(fake.launcher.launched.size(), 1u);
  EXPECT_EQ(fake.logger.Count("still running: this cycle's mail skipped"), 1);
  *fake.launcher.running = false;
  thread.Cycle(frequency, path);
  EXPECT_EQ(fake.launcher.launched.size(), 2u);
}

TEST(AlertWait, FlooredAtAMinuteAndNeverWrapping) {
  EXPECT_EQ(AlertWaitMs(0), 60000u);
  EXPECT_EQ(AlertWaitMs(1), 60000u);
  EXPECT_EQ(AlertWaitMs(60), 3600000u);
  EXPECT_EQ(AlertWaitMs(71582), 71582u * 60000u);
  EXPECT_EQ(AlertWaitMs(71583), 0xFFFFFFFFu);
  EXPECT_EQ(AlertWaitMs(134217728), 0xFFFFFFFFu) << "would wrap to 0";
}

// The loop on a real thread: the first cycle at once, the next after the
// configured number of minutes, read afresh after each cycle.
TEST(EmailAlertThreadLoop, CyclesFollowTheFrequency) {
  FakeEnv fake(/*autoAdvanceClock=*/false);
  fake.env.threads = &PlatformThreads();
  fake.registry.PutString("Software\\Pelko\\Path", "C:\\Pelko");
  fake.registry.PutDword("Software\\Pelko\\EmailAlertFreq", 60);
  fake.files.AddFolder("C:\\Pelko\\Logs");
  LogLocks locks;
  RegistryStringValue globalPath(fake.registry, "Software\\Pelko\\Path");
  EmailAlertThread thread(fake.env, locks, globalPath);
  thread.Start();
  ASSERT_TRUE(fake.clock.WaitForSleepers(1));
  EXPECT_EQ(fake.launcher.launched.size(), 1u);
  fake.registry.PutDword("Software\\Pelko\\EmailAlertFreq", 5);
  fake.clock.Advance(60 * 60000 - 1);
  ASSERT_TRUE(fake.clock.WaitForSleepers(1));
  EXPECT_EQ(fake.launcher.launched.size(), 1u);
  const std::size_t waitsSoFar = fake.clock.Waits().size();
  fake.clock.Advance(1);
  ASSERT_TRUE(fake.clock.WaitForWaits(waitsSoFar + 1));
  EXPECT_EQ(fake.launcher.launched.size(), 2u);
  std::vector<uint32_t> pauses;
  for (uint32_t w : fake.clock.Waits()) {
    if (w >= 60000) pauses.push_back(w);
  }
  EXPECT_EQ(pauses, (std::vector<uint32_t>{3600000, 300000}));
  thread.Stop();
}

}  // namespace
}  // namespace pelko
