#include "sendrik/smtp_send.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "sendrik/trust_roots.h"

namespace pelko::mail {

namespace {

// The attachment as base64 lines of 76 characters, made as libcurl reads
// them: libcurl's own encoder hands on a few hundred bytes at a time, and
// as many small writes make a large log crawl where sends are dear (Wine).
class Base64Lines {
 public:
  explicit Base64Lines(std::string_view data) : data(data) {}

  curl_off_t Size() const {
    const std::size_t full = data.size() / kLineInput;
    const std::size_t rest = data.size() % kLineInput;
    return static_cast<curl_off_t>(full * (kLineOutput + 2) + (rest ? (rest + 2) / 3 * 4 + 2 : 0));
  }

  std::size_t Read(char* out, std::size_t room) {
    std::size_t written = 0;
    while (written < room) {
      if (pendingAt == pending.size()) {
        if (at == data.size()) break;
        EncodeLine();
      }
      const std::size_t n = std::min(room - written, pending.size() - pendingAt);
      std::memcpy(out + written, pending.data() + pendingAt, n);
      pendingAt += n;
      written += n;
    }
    return written;
  }

  void Rewind() {
    at = 0;
    pending.clear();
    pendingAt = 0;
  }

 private:
  static constexpr std::size_t kLineInput = 57;
  static constexpr std::size_t kLineOutput = 76;

  void EncodeLine() {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t n = std::min(kLineInput, data.size() - at);
    const auto* in = reinterpret_cast<const unsigned char*>(data.data() + at);
    pending.clear();
    pendingAt = 0;
    for (std::size_t i = 0; i < n; i += 3) {
      const uint32_t b =
          in[i] << 16 | (i + 1 < n ? in[i + 1] << 8 : 0) | (i + 2 < n ? in[i + 2] : 0);
      pending += kDigits[b >> 18 & 63];
      pending += kDigits[b >> 12 & 63];
      pending += i + 1 < n ? kDigits[b >> 6 & 63] : '=';
      pending += i + 2 < n ? kDigits[b & 63] : '=';
    }
    pending += "\r\n";
    at += n;
  }

  std::string_view data;
  std::size_t at = 0;
  std::string pending;
  std::size_t pendingAt = 0;
};

size_t ReadAttachment(char* buffer, size_t size, size_t items, void* arg) {
  return static_cast<Base64Lines*>(arg)->Read(buffer, size * items);
}

int SeekAttachment(void* arg, curl_off_t offset, int origin) {
  if (origin != SEEK_SET || offset != 0) return CURL_SEEKFUNC_CANTSEEK;
  static_cast<Base64Lines*>(arg)->Rewind();
  return CURL_SEEKFUNC_OK;
}

#ifdef _WIN32
// Windows sizes the send buffer by the link's measured backlog; Wine keeps
// it small, and a large log then waits on every few kilobytes.
int LargeSendBuffer(void*, curl_socket_t socket, curlsocktype) {
  const int size = 4 << 20;
  setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
  return CURL_SOCKOPT_OK;
}
#endif

// The server's last refusal (a 4xx or 5xx reply), to say in the log what it
// refused.
int KeepServerReply(CURL*, curl_infotype type, char* data, size_t size, void* arg) {
  if (type != CURLINFO_HEADER_IN) return 0;
  std::string line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (!line.empty() && (line[0] == '4' || line[0] == '5')) {
    *static_cast<std::string*>(arg) = line.substr(0, 200);
  }
  return 0;
}

struct CurlFree {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
  void operator()(curl_mime* m) const { curl_mime_free(m); }
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

curl_slist* Append(curl_slist* list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list, line.c_str());
  return grown ? grown : list;
}

std::string Why(CURLcode code, const char* detail, const std::string& reply,
                const MailSettings& s) {
  const std::string where = s.server + ":" + std::to_string(s.port);
  const std::string timeout = std::to_string(s.timeoutSeconds) + " s";
  std::string why;
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      why = "cannot find the server " + s.server;
      break;
    case CURLE_COULDNT_CONNECT:
      why = "cannot connect to " + where;
      break;
    case CURLE_OPERATION_TIMEDOUT:
      why = "the server " + where + " stopped answering (no progress within " + timeout + ")";
      break;
    case CURLE_LOGIN_DENIED:
      why = "the server refused the login of " + s.user;
      break;
    case CURLE_USE_SSL_FAILED:
      why = "the server " + where + " offers no STARTTLS, which MailSecurity 1 requires";
      break;
    case CURLE_PEER_FAILED_VERIFICATION:
      why = "the certificate of " + where +
            " is not trusted or names another host (MailCaFile can name a private CA)";
      break;
    case CURLE_SSL_CACERT_BADFILE:
      why = "the CA file '" + s.caFile + "' cannot be read";
      break;
    case CURLE_SSL_CONNECT_ERROR:
      why = "the TLS handshake with " + where + " failed";
      break;
    default:
      why = "sending through " + where + " failed";
      break;
  }
  if (detail && *detail) why += std::string(": ") + detail;
  if (!reply.empty() && code != CURLE_OPERATION_TIMEDOUT) why += "; the server said: " + reply;
  return why;
}

// What an administrator mends differs by kind: the way to the server, the
// login, TLS, or what the server would take.
EventKind KindOf(CURLcode code, const std::string& reply) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
      return EventKind::kMailServerUnreachable;
    case CURLE_LOGIN_DENIED:
      return EventKind::kMailLoginRefused;
    case CURLE_USE_SSL_FAILED:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CONNECT_ERROR:
      return EventKind::kMailTlsFailed;
    default:
      return reply.starts_with('5') ? EventKind::kMailRejected : EventKind::kMailNotSent;
  }
}

}  // namespace

namespace {

std::string ServerUrl(const MailSettings& s) {
  return std::string(s.security == Security::kImplicitTls ? "smtps://" : "smtp://") + s.server +
         ":" + std::to_string(s.port);
}

}  // namespace

std::string ServerText(const MailSettings& s) {
  return ServerUrl(s) + " (" + SecurityName(s.security) + ")";
}

SendResult SendMail(const MailSettings& s, const MailMessage& message,
                    std::string_view attachment) {
  std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
  if (!curl) return {false, "libcurl cannot start"};
  CURL* c = curl.get();
  const std::string url = ServerUrl(s);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(c, CURLOPT_USE_SSL,
                   s.security == Security::kPlain               ? CURLUSESSL_NONE
                   : s.security == Security::kStartTlsIfOffered ? CURLUSESSL_TRY
                                                                : CURLUSESSL_ALL);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  const std::string roots = s.caFile.empty() ? TrustedRootsPem() : "";
  if (!s.caFile.empty()) {
    curl_easy_setopt(c, CURLOPT_CAINFO, s.caFile.c_str());
  } else if (!roots.empty()) {
    curl_blob blob{const_cast<char*>(roots.data()), roots.size(), CURL_BLOB_NOCOPY};
    curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
  }
#ifdef _WIN32
  // Schannel also asks whether the certificate was revoked; a private CA
  // publishes no list, and a list server out of reach must not stop the
  // mail. A certificate known to be revoked is still refused.
  curl_easy_setopt(c, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
  curl_easy_setopt(c, CURLOPT_SOCKOPTFUNCTION, LargeSendBuffer);
#endif
  if (!s.user.empty()) {
    curl_easy_setopt(c, CURLOPT_USERNAME, s.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, s.password.c_str());
  }
  // Every wait is bounded: connecting, each reply, a transfer that stalls,
  // and the whole.
  const long timeout = static_cast<long>(s.timeoutSeconds);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout);
  curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, timeout);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, kLongestSendSeconds);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  // A global log runs to tens of megabytes: large writes, fewer turns.
  curl_easy_setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, 1L << 20);

  curl_easy_setopt(c, CURLOPT_MAIL_FROM, ("<" + s.from + ">").c_str());
  std::unique_ptr<curl_slist, CurlFree> recipients;
  curl_slist* list = nullptr;
  for (const std::string& to : s.to) list = Append(list, "<" + to + ">");
  recipients.reset(list);
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());

  list = nullptr;
  for (const std::string& header : message.headers) list = Append(list, header);
  std::unique_ptr<curl_slist, CurlFree> headers(list);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());

  // multipart/mixed: the report (text and HTML alternatives), then the file.
  std::unique_ptr<curl_mime, CurlFree> mime(curl_mime_init(c));
  curl_mime* alternatives = curl_mime_init(c);
  curl_mimepart* part = curl_mime_addpart(alternatives);
  curl_mime_data(part, message.text.data(), message.text.size());
  const std::string plainType = "text/plain; charset=" + message.charset;
  const std::string htmlType = "text/html; charset=" + message.charset;
  curl_mime_type(part, plainType.c_str());
  curl_mime_encoder(part, "quoted-printable");
  part = curl_mime_addpart(alternatives);
  curl_mime_data(part, message.html.data(), message.html.size());
  curl_mime_type(part, htmlType.c_str());
  curl_mime_encoder(part, "quoted-printable");
  part = curl_mime_addpart(mime.get());
  curl_mime_subparts(part, alternatives);
  curl_mime_type(part, "multipart/alternative");
  std::unique_ptr<curl_slist, CurlFree> inlineDisposition(
      curl_slist_append(nullptr, "Content-Disposition: inline"));
  curl_mime_headers(part, inlineDisposition.get(), 0);

  Base64Lines encoded(attachment);
  part = curl_mime_addpart(mime.get());
  curl_mime_data_cb(part, encoded.Size(), ReadAttachment, SeekAttachment, nullptr, &encoded);
  curl_mime_type(part, message.attachmentType.c_str());
  curl_mime_filename(part, message.attachmentName.c_str());
  curl_mime_headers(part, curl_slist_append(nullptr, "Content-Transfer-Encoding: base64"), 1);
  curl_easy_setopt(c, CURLOPT_MIMEPOST, mime.get());

  char detail[CURL_ERROR_SIZE] = "";
  std::string reply;
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, detail);
  curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, KeepServerReply);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, &reply);
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);

  const CURLcode code = curl_easy_perform(c);
  if (code == CURLE_OK) return {true, ""};
  return {false, Why(code, detail, reply, s), KindOf(code, reply)};
}

}  // namespace pelko::mail
