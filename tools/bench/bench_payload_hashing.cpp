// Times the payload validation's own hashing, corvel::payloadInventory, over
// one directory tree; tools/bench/bench-payload-hashing runs it.
//
//   bench_payload_hashing ROOT DIGESTS_OUT
//
// DIGESTS_OUT receives one "DIGEST  RELATIVE-PATH" line per regular file, in
// byte order of the paths (what sha256sum prints when run from ROOT). Standard
// output receives one line:
//
//   files=N bytes=N seconds=S max_rss_kib=N
//
// `seconds` covers the payloadInventory call alone; `max_rss_kib` is the
// process's peak resident set (getrusage), taken right after it, so it
// includes the program, libcrypto and whatever the hashing held.

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

#include "verify/payload_validation.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: bench_payload_hashing ROOT DIGESTS_OUT\n";
    return 2;
  }
  const std::string root = argv[1];
  try {
    const auto start = std::chrono::steady_clock::now();
    const std::map<std::string, std::string> inventory = corvel::payloadInventory(root);
    const auto stop = std::chrono::steady_clock::now();

    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) throw std::runtime_error("getrusage failed");

    std::uintmax_t bytes = 0;
    std::ofstream digests(argv[2], std::ios::binary | std::ios::trunc);
    for (const auto& [relativePath, digest] : inventory) {
      bytes += std::filesystem::file_size(root + "/" + relativePath);
      digests << digest << "  " << relativePath << '\n';
    }
    digests.close();
    if (!digests) throw std::runtime_error(std::string("cannot write ") + argv[2]);

    const std::chrono::duration<double> seconds = stop - start;
    std::cout << "files=" << inventory.size() << " bytes=" << bytes << " seconds=" << seconds.count()
              << " max_rss_kib=" << usage.ru_maxrss << '\n';
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "bench_payload_hashing: " << error.what() << '\n';
    return 1;
  }
}
