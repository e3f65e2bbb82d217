#pragma once
// Small WordPerfect 5 documents for the tests: plain paragraphs, optionally protected by a
// password (the format's own scheme: the bytes after the header XORed with the upper-case
// password and a rising mask, the password's checksum in the header).

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

inline std::string wp5Document(const std::vector<std::string>& paragraphs, const std::string& password = {}) {
  std::string body;
  for (const std::string& p : paragraphs) body += p + '\x0a';
  std::string key;
  for (char c : password) key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  uint16_t checksum = 0;
  for (unsigned char c : key) checksum = static_cast<uint16_t>(((checksum >> 1) | (checksum << 15)) ^ (c << 8));
  if (!key.empty()) {
    for (size_t i = 0; i < body.size(); ++i) {
      const auto mask = static_cast<unsigned char>(key.size() + 1 + i);
      body[i] = static_cast<char>(static_cast<unsigned char>(body[i]) ^ (static_cast<unsigned char>(key[i % key.size()]) ^ mask));
    }
  }
  std::string header("\xffWPC", 4);
  header += std::string("\x10\x00\x00\x00", 4);             // the text starts after the header
  header += std::string("\x01\x0a\x00\x00", 4);             // WordPerfect, document, version 5
  header += static_cast<char>(checksum >> 8);
  header += static_cast<char>(checksum & 0xff);
  header += std::string(2, '\0');
  return header + body;
}

}  // namespace testsupport
