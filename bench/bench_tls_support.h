// bench/bench_tls_support.h - https for the benchmarks: a test certificate
// authority of the benchmark's own and a certificate for 127.0.0.1 that it
// signs (made with openssl in a scratch folder), for the Nginx of
// bench_update_support.h to serve over TLS. Clients trust the authority
// through its file (CURL_CA_BUNDLE for us and for newsboat, curl --cacert).
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_update_support.h"

namespace bw::bench {

// Makes dir/ca.pem and dir/server.pem with their keys; false when openssl
// failed.
inline bool makeTestCertificates(const fs::path& dir) {
  fs::create_directories(dir);
  const std::string d = dir.string();
  std::ofstream(dir / "server.ext") << "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n";
  const std::vector<std::vector<std::string>> steps = {
      {"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "/ca.key", "-out",
       d + "/ca.pem", "-days", "1", "-subj", "/CN=Brindlework benchmark CA"},
      {"/usr/bin/openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "/server.key", "-out",
       d + "/server.csr", "-subj", "/CN=127.0.0.1"},
      {"/usr/bin/openssl", "x509", "-req", "-in", d + "/server.csr", "-CA", d + "/ca.pem", "-CAkey", d + "/ca.key",
       "-CAcreateserial", "-out", d + "/server.pem", "-days", "1", "-extfile", d + "/server.ext"},
  };
  for (const std::vector<std::string>& step : steps)
    if (runChild(step, environmentWith({})).status != 0) return false;
  return true;
}

}  // namespace bw::bench
