#pragma once
// Writes numbered PDF objects (object i + 1 is objects[i], the catalogue first) as a whole
// file with its cross-reference table.

#include <string>
#include <vector>

namespace testsupport {

inline std::string pdfFromObjects(const std::vector<std::string>& objects) {
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    const std::string num = std::to_string(off);
    out += std::string(10 - num.size(), '0') + num + " 00000 n \n";
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) +
         "\n%%EOF\n";
  return out;
}

}  // namespace testsupport
