#include "platform/linux/property_list_guard.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

namespace pelorin::platform {
namespace {

// XML: no NUL byte (never valid in XML), no reference outside the sections
// below to an entity other than the predefined ones (libplist refuses them,
// but a reader that expanded them could build markup from them) and no deeper
// nesting than allowed.
//
// The depth is counted conservatively, so that no construct can hide real
// nesting: every "<array" or "<dict" that opens a tag counts, wherever it
// stands, while a closing tag lowers the count only where it begins a tag of
// its own (not inside a comment, CDATA section, processing instruction,
// declaration or the attributes of another tag), and never below zero. Each
// of those sections is taken to end as late as any reading of it could end
// it (libplist, for one, skips '>' inside double quotes in tags and
// declarations). Ordinary files count exactly; odd ones can only be refused
// more.
class XmlDepthScan {
 public:
  explicit XmlDepthScan(std::string_view text) : text_(text) {}

  bool passes() {
    if (text_.find('\0') != std::string_view::npos) return false;
    int depth = 0;
    std::size_t sectionEnd = 0;  // closing tags before this do not count
    for (std::size_t at = text_.find_first_of("<&"); at != std::string_view::npos;
         at = text_.find_first_of("<&", at + 1)) {
      const bool inSection = at < sectionEnd;
      if (text_[at] == '&') {
        if (!inSection && !referenceIsPredefined(at)) return false;
        continue;
      }
      if (opensCollection(at)) {
        if (++depth > kMaxPropertyListDepth + 1) return false;
      } else if (!inSection && closesCollection(at) && depth > 0) {
        --depth;
      }
      if (!inSection) sectionEnd = sectionEndFrom(at);
    }
    return true;
  }

 private:
  static constexpr std::size_t kLongestTag = 256;

  bool startsWith(std::size_t at, std::string_view prefix) const {
    return text_.substr(at, prefix.size()) == prefix;
  }

  // Just past the first `terminator` at or after `from`; the end when none.
  std::size_t pastFirst(std::size_t from, std::string_view terminator) const {
    const std::size_t found = text_.find(terminator, std::min(from, text_.size()));
    return found == std::string_view::npos ? text_.size() : found + terminator.size();
  }

  // Just past the '>' that ends a tag or declaration whose body starts at
  // `from`: the latest of the first '>' outside quotes of each kind that a
  // reader might honour (none, double, single, both).
  std::size_t pastTagEnd(std::size_t from) const {
    std::size_t latest = 0;
    for (std::string_view quotes : {"", "\"", "'", "\"'"}) {
      char open = 0;
      std::size_t end = text_.size();
      for (std::size_t i = from; i < text_.size(); ++i) {
        const char c = text_[i];
        if (open != 0) {
          if (c == open) open = 0;
        } else if (quotes.find(c) != std::string_view::npos) {
          open = c;
        } else if (c == '>') {
          end = i + 1;
          break;
        }
      }
      latest = std::max(latest, end);
      if (latest == text_.size()) break;
    }
    return latest;
  }

  // Where the comment, CDATA section, processing instruction, declaration or
  // tag that begins at `at` (a '<') ends at the latest.
  std::size_t sectionEndFrom(std::size_t at) const {
    if (startsWith(at, "<!--")) return pastFirst(at + 4, "-->");
    if (startsWith(at, "<![CDATA[")) return pastFirst(at + 9, "]]>");
    if (startsWith(at, "<?")) return pastFirst(at + 2, "?>");
    const std::size_t end = pastTagEnd(at + 1);
    if (!startsWith(at, "<!")) return end;
    // A declaration such as DOCTYPE with an internal subset ends at "]>".
    const std::size_t subset = text_.substr(0, end).find('[', at + 2);
    if (subset == std::string_view::npos) return end;
    return std::max(end, pastFirst(subset + 1, "]>"));
  }

  // "<array" or "<dict" (blanks allowed after '<'), unless the tag plainly
  // closes itself ("<array/>"): no quote before a '>' that follows a '/'
  // within a short distance. When unsure, the tag opens.
  bool opensCollection(std::size_t at) const {
    std::size_t name = at + 1;
    while (name < text_.size() && isBlank(text_[name])) ++name;
    std::size_t afterName = 0;
    if (startsWith(name, "array")) {
      afterName = name + 5;
    } else if (startsWith(name, "dict")) {
      afterName = name + 4;
    } else {
      return false;
    }
    const std::size_t limit = std::min(text_.size(), afterName + kLongestTag);
    for (std::size_t i = afterName; i < limit; ++i) {
      if (text_[i] == '"' || text_[i] == '\'' || text_[i] == '<') return true;
      if (text_[i] == '>') return text_[i - 1] != '/';
    }
    return true;
  }

  // Exactly "</array" or "</dict": anything looser is not taken for a close.
  bool closesCollection(std::size_t at) const {
    return startsWith(at, "</array") || startsWith(at, "</dict");
  }

  bool referenceIsPredefined(std::size_t at) const {
    const std::string_view rest = text_.substr(at + 1);
    if (rest.starts_with('#')) return true;  // a character reference: only text
    for (std::string_view name : {"amp;", "lt;", "gt;", "quot;", "apos;"}) {
      if (rest.starts_with(name)) return true;
    }
    // A bare '&' is no reference; "&name;" is one to a declared entity. Names
    // hold no '&', so the scans of all references together stay linear.
    std::size_t i = 0;
    while (i < rest.size() &&
           (std::isalnum(static_cast<unsigned char>(rest[i])) || rest[i] == '_' || rest[i] == ':' ||
            rest[i] == '-' || rest[i] == '.' || static_cast<unsigned char>(rest[i]) >= 0x80)) {
      ++i;
    }
    return i == 0 || i >= rest.size() || rest[i] != ';';
  }

  static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  std::string_view text_;
};

// The structure of a binary list as far as libplist follows it: every object
// reachable from the top lies inside the file and is of a known kind, strings
// hold no NUL, references stay in range and form no cycle, and the tree they
// unfold into stays within the depth and node limits.
class BinaryListCheck {
 public:
  explicit BinaryListCheck(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool passes() {
    if (!readTrailer()) return false;
    state_.assign(objectCount_, State::kUnvisited);
    height_.assign(objectCount_, 0);
    nodes_.assign(objectCount_, 0);
    return walkFrom(top_) && height_[top_] <= kMaxPropertyListDepth + 1 &&
           nodes_[top_] <= kMaxPropertyListNodes;
  }

 private:
  static constexpr std::uint64_t kHeaderSize = 8;
  static constexpr std::uint64_t kTrailerSize = 32;

  enum class State : std::uint8_t { kUnvisited, kVisiting, kDone };

  // An object's kind and payload; `count` is the length of a string or data,
  // or the number of references of a collection.
  struct Object {
    std::uint8_t kind = 0;
    std::uint64_t payload = 0;
    std::uint64_t count = 0;
  };

  struct Frame {
    std::uint64_t index;
    Object object;
    std::uint64_t next = 0;  // the next reference to follow
  };

  std::uint64_t bigEndian(std::uint64_t offset, std::uint64_t width) const {
    std::uint64_t value = 0;
    for (std::uint64_t i = 0; i < width; ++i) value = (value << 8) | bytes_[offset + i];
    return value;
  }

  // True when `count` items of `unit` bytes from `offset` lie before the trailer.
  bool fits(std::uint64_t offset, std::uint64_t count, std::uint64_t unit) const {
    return offset <= objectsEnd_ && count <= (objectsEnd_ - offset) / unit;
  }

  bool readTrailer() {
    if (bytes_.size() < kHeaderSize + kTrailerSize) return false;
    objectsEnd_ = bytes_.size() - kTrailerSize;
    offsetSize_ = bytes_[objectsEnd_ + 6];
    referenceSize_ = bytes_[objectsEnd_ + 7];
    objectCount_ = bigEndian(objectsEnd_ + 8, 8);
    top_ = bigEndian(objectsEnd_ + 16, 8);
    offsetTable_ = bigEndian(objectsEnd_ + 24, 8);
    const bool widthsValid =
        offsetSize_ >= 1 && offsetSize_ <= 8 && referenceSize_ >= 1 && referenceSize_ <= 8;
    return widthsValid && top_ < objectCount_ && offsetTable_ >= kHeaderSize &&
           fits(offsetTable_, objectCount_, offsetSize_);
  }

  // A length nibble of 15 means the length follows as an integer object.
  bool readCount(std::uint8_t nibble, Object& object) const {
    object.count = nibble;
    if (nibble != 0x0F) return true;
    if (!fits(object.payload, 1, 1) || (bytes_[object.payload] & 0xF0) != 0x10) return false;
    const std::uint64_t width = std::uint64_t{1} << (bytes_[object.payload] & 0x0F);
    if (width > 8 || !fits(object.payload + 1, width, 1)) return false;
    object.count = bigEndian(object.payload + 1, width);
    object.payload += 1 + width;
    return true;
  }

  bool hasNoNul(const Object& object, std::uint64_t unit) const {
    for (std::uint64_t at = object.payload; at < object.payload + object.count * unit; at += unit) {
      if (bytes_[at] == 0 && (unit == 1 || bytes_[at + 1] == 0)) return false;
    }
    return true;
  }

  // Reads object `index`; nullopt when it is malformed or of an unknown kind.
  std::optional<Object> readObject(std::uint64_t index) const {
    const std::uint64_t offset = bigEndian(offsetTable_ + index * offsetSize_, offsetSize_);
    if (offset < kHeaderSize || offset >= objectsEnd_) return std::nullopt;
    const auto nibble = static_cast<std::uint8_t>(bytes_[offset] & 0x0F);
    Object object{static_cast<std::uint8_t>(bytes_[offset] >> 4), offset + 1, 0};
    bool valid = false;
    switch (object.kind) {
      case 0x0:  // null, booleans, fill
        valid = nibble == 0x0 || nibble == 0x8 || nibble == 0x9 || nibble == 0xF;
        break;
      case 0x1:  // integer
      case 0x2:  // real
        valid = nibble <= 4 && fits(object.payload, std::uint64_t{1} << nibble, 1);
        break;
      case 0x3:  // date
        valid = nibble == 3 && fits(object.payload, 8, 1);
        break;
      case 0x8:  // uid
        valid = fits(object.payload, nibble + 1u, 1);
        break;
      case 0x4:  // data
      case 0x5:  // ASCII string
        valid = readCount(nibble, object) && fits(object.payload, object.count, 1) &&
                (object.kind == 0x4 || hasNoNul(object, 1));
        break;
      case 0x6:  // UTF-16 string
        valid = readCount(nibble, object) && fits(object.payload, object.count, 2) &&
                hasNoNul(object, 2);
        break;
      case 0xA:  // array
      case 0xC:  // set
      case 0xD:  // dictionary: the key references, then the value references
        valid = readCount(nibble, object) && object.count <= objectsEnd_;
        if (object.kind == 0xD) object.count *= 2;
        valid = valid && fits(object.payload, object.count, referenceSize_);
        break;
      default:
        break;
    }
    if (!valid) return std::nullopt;
    return object;
  }

  bool enter(std::uint64_t index, std::vector<Frame>& stack) {
    const auto object = readObject(index);
    if (!object) return false;
    const bool collection = object->kind == 0xA || object->kind == 0xC || object->kind == 0xD;
    state_[index] = State::kVisiting;
    stack.push_back({index, *object});
    if (!collection) stack.back().object.count = 0;  // nothing to follow
    return true;
  }

  // Depth and size of a finished object from those of its references.
  bool leave(const Frame& frame) {
    int height = 0;
    std::uint64_t nodes = 1;
    for (std::uint64_t i = 0; i < frame.object.count; ++i) {
      const std::uint64_t child =
          bigEndian(frame.object.payload + i * referenceSize_, referenceSize_);
      height = std::max(height, height_[child]);
      nodes = std::min(nodes + nodes_[child], kMaxPropertyListNodes + 1);
    }
    height_[frame.index] = height + 1;
    nodes_[frame.index] = nodes;
    state_[frame.index] = State::kDone;
    return height_[frame.index] <= kMaxPropertyListDepth + 1 && nodes <= kMaxPropertyListNodes;
  }

  // Depth first without recursion, so hostile nesting cannot exhaust the stack.
  bool walkFrom(std::uint64_t root) {
    std::vector<Frame> stack;
    if (!enter(root, stack)) return false;
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.next == frame.object.count) {
        if (!leave(frame)) return false;
        stack.pop_back();
        continue;
      }
      const std::uint64_t child =
          bigEndian(frame.object.payload + frame.next++ * referenceSize_, referenceSize_);
      if (child >= objectCount_ || state_[child] == State::kVisiting) return false;
      if (state_[child] == State::kUnvisited && !enter(child, stack)) return false;
    }
    return true;
  }

  std::span<const std::uint8_t> bytes_;
  std::uint64_t objectsEnd_ = 0;  // where the trailer begins
  std::uint64_t offsetSize_ = 0;
  std::uint64_t referenceSize_ = 0;
  std::uint64_t objectCount_ = 0;
  std::uint64_t top_ = 0;
  std::uint64_t offsetTable_ = 0;
  std::vector<State> state_;
  std::vector<int> height_;
  std::vector<std::uint64_t> nodes_;
};

}  // namespace

bool isSafeForLibplist(std::span<const std::uint8_t> bytes) {
  const auto* data = reinterpret_cast<const char*>(bytes.data());
  if (plist_is_binary(data, static_cast<uint32_t>(bytes.size()))) {
    return BinaryListCheck(bytes).passes();
  }
  return XmlDepthScan(std::string_view(data, bytes.size())).passes();
}

}  // namespace pelorin::platform
