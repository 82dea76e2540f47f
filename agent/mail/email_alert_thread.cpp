#include "agent/mail/email_alert_thread.h"

#include <algorithm>
#include <limits>

#include "agent/config/setting_table.h"
#include "agent/config/settings.h"
#include "agent/logs/global_log.h"
#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"

namespace pelko {

std::string RemoteStylesheet(const std::string& host) {
  return "<?xml-stylesheet href='http://" + host + "/Pelko/Tavisk.xsl' type='text/xsl' ?>";
}

std::string StylesheetHostOf(const std::string& setting) {
  if (setting.empty()) return kDefaultStylesheetHost;
  uint32_t ignored = 0;
  // A quote or a space would break the instruction it goes into.
  if (!RejectValue(*FindSetting("StylesheetHost"), setting, &ignored).empty()) {
    return kDefaultStylesheetHost;
  }
  return setting;
}

LaunchResult VetMailProgram(const Env& env, const std::string& folder) {
  const char separator = env.files->Separator();
  LaunchResult vetted = env.launcher->Vet(folder);
  // A site may let a group write the logs; it may not run anything as us.
  if (vetted.Started()) vetted = env.launcher->VetDataFolder(LogsFolder(folder, separator));
  if (vetted.Started()) vetted = env.launcher->Vet(folder + separator + kMailProgramName);
  return vetted;
}

uint32_t MsUntilTimeOfDay(const LocalTime& now, int minutes) {
  constexpr int64_t kDayMs = 24LL * 60 * 60 * 1000;
  const int64_t nowMs = ((now.hour * 60LL + now.minute) * 60 + now.second) * 1000 + now.millisecond;
  int64_t wait = minutes * 60000LL - nowMs;
  if (wait <= 0) wait += kDayMs;
  return static_cast<uint32_t>(wait);
}

uint32_t AlertWaitMs(uint32_t minutes) {
  const uint64_t ms = static_cast<uint64_t>(minutes) * 60000;
  return static_cast<uint32_t>(
      std::clamp<uint64_t>(ms, kMinimumAlertWaitMs, std::numeric_limits<uint32_t>::max()));
}

void EmailAlertThread::Run() {
  RegistryDwordValue frequency(*env.registry, settings::kEmailAlertFreq);
  RegistryStringValue path(*env.registry, settings::kPath);
  for (;;) Pause(Step(frequency, path));
}

uint32_t EmailAlertThread::Step(RegistryDwordValue& frequency, RegistryStringValue& path) {
  int minutes = 0;
  const std::string at = RegistryStringValue(*env.registry, settings::kEmailAlertTime).Read();
  if (at.empty()) return Cycle(frequency, path);
  if (!ParseTimeOfDay(at, &minutes)) {
    SayTrouble(
        env, EventKind::kSettingInvalid, Severity::kWarning, "alert time " + at,
        "EmailAlertTime \"" + at + "\" is no time HH:MM; mailing every EmailAlertFreq minutes");
    return Cycle(frequency, path);
  }
  const LocalTime now = env.clock->Now();
  const int today = now.year * 10000 + now.month * 100 + now.day;
  // An agent started again after today's mailing must not send it twice:
  // ToSendFile names today's global log once it was handed over today.
  if (lastDailyMail == 0 && RegistryStringValue(*env.registry, settings::kToSendFile).Read() ==
                                LogStore(env).ComposePath(kGlobalLogBase, "xml", now)) {
    lastDailyMail = today;
  }
  const int late = now.hour * 60 + now.minute - minutes;
  if (late >= 0 && late < kTimeOfDayGraceMinutes && lastDailyMail != today) {
    lastDailyMail = today;
    Cycle(frequency, path);
  }
  return std::min(MsUntilTimeOfDay(env.clock->Now(), minutes), kTimeOfDayLookMs);
}

uint32_t EmailAlertThread::Cycle(RegistryDwordValue& frequency, RegistryStringValue& path) {
  // Written once, as it is mailed: the path comes from the build that chose
  // it, so a cycle across midnight mails the file it wrote.
  const std::string host =
      StylesheetHostOf(RegistryStringValue(*env.registry, settings::kStylesheetHost).Read());
  const std::string logPath =
      BuildGlobalLog(env, logLocks, Pauser(), globalPath, RemoteStylesheet(host));
  if (!logPath.empty()) MailGlobalLog(logPath, path);
  return AlertWaitMs(frequency.Read());
}

void EmailAlertThread::MailGlobalLog(const std::string& logPath, RegistryStringValue& path) {
  // One mail program at a time: a slow server must not gather them, each
  // holding its memory and the log, up to the cap of a send.
  if (lastMail != nullptr && lastMail->Running()) {
    SayTrouble(env, EventKind::kMailSkipped, Severity::kWarning, "mail skipped",
               "Mail program of the cycle before still running: this cycle's mail skipped");
    return;
  }
  lastMail.reset();
  // Never start a program from a place no one configured.
  const std::string folder = path.Get();
  if (folder.empty()) return;
  // Named before the start: the mail program reads it as it starts.
  RegistryStringValue toSend(*env.registry, settings::kToSendFile);
  toSend.Set(logPath);
  const std::string program = folder + env.files->Separator() + kMailProgramName;
  LaunchResult started = VetMailProgram(env, folder);
  if (started.Started()) started = env.launcher->Launch(program);
  if (started.Started()) {
    lastMail = std::move(started.program);
    return;
  }
  // A refusal means someone could have put their own program there for
  // the agent to run: worth more than a warning.
  const bool refused = started.status == LaunchStatus::kRefused;
  SayTrouble(
      env, refused ? EventKind::kMailProgramRefused : EventKind::kMailProgramNotStarted,
      refused ? Severity::kError : Severity::kWarning, "mail " + started.reason,
      "Mail program " + program + (refused ? " refused: " : " not started: ") + started.reason);
}

}  // namespace pelko
