#include "sendrik/trust_roots.h"

#include <windows.h>
#include <wincrypt.h>

namespace pelko::mail {

std::string TrustedRootsPem() {
  std::string pem;
  for (const char* name : {"ROOT", "AuthRoot"}) {
    HCERTSTORE store = CertOpenStore(
        CERT_STORE_PROV_SYSTEM_A, 0, 0,
        CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG,
        name);
    if (!store) continue;
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert;
         cert = CertEnumCertificatesInStore(store, cert)) {
      DWORD size = 0;
      const DWORD how = CRYPT_STRING_BASE64HEADER;
      if (!CryptBinaryToStringA(cert->pbCertEncoded, cert->cbCertEncoded, how, nullptr, &size)) {
        continue;
      }
      std::string text(size, '\0');
      if (CryptBinaryToStringA(cert->pbCertEncoded, cert->cbCertEncoded, how, text.data(), &size)) {
        text.resize(size);
        pem += text;
      }
    }
    CertCloseStore(store, 0);
  }
  return pem;
}

}  // namespace pelko::mail
