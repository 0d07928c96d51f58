#pragma once

#include <utility>
#include <vector>

#include "platform/text.h"
#include "platform/value.h"

namespace pelorin::platform {

// The MIME body of a stored mail, as the store hands it to whoever sets or
// fetches it. Immutable once built.
class MFMimeBody {
 public:
  // One HTML part: its declared character set (absent when the part names
  // none) and its bytes after the transfer encoding was undone.
  struct HTMLPart {
    Text preferredCharacterSet;
    Data htmlData;
  };

  explicit MFMimeBody(std::vector<HTMLPart> htmlContent) : htmlContent_(std::move(htmlContent)) {}

  // The body's HTML parts in the order they appear; empty when it has none.
  const std::vector<HTMLPart>& htmlContent() const { return htmlContent_; }

 private:
  const std::vector<HTMLPart> htmlContent_;
};

}  // namespace pelorin::platform
