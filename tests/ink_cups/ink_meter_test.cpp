// The POSIX ink meter against a private cupsd, started by run_ink_test.sh
// with the queue Office, whose jobs are held printing: every document is
// measured while its job is still in CUPS.
#include <dirent.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/accounting/page_color.h"
#include "agent/platform/posix/cups/cups_server.h"
#include "agent/platform/posix/cups/ink_coverage.h"
#include "tests/lib/local_user.h"
#include "tests/lib/shell_output.h"

namespace pelko {
namespace {

using Clock = std::chrono::steady_clock;

std::string TestDir() { return std::getenv("PELKO_TEST_DIR"); }

// The files submitted to the queue as one job; the job id, or 0.
uint32_t Print(const std::string& paths, const std::string& queue = "Office") {
  const std::string out = Shell("lp -d " + queue + " " + paths);
  const std::size_t dash = out.find('-', out.find("request id is "));
  return dash == std::string::npos ? 0 : static_cast<uint32_t>(std::atoi(out.c_str() + dash + 1));
}

std::string Write(const std::string& name, const std::string& text) {
  const std::string path = TestDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  chmod(path.c_str(), 0644);
  return path;
}

InkLimits TestLimits(const std::string& account = "nobody") {
  InkLimits limits;
  limits.folder = TestDir() + "/ink";
  limits.account = account;
  return limits;
}

std::string Colours(const std::vector<PageInk>& pages) {
  std::string colours;
  for (const PageInk& page : pages)
    colours += IsColorPage(page, kDefaultColorThreshold) ? '1' : '0';
  return colours;
}

// The processes running as uid, by pid, with their program's path.
std::vector<std::pair<int, std::string>> ProcessesOf(uid_t uid) {
  std::vector<std::pair<int, std::string>> found;
  DIR* proc = opendir("/proc");
  while (dirent* entry = proc != nullptr ? readdir(proc) : nullptr) {
    const int pid = std::atoi(entry->d_name);
    struct stat st;
    if (pid <= 0 || stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0 || st.st_uid != uid) {
      continue;
    }
    char exe[512] = {};
    (void)!readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof exe - 1);
    found.emplace_back(pid, exe);
  }
  if (proc != nullptr) closedir(proc);
  return found;
}

// The real uid /proc tells for pid, or -1.
long RealUid(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Uid:", 0) == 0) return std::atol(line.c_str() + 4);
  }
  return -1;
}

TEST(InkMeterCups, EachCorpusDocumentHasExactlyItsColourPages) {
  std::ifstream corpus(TestDir() + "/corpus");
  std::string path, expected;
  int documents = 0;
  const auto meter = NewCupsInkMeter(TestLimits());
  while (corpus >> path >> expected) {
    ++documents;
    const uint32_t id = Print("'" + path + "'");
    ASSERT_NE(id, 0u) << path;
    std::vector<PageInk> pages;
    // One through the loopback port, as a remote queue is reached.
    const std::string queue =
        documents == 2 ? "\\\\127.0.0.1:" + std::string(std::getenv("CUPS_ENV_PORT")) + "\\Office"
                       : "Office";
    EXPECT_EQ(meter->Measure(queue, id, &pages), InkStatus::kOk) << path;
    EXPECT_EQ(Colours(pages), expected) << path;
  }
  EXPECT_EQ(documents, 14);

  // A job of two documents is measured whole, in order.
  const uint32_t both =
      Print(TestDir() + "/corpus-files/a3.ps " + TestDir() + "/corpus-files/logo.pdf");
  std::vector<PageInk> pages;
  EXPECT_EQ(meter->Measure("Office", both, &pages), InkStatus::kOk);
  EXPECT_EQ(Colours(pages), "10000000100000");

  // Nothing of the documents stays in the agent's folder.
  EXPECT_EQ(Shell("ls -A " + TestDir() + "/ink"), "");
}

TEST(InkMeterCups, MissingJobsBigDocumentsAndUnsafeFoldersAreNotMeasured) {
  std::vector<PageInk> pages;
  InkLimits limits = TestLimits();
  // CUPS purges a queue's jobs (cancel -a -x) but not a single job's.
  const uint32_t purged = Print(TestDir() + "/corpus-files/colour.pdf", "Spare");
  Shell("cancel -a -x Spare");
  char spooled[32];
  std::snprintf(spooled, sizeof spooled, "/spool/d%05u-001", purged);
  const std::string document = std::getenv("CUPS_ENV_DIR") + std::string(spooled);
  const auto until = Clock::now() + std::chrono::seconds(20);
  struct stat st;
  while (stat(document.c_str(), &st) == 0 && Clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_NE(stat(document.c_str(), &st), 0) << document;
  EXPECT_EQ(NewCupsInkMeter(limits)->Measure("Spare", purged, &pages), InkStatus::kGone);
  EXPECT_EQ(NewCupsInkMeter(limits)->Measure("Office", 99999, &pages), InkStatus::kGone);
  EXPECT_EQ(NewCupsInkMeter(limits)->Measure("\\\\x\\y\\z", 1, &pages), InkStatus::kGone);

  const uint32_t photo = Print(TestDir() + "/corpus-files/photo.ps");
  limits.maxDocumentBytes = 4096;
  EXPECT_EQ(NewCupsInkMeter(limits)->Measure("Office", photo, &pages), InkStatus::kTooLarge);
  EXPECT_TRUE(pages.empty());

  // A folder others may write to could hold what they put there.
  limits = TestLimits();
  limits.folder = TestDir() + "/open";
  mkdir(limits.folder.c_str(), 0777);
  chmod(limits.folder.c_str(), 0777);
  EXPECT_EQ(NewCupsInkMeter(limits)->Measure("Office", photo, &pages), InkStatus::kUnsupported);
  limits.folder = TestDir() + "/link";
  symlink("/tmp", limits.folder.c_str());
  EXPECT_EQ(NewCupsInkMeter(limits)->Measure("Office", photo, &pages), InkStatus::kUnsupported);
  // Root is never the measuring account.
  limits = TestLimits("root");
  EXPECT_EQ(NewCupsInkMeter(limits)->Measure("Office", photo, &pages), InkStatus::kUnsupported);
}

// A PDF whose forms each draw the next ten times, nine deep.
std::string FormBomb() {
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
      "/Resources << /XObject << /F 5 0 R >> >> >>",
      "<< /Length 8 >>\nstream\n/F Do\n\nendstream"};
  for (int level = 0; level < 9; ++level) {
    std::string draw;
    for (int i = 0; i < 10; ++i) draw += level < 8 ? "/F Do\n" : "1 0 0 rg 0 0 9 9 re f\n";
    const std::string next =
        level < 8 ? "/Resources << /XObject << /F " + std::to_string(6 + level) + " 0 R >> >> "
                  : "";
    objects.push_back("<< /Type /XObject /Subtype /Form /BBox [0 0 595 842] " + next + "/Length " +
                      std::to_string(draw.size()) + " >>\nstream\n" + draw + "endstream");
  }
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  std::ostringstream xref;
  xref << "xref\n0 " << objects.size() + 1 << "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    xref << line;
  }
  const std::size_t at = pdf.size();
  return pdf + xref.str() + "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
}

TEST(InkMeterCups, HostileDocumentsEndWithinTheBoundAndLeaveNoProcess) {
  LocalUser measurer;
  ASSERT_TRUE(measurer.Made());
  InkLimits limits = TestLimits(measurer.name);
  limits.measureMs = 3000;
  const auto meter = NewCupsInkMeter(limits);
  const std::string wide =
      "%!PS\n<< /PageSize [28346 842] >> setpagedevice 0 0 1 setrgbcolor 0 0 99 99 rectfill "
      "showpage\n";
  std::string corrupt = "%PDF-1.4\n";
  for (int i = 0; i < 20000; ++i) corrupt += static_cast<char>((i * 7919) % 251);
  const std::pair<std::string, std::string> hostile[] = {
      {"loop.ps", "%!PS\n{ 1 pop } loop\n"},
      {"wide.ps", wide},
      {"corrupt.pdf", corrupt},
      {"bomb.pdf", FormBomb()},
  };
  for (const auto& [name, text] : hostile) {
    const uint32_t id = Print(Write(name, text));
    std::vector<PageInk> pages;
    const auto start = Clock::now();
    const InkStatus status = meter->Measure("Office", id, &pages);
    const auto took = Clock::now() - start;
    EXPECT_NE(status, InkStatus::kOk) << name;
    EXPECT_TRUE(pages.empty()) << name;
    EXPECT_LT(took, std::chrono::milliseconds(limits.measureMs + 2000)) << name;
    EXPECT_TRUE(ProcessesOf(measurer.uid).empty()) << name << " left a process behind";
  }
  // The wide page, as a PDF too.
  Write("wide.ps", wide);
  Shell("ps2pdf " + TestDir() + "/wide.ps " + TestDir() + "/wide.pdf");
  std::vector<PageInk> pages;
  EXPECT_EQ(meter->Measure("Office", Print(TestDir() + "/wide.pdf"), &pages), InkStatus::kBound);
}

TEST(InkMeterCups, AnEndlessDocumentIsMeasuredByTheUnprivilegedAccount) {
  LocalUser measurer;
  ASSERT_TRUE(measurer.Made());
  InkLimits limits = TestLimits(measurer.name);
  limits.measureMs = 3000;
  const auto meter = NewCupsInkMeter(limits);
  const uint32_t id = Print(Write("endless.ps", "%!PS\n{ 1 pop } loop\n"));
  auto measured = std::async(std::launch::async, [&] {
    std::vector<PageInk> pages;
    return meter->Measure("Office", id, &pages);
  });
  // Ghostscript as the account, and no process of ours runs it as root.
  std::vector<std::pair<int, std::string>> running;
  const auto until = Clock::now() + std::chrono::seconds(limits.measureMs / 1000);
  while (running.empty() && Clock::now() < until) {
    running = ProcessesOf(measurer.uid);
    if (running.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(running.size(), 1u);
  EXPECT_NE(running[0].second.find("gs"), std::string::npos) << running[0].second;
  EXPECT_EQ(RealUid(running[0].first), static_cast<long>(measurer.uid));
  for (const auto& [pid, exe] : ProcessesOf(0)) {
    if (exe == running[0].second) ADD_FAILURE() << "Ghostscript runs as root: " << pid;
  }
  EXPECT_EQ(measured.get(), InkStatus::kBound);
  EXPECT_TRUE(ProcessesOf(measurer.uid).empty());
}

// The packaged service is root without capabilities: it cannot change
// users, and must then measure nothing rather than measure as root.
TEST(InkMeterCups, ARootThatCannotChangeUsersMeasuresNothing) {
  const uint32_t id = Print(TestDir() + "/corpus-files/colour.ps");
  const pid_t child = fork();
  if (child == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    if (syscall(SYS_capget, &header, caps) != 0) _exit(90);
    for (const int cap : {CAP_SETUID, CAP_SETGID}) {
      caps[cap / 32].effective &= ~(1u << (cap % 32));
      caps[cap / 32].permitted &= ~(1u << (cap % 32));
    }
    if (syscall(SYS_capset, &header, caps) != 0) _exit(91);
    std::vector<PageInk> pages;
    _exit(static_cast<int>(NewCupsInkMeter(TestLimits())->Measure("Office", id, &pages)));
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(InkStatus::kUnsupported));
}

TEST(InkMeterCups, ADocumentReadsNoFileButItself) {
  // Root's alone, and one anybody may read: -dSAFER alone keeps it out.
  const std::string secret = Write("secret", "root's own"), open = Write("open", "anyone's");
  chmod(secret.c_str(), 0600);
  std::string ps = "%!PS\n";
  for (const std::string& path : {secret, open, std::string("/etc/shadow")}) {
    ps += "{ (" + path +
          ") (r) file 99 string readstring pop pop } stopped "
          "{ 0 setgray } { 1 0 0 setrgbcolor } ifelse 0 0 300 300 rectfill showpage\n";
  }
  std::vector<PageInk> pages;
  EXPECT_EQ(NewCupsInkMeter(TestLimits())->Measure("Office", Print(Write("peek.ps", ps)), &pages),
            InkStatus::kOk);
  EXPECT_EQ(Colours(pages), "000");
}

TEST(InkMeterCups, OnlyInkCoveragesOwnLinesAreRead) {
  std::vector<PageInk> pages;
  ASSERT_TRUE(
      ParseInkCoverage(" 0.00000  2.02647  2.02647  0.00000 CMYK OK\n"
                       "100.00000 12.5 12.5 17.9 CMYK OK\n",
                       &pages));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_DOUBLE_EQ(pages[0].magenta, 0.0202647);
  EXPECT_DOUBLE_EQ(pages[1].cyan, 1.0);
  for (const char* bad : {"", "\n", "0 0 0 0 CMYK\n", "0 0 0 0 CMYK OK extra\n",
                          "0 0 0 x CMYK OK\n", "0 0 0 101 CMYK OK\n", "-1 0 0 0 CMYK OK\n",
                          "nan 0 0 0 CMYK OK\n", "0 0 0 0 CMYK OK\nError: /undefined\n"}) {
    EXPECT_FALSE(ParseInkCoverage(bad, &pages)) << bad;
  }
}

}  // namespace
}  // namespace pelko
