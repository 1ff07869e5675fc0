#pragma once

#include <string>

namespace quavelle {

// The report of a run: one row for each link re-pointed.
class ResultsList {
 public:
  virtual ~ResultsList() = default;
  virtual void Clear() = 0;
  virtual void AppendRow(const std::u16string& oldPath, const std::u16string& newPath,
                         const std::u16string& containerName) = 0;
};

}  // namespace quavelle
