#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace pelorin::platform {

class Value;

// The kinds of a property list. Keys of a dictionary are texts; the map keeps
// them in byte order, which is also the order in which files are written.
using Dictionary = std::map<std::string, Value>;
using Array = std::vector<Value>;
using Data = std::vector<std::uint8_t>;

// A point in time as property lists store it: seconds since 2001-01-01 00:00 UTC.
struct Date {
  double secondsSince2001 = 0;
  friend bool operator==(const Date&, const Date&) = default;
};

// One property-list value. Readings of a stored value follow the phone's
// semantics so that a settings or rules file edited by hand behaves as it
// would there: see integerReading() and boolReading().
class Value {
 public:
  enum class Kind { kDictionary, kArray, kString, kInteger, kReal, kBoolean, kData, kDate };

  Value() : storage_(std::string()) {}  // the empty text
  Value(Dictionary v) : storage_(std::move(v)) {}
  Value(Array v) : storage_(std::move(v)) {}
  Value(std::string v) : storage_(std::move(v)) {}
  Value(const char* v) : storage_(std::string(v)) {}
  Value(std::int64_t v) : storage_(v) {}
  Value(int v) : storage_(std::int64_t{v}) {}
  Value(std::uint32_t v) : storage_(std::int64_t{v}) {}
  Value(double v) : storage_(v) {}
  Value(bool v) : storage_(v) {}
  Value(Data v) : storage_(std::move(v)) {}
  Value(Date v) : storage_(v) {}

  Kind kind() const { return static_cast<Kind>(storage_.index()); }

  // Typed views: the value when it is of that kind, otherwise nullptr. The
  // pointer stays valid as long as this Value is neither changed nor destroyed.
  const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&storage_); }
  Dictionary* asDictionary() { return std::get_if<Dictionary>(&storage_); }
  const Array* asArray() const { return std::get_if<Array>(&storage_); }
  const std::string* asString() const { return std::get_if<std::string>(&storage_); }
  const std::int64_t* asInteger() const { return std::get_if<std::int64_t>(&storage_); }
  const double* asReal() const { return std::get_if<double>(&storage_); }
  const bool* asBoolean() const { return std::get_if<bool>(&storage_); }
  const Data* asData() const { return std::get_if<Data>(&storage_); }
  const Date* asDate() const { return std::get_if<Date>(&storage_); }

  // Integer reading: integers as themselves, reals truncated (saturating),
  // booleans as 0 or 1; a text reads as its leading decimal number after
  // blanks and an optional sign ("12abc" is 12, "abc" is 0), saturating; any
  // other kind reads as 0.
  std::int64_t integerReading() const;

  // The integer reading narrowed to 32 bits, saturating at the limits.
  std::int32_t int32Reading() const;

  // Boolean reading: numbers are true when non-zero; a text is true when,
  // after blanks, an optional sign and leading zeros, the next character is
  // Y, y, T, t or 1-9; any other kind is false.
  bool boolReading() const;

  // Foundation-style rendering used in log lines: texts bare or quoted,
  // arrays as "( ... )" and dictionaries as "{ key = value; }", nested with
  // four spaces per level.
  std::string description() const;

  friend bool operator==(const Value&, const Value&) = default;

 private:
  // The order of the alternatives matches Kind.
  std::variant<Dictionary, Array, std::string, std::int64_t, double, bool, Data, Date> storage_;
};

// Lets test frameworks print values by their description.
void PrintTo(const Value& value, std::ostream* out);

// Descriptions of plain collections of texts, rendered as the phone renders
// an array, a set and a dictionary of strings.
std::string describeTexts(const std::vector<std::string>& texts);
std::string describeTextSet(const std::vector<std::string>& texts);
std::string describeTextMap(const std::map<std::string, std::string>& map);

}  // namespace pelorin::platform
